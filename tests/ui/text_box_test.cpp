// The program's own read-only text box: its lines, scrolling within them, selecting with the
// mouse and the keys, copying, and keys it leaves to the window.
#include "tests/support/GuiTest.h"
#include "tests/support/PumpUntil.h"
#include "ui/TextBox.h"

#include <gtk/gtk.h>

#include <wx/clipbrd.h>
#include <wx/dataobj.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

namespace {

class TextBoxTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        m_owner = std::make_unique<wxDialog>(nullptr, wxID_ANY, "owner", wxDefaultPosition,
                                             wxSize(400, 300));
        new wxWindow(m_owner.get(), wxID_ANY, wxPoint(0, 250)); // a lone child would fill it
        const int lineHeight = m_owner->GetCharHeight();
        m_box =
            new CTextBox(m_owner.get(), 1008, wxPoint(10, 10), wxSize(300, 3 * lineHeight + 12));
        m_lineHeight = std::max(1, m_box->GetCharHeight());
        m_owner->Show(); // the mouse is captured only by a window on screen
    }
    void TearDown() override {
        m_owner.reset();
        GuiTest::TearDown();
    }

    // Sends a key as the toolkit would; true when the box used it.
    bool Press(int keyCode, bool control = false, bool shift = false) {
        wxKeyEvent event(wxEVT_KEY_DOWN);
        event.m_keyCode = keyCode;
        event.SetControlDown(control);
        event.SetShiftDown(shift);
        event.SetEventObject(m_box);
        m_box->ProcessWindowEvent(event);
        return !event.GetSkipped();
    }
    void Mouse(wxEventType type, wxPoint point, bool shift = false) {
        wxMouseEvent event(type);
        event.SetPosition(point);
        event.m_leftDown = type == wxEVT_LEFT_DOWN || type == wxEVT_MOTION;
        event.SetShiftDown(shift);
        event.SetEventObject(m_box);
        m_box->ProcessWindowEvent(event);
    }
    // A point in the middle of a line's height, x pixels into the box.
    wxPoint At(int line, int x) const {
        return wxPoint(x, 2 + line * m_lineHeight + m_lineHeight / 2);
    }

    std::unique_ptr<wxDialog> m_owner;
    CTextBox* m_box = nullptr;
    int m_lineHeight = 1;
};

} // namespace

TEST_F(TextBoxTest, ScrollsOnlyWithinItsLines) {
    m_box->SetText(u"l0\r\nl1\r\nl2\r\nl3\r\nl4\r\nl5\r\nl6\r\nl7\r\nl8\r\nl9");
    ASSERT_EQ(m_box->GetLineCount(), 10);
    const int visible = m_box->GetVisibleLines();
    ASSERT_GE(visible, 1);
    ASSERT_LT(visible, 10) << "the test needs lines that do not fit";

    EXPECT_TRUE(Press(WXK_UP));
    EXPECT_EQ(m_box->GetFirstLine(), 0) << "nothing above the first line";
    Press(WXK_DOWN);
    EXPECT_EQ(m_box->GetFirstLine(), 1);
    Press(WXK_PAGEDOWN);
    EXPECT_EQ(m_box->GetFirstLine(), std::min(1 + visible, 10 - visible));
    for (int i = 0; i < 20; ++i)
        Press(WXK_DOWN);
    EXPECT_EQ(m_box->GetFirstLine(), 10 - visible) << "the last line stops at the bottom";
    Press(WXK_HOME, true);
    EXPECT_EQ(m_box->GetFirstLine(), 0);
    Press(WXK_END, true);
    EXPECT_EQ(m_box->GetFirstLine(), 10 - visible);
    Press(WXK_RIGHT);
    EXPECT_EQ(m_box->GetScrollX(), 0) << "short lines leave nothing to the right";

    m_box->SetText(u"new");
    EXPECT_EQ(m_box->GetFirstLine(), 0) << "a new text shows from its beginning";
    EXPECT_EQ(m_box->GetLineCount(), 1);
    Press(WXK_DOWN);
    EXPECT_EQ(m_box->GetFirstLine(), 0);

    m_box->SetText(std::u16string(400, u'w'));
    Press(WXK_END);
    const int farRight = m_box->GetScrollX();
    EXPECT_GT(farRight, 0) << "a long line scrolls to its end";
    Press(WXK_RIGHT);
    EXPECT_EQ(m_box->GetScrollX(), farRight) << "and no further";
    Press(WXK_HOME);
    EXPECT_EQ(m_box->GetScrollX(), 0);

    m_box->SetText(u"");
    EXPECT_EQ(m_box->GetLineCount(), 1) << "an empty box still has its one empty line";
    Press(WXK_PAGEDOWN);
    Press(WXK_END);
    EXPECT_EQ(m_box->GetFirstLine(), 0);
}

