#include "platform/wx/accessible_text.h"
#include "platform/text/text_utf8.h"
#include "platform/wx/gobject_ptr.h"

#include <gtk/gtk-a11y.h>
#include <gtk/gtk.h>
#include <wx/window.h>

#include <algorithm>
#include <vector>

namespace {

// The text as assistive technologies read it: UTF-8 with LF line ends, as copied text has
// them; a lone surrogate stands as U+FFFD.
std::string ToAtkText(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        else
            utf8::AppendUtf8(out, utf16::NextCodePoint(text, i));
    }
    return out;
}

// The characters of that text before `unit` of the window's own.
int AtkOffset(std::u16string_view text, size_t unit) {
    unit = std::min(unit, text.size());
    int offset = 0;
    for (size_t i = 0; i < unit; ++i) {
        const bool joined = (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ||
                            (utf16::IsHighSurrogate(text[i]) && i + 1 < text.size() &&
                             utf16::IsLowSurrogate(text[i + 1]));
        if (!joined)
            ++offset;
    }
    return offset;
}

int Length(const std::string& text) {
    return static_cast<int>(g_utf8_strlen(text.data(), static_cast<gssize>(text.size())));
}

// The bytes of the characters [start, end) of a UTF-8 text, which has `length` characters.
std::string_view Slice(const std::string& text, int length, int start, int end) {
    start = std::clamp(start, 0, length);
    end = std::clamp(end < 0 ? length : end, start, length);
    const char* from = g_utf8_offset_to_pointer(text.data(), start);
    const char* to = g_utf8_offset_to_pointer(from, end - start);
    return std::string_view(from, to - from);
}

// The kinds of pieces a reader moves through. A piece runs from one boundary of its kind to
// the next; the box never wraps, so each line is also a paragraph.
enum class Piece {
    kChar,
    kWordStart,
    kWordEnd,
    kSentenceStart,
    kSentenceEnd,
    kLineStart,
    kLineEnd
};

std::vector<int> Boundaries(const std::string& text, int length,
                            const std::vector<PangoLogAttr>& attrs, Piece piece) {
    std::vector<int> bounds{0};
    auto add = [&bounds](int offset) {
        if (offset > bounds.back())
            bounds.push_back(offset);
    };
    if (piece == Piece::kLineStart || piece == Piece::kLineEnd) {
        int offset = 0;
        for (const char* p = text.data(); p < text.data() + text.size();
             p = g_utf8_next_char(p), ++offset) {
            if (*p == '\n')
                add(piece == Piece::kLineStart ? offset + 1 : offset);
        }
    } else {
        for (int i = 1; i < length; ++i) {
            const PangoLogAttr& a = attrs[i];
            const bool bound = piece == Piece::kChar            ? true
                               : piece == Piece::kWordStart     ? a.is_word_start
                               : piece == Piece::kWordEnd       ? a.is_word_end
                               : piece == Piece::kSentenceStart ? a.is_sentence_start
                                                                : a.is_sentence_end;
            if (bound)
                add(i);
        }
    }
    add(length);
    return bounds;
}

struct CSpan {
    int start, end;
};

// The piece at `offset`, or the one `step` pieces away. A line's end belongs to the line it
// ends; every other boundary begins the piece after it.
CSpan PieceAt(const std::vector<int>& bounds, Piece piece, int offset, int step) {
    const int last = static_cast<int>(bounds.size()) - 2;
    if (last < 0)
        return {0, 0};
    const int key = piece == Piece::kLineEnd && offset > 0 ? offset - 1 : offset;
    int index =
        static_cast<int>(std::upper_bound(bounds.begin(), bounds.end(), key) - bounds.begin()) - 1;
    index = std::clamp(index, 0, last) + step;
    if (index < 0)
        return {bounds.front(), bounds.front()};
    if (index > last)
        return {bounds.back(), bounds.back()};
    return {bounds[index], bounds[index + 1]};
}

Piece PieceOf(AtkTextBoundary boundary) {
    switch (boundary) {
    case ATK_TEXT_BOUNDARY_WORD_START:
        return Piece::kWordStart;
    case ATK_TEXT_BOUNDARY_WORD_END:
        return Piece::kWordEnd;
    case ATK_TEXT_BOUNDARY_SENTENCE_START:
        return Piece::kSentenceStart;
    case ATK_TEXT_BOUNDARY_SENTENCE_END:
        return Piece::kSentenceEnd;
    case ATK_TEXT_BOUNDARY_LINE_START:
        return Piece::kLineStart;
    case ATK_TEXT_BOUNDARY_LINE_END:
        return Piece::kLineEnd;
    default:
        return Piece::kChar;
    }
}

Piece PieceOf(AtkTextGranularity granularity) {
    switch (granularity) {
    case ATK_TEXT_GRANULARITY_WORD:
        return Piece::kWordStart;
    case ATK_TEXT_GRANULARITY_SENTENCE:
        return Piece::kSentenceStart;
    case ATK_TEXT_GRANULARITY_LINE:
    case ATK_TEXT_GRANULARITY_PARAGRAPH:
        return Piece::kLineStart;
    default:
        return Piece::kChar;
    }
}

GQuark OwnerQuark() {
    static const GQuark quark = g_quark_from_static_string("pm-accessible-text-owner");
    return quark;
}
GQuark AccessibleQuark() {
    static const GQuark quark = g_quark_from_static_string("pm-accessible-text-object");
    return quark;
}

} // namespace