TEST_F(TextBoxTest, MouseAndKeysSelect) {
    m_box->SetText(u"ab\r\ncd\r\nef");
    Mouse(wxEVT_LEFT_DOWN, At(0, 0));
    EXPECT_EQ(m_box->GetSelectedText(), u"") << "a click selects nothing";
    Mouse(wxEVT_MOTION, At(1, 1000));
    EXPECT_EQ(m_box->GetSelectedText(), u"ab\r\ncd") << "a drag selects across the line end";
    Mouse(wxEVT_LEFT_UP, At(1, 1000));
    EXPECT_FALSE(m_box->HasCapture());

    Mouse(wxEVT_LEFT_DOWN, At(2, 1000), true);
    EXPECT_EQ(m_box->GetSelectedText(), u"ab\r\ncd\r\nef") << "Shift+click extends";
    Mouse(wxEVT_LEFT_UP, At(2, 1000));

    Mouse(wxEVT_LEFT_DOWN, At(-3, 1000));
    Mouse(wxEVT_LEFT_UP, At(-3, 1000));
    Mouse(wxEVT_LEFT_DCLICK, At(1, 1));
    EXPECT_EQ(m_box->GetSelectedText(), u"cd") << "a double click selects the line";

    EXPECT_TRUE(Press('A', true));
    EXPECT_EQ(m_box->GetSelectedText(), u"ab\r\ncd\r\nef");
    m_box->SetText(u"other");
    EXPECT_EQ(m_box->GetSelectedText(), u"") << "a new text drops the selection";

    m_box->SetSelection(99, 1);
    EXPECT_EQ(m_box->GetSelectedText(), u"ther") << "offsets past the end stop at it";
}

TEST_F(TextBoxTest, NeverSplitsACharacterOutsideTheBasicPlane) {
    const std::u16string text = u"a\U0001F600b\U0001F600"; // a, pair, b, pair
    m_box->SetText(text);
    for (int x = -5; x < 300; ++x) {
        const size_t offset = m_box->OffsetAt(At(0, x));
        EXPECT_TRUE(offset != 2 && offset != 5) << "offset " << offset << " at x = " << x;
    }
    EXPECT_EQ(m_box->OffsetAt(At(0, 1000)), text.size());

    m_box->SetSelection(0, 2); // inside the pair: the character is not cut
    EXPECT_EQ(m_box->GetSelectedText(), u"a");
    m_box->SetSelection(5, 0);
    EXPECT_EQ(m_box->GetSelectedText(), u"a\U0001F600b");
}

TEST_F(TextBoxTest, CopiesTheSelectionWithPlatformLineEnds) {
    m_box->SetText(u"first\r\nsecond line\r\nthird");
    auto copied = [this] {
        EXPECT_TRUE(Press('C', true));
        wxClipboardLocker lock;
        wxTextDataObject data;
        EXPECT_TRUE(!!lock && wxTheClipboard->GetData(data));
        return FromWx(data.GetText());
    };
    m_box->SetSelection(2, 21);
    EXPECT_EQ(copied(), u"rst\nsecond line\nt");
    m_box->SetSelection(19, 0); // between CR and LF: the line end is not cut
    EXPECT_EQ(copied(), u"first\nsecond line");
}

// The context menu opens and lets the caller go on, as a crawl's pump must go on to advance
// its transfers; an item chosen later still does its work.
TEST_F(TextBoxTest, ContextMenuLeavesTheCallerRunning) {
    using std::chrono::seconds;
    m_box->SetText(u"first\r\nsecond");
    m_box->SetSelection(0, 5);
    ASSERT_TRUE(PumpUntil([this] { return m_box->IsShownOnScreen(); }, seconds(10)));
    wxUIActionSimulator input;
    input.MouseMove(m_box->GetScreenRect().GetPosition() + wxPoint(5, 5));
    // A menu that held the caller would hold this test too: Escape closes it, and the test
    // fails instead of hanging.
    wxTimer guard;
    guard.Bind(wxEVT_TIMER, [](wxTimerEvent&) { wxUIActionSimulator().Char(WXK_ESCAPE); });
    guard.StartOnce(5000);
    input.MouseClick(wxMOUSE_BTN_RIGHT);
    ASSERT_TRUE(PumpUntil([this] { return m_box->IsContextMenuShown(); }, seconds(10)));
    guard.Stop();

    input.Char(WXK_DOWN); // Copy
    input.Char(WXK_RETURN);
    ASSERT_TRUE(PumpUntil([this] { return !m_box->IsContextMenuShown(); }, seconds(10)));
    wxClipboardLocker lock;
    wxTextDataObject data;
    ASSERT_TRUE(!!lock && wxTheClipboard->GetData(data));
    EXPECT_EQ(data.GetText(), "first");
}

// Lines added while the user works in the box, as a crawl adds them to its log: what was
// selected stays selected and copies as it was.
TEST_F(TextBoxTest, AppendedLinesKeepTheSelection) {
    m_box->SetText(u"OnStartBinding\r\nOnProgress 1 host");
    Mouse(wxEVT_LEFT_DOWN, At(0, 0));
    Mouse(wxEVT_MOTION, At(1, 1000));
    Mouse(wxEVT_LEFT_UP, At(1, 1000));
    m_box->AppendText(u"\r\nOnProgress 2 host");
    m_box->AppendText(u"\r\nOnProgress 3 host");
    EXPECT_EQ(m_box->GetSelectedText(), u"OnStartBinding\r\nOnProgress 1 host");
    EXPECT_TRUE(Press('C', true));
    wxClipboardLocker lock;
    wxTextDataObject data;
    ASSERT_TRUE(!!lock && wxTheClipboard->GetData(data));
    EXPECT_EQ(data.GetText(), "OnStartBinding\nOnProgress 1 host");
}

// As a terminal: a view that shows the last line follows new lines, a view scrolled up stays.
TEST_F(TextBoxTest, AppendedLinesAreFollowedOnlyFromTheEnd) {
    const int visible = m_box->GetVisibleLines();
    int lines = 0;
    auto append = [this, &lines] { m_box->AppendText((lines++ == 0 ? u"line" : u"\r\nline")); };
    for (int i = 0; i < visible + 3; ++i)
        append();
    EXPECT_EQ(m_box->GetFirstLine(), lines - visible) << "filling up, the view follows";

    Press(WXK_UP);
    const int scrolledTo = m_box->GetFirstLine();
    append();
    append();
    EXPECT_EQ(m_box->GetFirstLine(), scrolledTo) << "scrolled up, the view stays";

    Press(WXK_END, true);
    append();
    EXPECT_EQ(m_box->GetFirstLine(), lines - visible) << "back at the end, it follows again";
}

TEST_F(TextBoxTest, LeavesOtherKeysToTheWindow) {
    m_box->SetText(u"text");
    EXPECT_FALSE(Press(WXK_TAB)) << "Tab moves the focus on";
    EXPECT_FALSE(Press(WXK_ESCAPE)) << "Escape is the window's cancel";
    EXPECT_FALSE(Press(WXK_RETURN));
    EXPECT_FALSE(Press('C')) << "a plain letter does nothing in a read-only box";
    EXPECT_TRUE(Press(WXK_DOWN));
    EXPECT_TRUE(m_box->AcceptsFocusFromKeyboard());
}