struct CAccessibleText::CState {
    CState(GtkWidget* w, const IShownText& s) : widget(w), shown(s) {}

    // What assistive technologies were last told, brought up to date if nobody listened.
    const std::string& Text() {
        if (stale) {
            Take(shown.ShownText());
            stale = false;
        }
        return text;
    }
    void Take(std::u16string_view now) {
        units = now;
        text = ToAtkText(units);
        length = ::Length(text);
        attrs.clear();
    }
    std::string_view Slice(int start, int end) { return ::Slice(Text(), length, start, end); }
    int Caret() const { return AtkOffset(shown.ShownText(), shown.ShownCaret()); }
    CSpan Selection() const {
        const int anchor = AtkOffset(shown.ShownText(), shown.ShownAnchor());
        const int caret = Caret();
        return anchor == caret ? CSpan{0, 0}
                               : CSpan{std::min(anchor, caret), std::max(anchor, caret)};
    }
    CSpan Find(Piece piece, int offset, int step) {
        Text();
        const bool byLanguage =
            piece != Piece::kChar && piece != Piece::kLineStart && piece != Piece::kLineEnd;
        if (byLanguage && attrs.empty()) {
            attrs.resize(length + 1);
            pango_get_log_attrs(text.data(), static_cast<int>(text.size()), -1,
                                pango_language_get_default(), attrs.data(), length + 1);
        }
        return PieceAt(Boundaries(text, length, attrs, piece), piece, std::clamp(offset, 0, length),
                       step);
    }

    AtkObject* Create();
    bool Announce(bool bGrewAtEnd);

    GtkWidget* widget;
    const IShownText& shown;
    std::string name;
    GObjectPtr<AtkObject> accessible;
    std::u16string units; // the window's text, as told
    std::string text;     // as told
    int length = 0;
    bool stale = true;
    std::vector<PangoLogAttr> attrs; // words and sentences, found when a reader first asks
    int caret = 0;                   // as last told
    CSpan selection{0, 0};
};