TEST_F(TextBoxTest, AChangeIsDrawnWhenTheWindowIsBroughtUpToDate) {
    int paints = 0;
    m_box->Bind(wxEVT_PAINT, [&paints](wxPaintEvent& event) {
        ++paints;
        event.Skip(); // the box still draws
    });
    ASSERT_TRUE(PumpUntil([&paints] { return paints > 0; }, std::chrono::seconds(10)))
        << "the box is drawn when its window first appears";
    paints = 0;
    m_box->SetText(u"Downloading page\r\nhttp://127.0.0.1/library.html");
    m_owner->Update(); // what the progress window does once a frame
    EXPECT_GE(paints, 1) << "drawn at once, not at the toolkit's next frame";
    paints = 0;
    m_owner->Update();
    EXPECT_EQ(paints, 0) << "nothing changed, nothing drawn";
}

TEST_F(TextBoxTest, AGrowingTextRedrawsOnlyItsNewLines) {
    wxRect drawn;
    m_box->Bind(wxEVT_PAINT, [this, &drawn](wxPaintEvent& event) {
        drawn.Union(m_box->GetUpdateClientRect());
        event.Skip();
    });
    m_box->SetText(u"OnStartBinding\r\nOnProgress(1): 127.0.0.1");
    ASSERT_TRUE(PumpUntil([&drawn] { return !drawn.IsEmpty(); }, std::chrono::seconds(10)));

    drawn = wxRect();
    m_box->SetText(u"OnStartBinding\r\nOnProgress(1): 127.0.0.1\r\nOnProgress(2): 127.0.0.1");
    m_owner->Update();
    EXPECT_FALSE(drawn.IsEmpty());
    EXPECT_GT(drawn.GetTop(), m_lineHeight) << "the first line stayed as it was";

    drawn = wxRect();
    m_box->SetText(u"");
    m_owner->Update();
    EXPECT_LE(drawn.GetTop(), 2) << "emptied: every line goes";

    m_box->SetText(u"one\r\ntwo\r\nthree\r\nfour\r\nfive");
    m_owner->Update();
    Press(WXK_DOWN);
    m_owner->Update();
    drawn = wxRect();
    m_box->SetText(u"one\r\ntwo\r\nthree\r\nfour\r\nfive\r\nsix");
    m_owner->Update();
    EXPECT_LE(drawn.GetTop(), 2) << "a scrolled box shows the new text from its start";
    EXPECT_EQ(m_box->GetFirstLine(), 0);
}

namespace {
struct CTextEvent {
    std::string kind;
    int position, length;
    std::string text;
};

void OnTextEvent(AtkObject*, gint position, gint length, gchar* text, gpointer events,
                 const char* kind) {
    static_cast<std::vector<CTextEvent>*>(events)->push_back({kind, position, length, text});
}
void OnInsert(AtkObject* o, gint position, gint length, gchar* text, gpointer events) {
    OnTextEvent(o, position, length, text, events, "insert");
}
void OnRemove(AtkObject* o, gint position, gint length, gchar* text, gpointer events) {
    OnTextEvent(o, position, length, text, events, "remove");
}

std::string Taken(gchar* text) {
    std::string copy = text ? text : "(null)";
    g_free(text);
    return copy;
}
} // namespace

// What a screen reader finds through the toolkit's accessibility interface: a read-only text
// with a name, its text with LF line ends and whole characters, its selection, and each
// change: what a growing text gained, or the old text going and the new one coming.
TEST_F(TextBoxTest, AssistiveTechnologiesReadItAsAReadOnlyText) {
    m_box->SetAccessibleName(u"Log");
    m_box->SetText(u"OnStartBinding\r\nOnProgress(1): h\U0001F600st");
    AtkObject* box = gtk_widget_get_accessible(static_cast<GtkWidget*>(m_box->GetHandle()));
    ASSERT_TRUE(ATK_IS_TEXT(box));
    EXPECT_EQ(atk_object_get_role(box), ATK_ROLE_TEXT);
    EXPECT_STREQ(atk_object_get_name(box), "Log");
    AtkStateSet* states = atk_object_ref_state_set(box);
    EXPECT_TRUE(atk_state_set_contains_state(states, ATK_STATE_READ_ONLY));
    EXPECT_FALSE(atk_state_set_contains_state(states, ATK_STATE_EDITABLE));
    g_object_unref(states);
    AtkObject* parent = atk_object_get_parent(box);
    ASSERT_TRUE(parent);
    AtkObject* child = atk_object_ref_accessible_child(parent, atk_object_get_index_in_parent(box));
    EXPECT_EQ(child, box) << "readers reach the box from its window";
    g_clear_object(&child);

    AtkText* text = ATK_TEXT(box);
    EXPECT_EQ(Taken(atk_text_get_text(text, 0, -1)),
              "OnStartBinding\nOnProgress(1): h\U0001F600st");
    EXPECT_EQ(atk_text_get_character_count(text), 34);
    EXPECT_EQ(atk_text_get_character_at_offset(text, 31), 0x1F600u);
    int start = -1, end = -1;
    EXPECT_EQ(
        Taken(atk_text_get_string_at_offset(text, 20, ATK_TEXT_GRANULARITY_LINE, &start, &end)),
        "OnProgress(1): h\U0001F600st");
    EXPECT_EQ(start, 15);
    EXPECT_EQ(
        Taken(atk_text_get_string_at_offset(text, 3, ATK_TEXT_GRANULARITY_LINE, &start, &end)),
        "OnStartBinding\n");
    EXPECT_EQ(
        Taken(atk_text_get_string_at_offset(text, 16, ATK_TEXT_GRANULARITY_WORD, &start, &end)),
        "OnProgress(");

    m_box->SetSelection(16, 36); // from the second line to the end, in UTF-16 units
    EXPECT_EQ(atk_text_get_caret_offset(text), 34);
    ASSERT_EQ(atk_text_get_n_selections(text), 1);
    EXPECT_EQ(Taken(atk_text_get_selection(text, 0, &start, &end)), "OnProgress(1): h\U0001F600st");
    EXPECT_EQ(start, 15);

    std::vector<CTextEvent> events;
    g_signal_connect(box, "text-insert", G_CALLBACK(OnInsert), &events);
    g_signal_connect(box, "text-remove", G_CALLBACK(OnRemove), &events);
    m_box->SetText(u"OnStartBinding\r\nOnProgress(1): h\U0001F600st\r\nOnProgress(2)");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, "insert");
    EXPECT_EQ(events[0].position, 34);
    EXPECT_EQ(events[0].length, 14);
    EXPECT_EQ(events[0].text, "\nOnProgress(2)");
    events.clear();
    m_box->SetText(u"OnStartBinding\r\nOnProgress(1): h\U0001F600st\r\nOnProgress(2)");
    EXPECT_TRUE(events.empty()) << "no change, nothing told";
    m_box->SetText(u"OnStopBinding");
    ASSERT_EQ(events.size(), 2u) << "a new text: the old goes whole, the new comes whole";
    EXPECT_EQ(events[0].kind, "remove");
    EXPECT_EQ(events[0].position, 0);
    EXPECT_EQ(events[0].length, 48);
    EXPECT_EQ(events[0].text, "OnStartBinding\nOnProgress(1): h\U0001F600st\nOnProgress(2)");
    EXPECT_EQ(events[1].kind, "insert");
    EXPECT_EQ(events[1].position, 0);
    EXPECT_EQ(events[1].text, "OnStopBinding");
    events.clear();
    m_box->SelectAll();
    m_box->AppendText(u"\r\nOnProgress(3)");
    ASSERT_EQ(events.size(), 1u) << "an appended text is told by what it gained";
    EXPECT_EQ(events[0].kind, "insert");
    EXPECT_EQ(events[0].position, 13);
    EXPECT_EQ(events[0].text, "\nOnProgress(3)");
    EXPECT_EQ(Taken(atk_text_get_text(text, 0, -1)), "OnStopBinding\nOnProgress(3)");
    EXPECT_EQ(Taken(atk_text_get_selection(text, 0, &start, &end)), "OnStopBinding")
        << "the selection stays as it was";
    g_signal_handlers_disconnect_by_data(box, &events);
}