namespace {

using CState = CAccessibleText::CState;

// The ATK object: the toolkit's own for a widget, with the interface of a text.
struct PmTextAccessible {
    GtkWidgetAccessible parent;
    CState* state; // null once the window has gone
};
struct PmTextAccessibleClass {
    GtkWidgetAccessibleClass parent;
};

AtkObjectClass* g_parentClass = nullptr;

CState* StateOf(gpointer object) {
    return reinterpret_cast<PmTextAccessible*>(object)->state;
}

// Each answer is a new string the caller frees.
gchar* Answer(std::string_view text) {
    return g_strndup(text.data(), text.size());
}

void Initialize(AtkObject* object, gpointer data) {
    g_parentClass->initialize(object, data);
    atk_object_set_role(object, ATK_ROLE_TEXT);
}

AtkStateSet* RefStateSet(AtkObject* object) {
    AtkStateSet* states = g_parentClass->ref_state_set(object);
    if (StateOf(object)) {
        atk_state_set_add_state(states, ATK_STATE_READ_ONLY);
        atk_state_set_add_state(states, ATK_STATE_MULTI_LINE);
        atk_state_set_add_state(states, ATK_STATE_SELECTABLE_TEXT);
    }
    return states;
}

void ClassInit(gpointer klass, gpointer) {
    g_parentClass = ATK_OBJECT_CLASS(g_type_class_peek_parent(klass));
    ATK_OBJECT_CLASS(klass)->initialize = Initialize;
    ATK_OBJECT_CLASS(klass)->ref_state_set = RefStateSet;
}

gchar* GetText(AtkText* object, gint start, gint end) {
    CState* state = StateOf(object);
    return Answer(state ? state->Slice(start, end) : "");
}

gint GetCharacterCount(AtkText* object) {
    CState* state = StateOf(object);
    if (!state)
        return 0;
    state->Text();
    return state->length;
}

gint GetCaretOffset(AtkText* object) {
    CState* state = StateOf(object);
    return state ? state->Caret() : 0;
}

gunichar GetCharacterAtOffset(AtkText* object, gint offset) {
    CState* state = StateOf(object);
    const std::string_view c = state ? state->Slice(offset, offset + 1) : "";
    return c.empty() ? 0 : g_utf8_get_char(c.data());
}

gchar* Around(AtkText* object, gint offset, Piece piece, int step, gint* start, gint* end) {
    CState* state = StateOf(object);
    const CSpan span = state ? state->Find(piece, offset, step) : CSpan{0, 0};
    *start = span.start;
    *end = span.end;
    return Answer(state ? state->Slice(span.start, span.end) : "");
}

gchar* GetTextAtOffset(AtkText* object, gint offset, AtkTextBoundary boundary, gint* start,
                       gint* end) {
    return Around(object, offset, PieceOf(boundary), 0, start, end);
}
gchar* GetTextBeforeOffset(AtkText* object, gint offset, AtkTextBoundary boundary, gint* start,
                           gint* end) {
    return Around(object, offset, PieceOf(boundary), -1, start, end);
}
gchar* GetTextAfterOffset(AtkText* object, gint offset, AtkTextBoundary boundary, gint* start,
                          gint* end) {
    return Around(object, offset, PieceOf(boundary), 1, start, end);
}
gchar* GetStringAtOffset(AtkText* object, gint offset, AtkTextGranularity granularity, gint* start,
                         gint* end) {
    return Around(object, offset, PieceOf(granularity), 0, start, end);
}

gint GetNSelections(AtkText* object) {
    CState* state = StateOf(object);
    if (!state)
        return 0;
    const CSpan selection = state->Selection();
    return selection.start < selection.end ? 1 : 0;
}

gchar* GetSelection(AtkText* object, gint index, gint* start, gint* end) {
    CState* state = StateOf(object);
    const CSpan selection = state && index == 0 ? state->Selection() : CSpan{0, 0};
    *start = selection.start;
    *end = selection.end;
    return selection.start < selection.end ? Answer(state->Slice(selection.start, selection.end))
                                           : nullptr;
}

void TextInit(gpointer iface, gpointer) {
    auto* text = static_cast<AtkTextIface*>(iface);
    text->get_text = GetText;
    text->get_character_count = GetCharacterCount;
    text->get_caret_offset = GetCaretOffset;
    text->get_character_at_offset = GetCharacterAtOffset;
    text->get_text_at_offset = GetTextAtOffset;
    text->get_text_before_offset = GetTextBeforeOffset;
    text->get_text_after_offset = GetTextAfterOffset;
    text->get_string_at_offset = GetStringAtOffset;
    text->get_n_selections = GetNSelections;
    text->get_selection = GetSelection;
}

GType TextAccessibleType() {
    static const GType type = [] {
        const GType registered = g_type_register_static_simple(
            GTK_TYPE_WIDGET_ACCESSIBLE, "PmTextBoxAccessible", sizeof(PmTextAccessibleClass),
            ClassInit, sizeof(PmTextAccessible), nullptr, GTypeFlags(0));
        const GInterfaceInfo text = {TextInit, nullptr, nullptr};
        g_type_add_interface_static(registered, ATK_TYPE_TEXT, &text);
        return registered;
    }();
    return type;
}

// The toolkit asks a widget's class for the widget's ATK object, and wxWidgets makes every
// window that draws itself of one class. That class is taught to answer with the text's
// object for the windows that have one, and as before for all others.
using GetAccessibleFn = AtkObject* (*)(GtkWidget*);
struct CTaughtClass {
    GType type;
    GetAccessibleFn original;
};
std::vector<CTaughtClass> g_taught;

AtkObject* GetAccessible(GtkWidget* widget) {
    if (auto* accessible =
            static_cast<AtkObject*>(g_object_get_qdata(G_OBJECT(widget), AccessibleQuark())))
        return accessible;
    if (auto* state = static_cast<CState*>(g_object_get_qdata(G_OBJECT(widget), OwnerQuark())))
        return state->Create();
    for (GType type = G_OBJECT_TYPE(widget); type; type = g_type_parent(type)) {
        for (const CTaughtClass& taught : g_taught) {
            if (taught.type == type)
                return taught.original(widget);
        }
    }
    return nullptr; // not reached: the widget is of a taught class
}

void Teach(GtkWidget* widget) {
    GtkWidgetClass* klass = GTK_WIDGET_GET_CLASS(widget);
    if (klass->get_accessible == GetAccessible)
        return;
    g_taught.push_back({G_OBJECT_TYPE(widget), klass->get_accessible});
    klass->get_accessible = GetAccessible;
}

} // namespace

AtkObject* CAccessibleText::CState::Create() {
    AtkObject* object = ATK_OBJECT(g_object_new(TextAccessibleType(), "widget", widget, nullptr));
    reinterpret_cast<PmTextAccessible*>(object)->state = this;
    // The widget holds the object as it holds the toolkit's own, until it is finalized.
    g_object_set_qdata_full(G_OBJECT(widget), AccessibleQuark(), object, g_object_unref);
    accessible.reset(ATK_OBJECT(g_object_ref(object)));
    atk_object_initialize(object, widget);
    if (!name.empty())
        atk_object_set_name(object, name.c_str());
    // What the window shows now is what its readers first find.
    stale = true;
    Text();
    caret = Caret();
    selection = Selection();
    return object;
}

// A text that grows at its end is told by what it gained, as the log grows; any other change
// as all of the old text going and all of the new one coming, as a native text control tells
// a new text, so that readers hear whole lines rather than the odd piece of a word. Only what
// a growing text gained is converted and kept: the log grows by a line or two a frame. Returns
// whether the text was told as grown, which leaves every offset before its old end as it was.
bool CAccessibleText::CState::Announce(bool bGrewAtEnd) {
    const std::u16string_view now = shown.ShownText();
    if (now.size() == units.size() && (bGrewAtEnd || now == units))
        return true;
    // An old end that the new text could join to (CR to an LF, half of a pair to the other
    // half) changes the last character told: that counts as a new text.
    const bool joinable =
        !units.empty() && (units.back() == u'\r' || utf16::IsHighSurrogate(units.back()));
    const bool grew =
        now.size() > units.size() && (bGrewAtEnd || now.substr(0, units.size()) == units);
    if (grew && !joinable) {
        const std::u16string_view gainedUnits = now.substr(units.size());
        const std::string gained = ToAtkText(gainedUnits);
        const int position = length;
        const int gainedLength = ::Length(gained);
        units += gainedUnits;
        text += gained;
        length += gainedLength;
        attrs.clear();
        g_signal_emit_by_name(accessible.get(), "text-insert", position, gainedLength,
                              gained.c_str());
        return true;
    }
    const std::string before = std::move(text);
    const int lengthBefore = length;
    Take(now);
    if (!before.empty())
        g_signal_emit_by_name(accessible.get(), "text-remove", 0, lengthBefore, before.c_str());
    if (!text.empty())
        g_signal_emit_by_name(accessible.get(), "text-insert", 0, length, text.c_str());
    return false;
}

CAccessibleText::CAccessibleText(wxWindow* pWindow, const IShownText& shown)
    : m_pState(std::make_unique<CState>(static_cast<GtkWidget*>(pWindow->GetHandle()), shown)) {
    Teach(m_pState->widget);
    g_object_set_qdata(G_OBJECT(m_pState->widget), OwnerQuark(), m_pState.get());
}

CAccessibleText::~CAccessibleText() {
    g_object_set_qdata(G_OBJECT(m_pState->widget), OwnerQuark(), nullptr);
    if (AtkObject* object = m_pState->accessible.get()) {
        // Readers may hold the object longer: from now on it is an empty, defunct text.
        reinterpret_cast<PmTextAccessible*>(object)->state = nullptr;
        gtk_accessible_set_widget(GTK_ACCESSIBLE(object), nullptr);
    }
}

void CAccessibleText::SetName(std::u16string_view name) {
    m_pState->name = ToAtkText(name);
    if (AtkObject* object = m_pState->accessible.get())
        atk_object_set_name(object, m_pState->name.c_str());
}

void CAccessibleText::TextShown() {
    if (!m_pState->accessible) {
        m_pState->stale = true; // nobody asked yet: nobody is told
        return;
    }
    m_pState->Announce(false);
    SelectionShown();
}

void CAccessibleText::TextAppended() {
    if (!m_pState->accessible) {
        m_pState->stale = true;
        return;
    }
    // Offsets before the old end stand, so an unmoved selection needs no telling; finding
    // its offsets would walk the whole text on every step of a growing log.
    if (!m_pState->Announce(true))
        SelectionShown();
}

void CAccessibleText::SelectionShown() {
    CState& state = *m_pState;
    if (!state.accessible)
        return;
    const int caret = state.Caret();
    const CSpan selection = state.Selection();
    if (caret != state.caret) {
        state.caret = caret;
        g_signal_emit_by_name(state.accessible.get(), "text-caret-moved", caret);
    }
    if (selection.start != state.selection.start || selection.end != state.selection.end) {
        state.selection = selection;
        g_signal_emit_by_name(state.accessible.get(), "text-selection-changed");
    }
}
