#include "ui/TextBox.h"
#include "platform/text/text_utf8.h"
#include "platform/wx/wxtext.h"
#include "res/layouts.h"

#include <wx/clipbrd.h>
#include <wx/dcclient.h>
#include <wx/graphics.h>
#include <wx/renderer.h>
#include <wx/settings.h>

#include <algorithm>
#include <climits>

namespace {
// Whether the unit at `offset` ends a pair that must stay whole.
bool IsSecondHalf(std::u16string_view text, size_t offset) {
    const char16_t unit = text[offset], before = text[offset - 1];
    return (utf16::IsLowSurrogate(unit) && utf16::IsHighSurrogate(before)) ||
           (unit == u'\n' && before == u'\r');
}

// How many UTF-16 units the first `count` characters of a toolkit string take.
size_t Utf16Units(const wxString& text, size_t count) {
    size_t units = 0;
    for (size_t i = 0; i < count && i < text.length(); ++i)
        units += static_cast<wxUint32>(text[i].GetValue()) > 0xFFFF ? 2 : 1;
    return units;
}
} // namespace

CTextBox::CTextBox(wxWindow* pParent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxControl(pParent, id, pos, size, wxBORDER_SUNKEN) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    // The box's own attributes: without them every repaint asks the theme for its defaults.
    SetOwnFont(GetFont());
    SetOwnForegroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOWTEXT));
    SetOwnBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW));
    m_lineStarts.push_back(0);
    m_nLineHeight = std::max(1, GetCharHeight());

    Bind(wxEVT_PAINT, &CTextBox::OnPaint, this);
    Bind(wxEVT_KEY_DOWN, &CTextBox::OnKeyDown, this);
    for (const auto& type : {wxEVT_LEFT_DOWN, wxEVT_LEFT_UP, wxEVT_LEFT_DCLICK, wxEVT_MOTION})
        Bind(type, &CTextBox::OnMouse, this);
    Bind(wxEVT_MOUSEWHEEL, &CTextBox::OnMouseWheel, this);
    Bind(wxEVT_CONTEXT_MENU, &CTextBox::OnContextMenu, this);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, [](wxMouseCaptureLostEvent&) {});
    Bind(wxEVT_SET_FOCUS, [this](wxFocusEvent& event) {
        Refresh();
        event.Skip();
    });
    Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& event) {
        Refresh();
        event.Skip();
    });
}

void CTextBox::SetText(std::u16string_view text) {
    // Lines that stay the same at the start of a box shown from its start are not drawn
    // again: a text that grows at its end costs only its new lines.
    const bool bShownFromStart = m_nFirstLine == 0 && m_nScrollX == 0 && m_nAnchor == m_nCaret;
    const size_t same =
        std::mismatch(m_szText.begin(), m_szText.end(), text.begin(), text.end()).first -
        m_szText.begin();
    if (bShownFromStart && same == m_szText.size() && same == text.size())
        return;
    const int firstChanged = bShownFromStart ? LineOf(same) : 0;

    m_szText = text;
    m_lineStarts.assign(1, 0);
    FindLineStarts(0);
    m_nMeasuredLines = m_nWidestMeasured = 0;
    m_nAnchor = m_nCaret = 0;
    m_nFirstLine = m_nScrollX = 0;

    RefreshFromLine(firstChanged);
    m_accessible.TextShown();
}

void CTextBox::AppendText(std::u16string_view text) {
    if (text.empty())
        return;
    const bool bFollowing = m_nFirstLine >= GetLineCount() - GetVisibleLines();
    const int lastLine = GetLineCount() - 1; // the new text may continue it
    const size_t oldSize = m_szText.size();
    m_szText += text;
    FindLineStarts(oldSize);

    // A selection that ended at a CR or at the first half of a pair would now cut what the
    // new text completes: it moves back to the start of it, as SetSelection moves it.
    if (oldSize > 0 && IsSecondHalf(m_szText, oldSize)) {
        if (m_nAnchor == oldSize)
            --m_nAnchor;
        if (m_nCaret == oldSize)
            --m_nCaret;
    }

    const int firstLine = m_nFirstLine;
    if (bFollowing)
        ScrollTo(GetLineCount() - GetVisibleLines(), m_nScrollX); // redraws it all if it moved
    if (m_nFirstLine == firstLine)
        RefreshFromLine(lastLine);
    m_accessible.TextAppended();
}

// Records where the lines that begin past `from` start.
void CTextBox::FindLineStarts(size_t from) {
    for (size_t i = from; i < m_szText.size(); ++i) {
        if (m_szText[i] == u'\n')
            m_lineStarts.push_back(i + 1);
    }
}

// Redraws the box from a line down, or all of it when the line lies above the view.
void CTextBox::RefreshFromLine(int line) {
    const wxSize client = GetClientSize();
    const int top = line <= m_nFirstLine ? 0 : kMargin + (line - m_nFirstLine) * m_nLineHeight;
    if (top < client.y)
        RefreshRect(wxRect(0, top, client.x, client.y - top));
}

void CTextBox::SetSelection(size_t anchor, size_t caret) {
    // An offset inside a surrogate pair or a CR LF moves back to its start: neither is cut.
    auto boundary = [this](size_t offset) {
        offset = std::min(offset, m_szText.size());
        if (offset > 0 && offset < m_szText.size() && IsSecondHalf(m_szText, offset))
            --offset;
        return offset;
    };
    anchor = boundary(anchor);
    caret = boundary(caret);
    if (anchor == m_nAnchor && caret == m_nCaret)
        return;
    m_nAnchor = anchor;
    m_nCaret = caret;
    Refresh();
    m_accessible.SelectionShown();
}

void CTextBox::SelectAll() {
    SetSelection(0, m_szText.size());
}

std::u16string CTextBox::GetSelectedText() const {
    const size_t start = std::min(m_nAnchor, m_nCaret);
    return m_szText.substr(start, std::max(m_nAnchor, m_nCaret) - start);
}

void CTextBox::CopySelection() const {
    std::u16string text = GetSelectedText();
    if (text.empty())
        return;
    // Line ends as the other programs on this platform expect them.
    std::u16string copied;
    for (size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n'))
            copied += text[i];
    }
    wxClipboardLocker lock;
    if (!lock)
        return;
    wxTheClipboard->SetData(new wxTextDataObject(ToWx(copied))); // the clipboard owns it
}

int CTextBox::GetVisibleLines() const {
    return std::max(1, (GetClientSize().y - kMargin) / m_nLineHeight);
}

// A line's text without its line end.
std::u16string_view CTextBox::Line(int line) const {
    const size_t start = m_lineStarts[line];
    size_t end = line + 1 < GetLineCount() ? m_lineStarts[line + 1] - 1 : m_szText.size();
    if (end > start && m_szText[end - 1] == u'\r' && line + 1 < GetLineCount())
        --end;
    return std::u16string_view(m_szText).substr(start, end - start);
}

int CTextBox::LineOf(size_t offset) const {
    auto next = std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), offset);
    return static_cast<int>(next - m_lineStarts.begin()) - 1;
}

size_t CTextBox::OffsetAt(const wxPoint& point) const {
    const int dy = point.y - kMargin;
    const int row = dy >= 0 ? dy / m_nLineHeight : -1 - (-dy - 1) / m_nLineHeight;
    const int line = std::clamp(m_nFirstLine + row, 0, GetLineCount() - 1);
    const std::u16string_view text = Line(line);
    const int x = point.x - kMargin + m_nScrollX;
    if (text.empty() || x <= 0)
        return m_lineStarts[line];

    wxClientDC dc(const_cast<CTextBox*>(this));
    dc.SetFont(GetFont());
    const wxString shown = ToWx(text);
    wxArrayInt widths;
    dc.GetPartialTextExtents(shown, widths);
    // The boundary nearest to x: past every character whose middle lies left of it.
    size_t characters = 0;
    int left = 0;
    while (characters < widths.size() && (left + widths[characters]) / 2 < x)
        left = widths[characters++];
    return m_lineStarts[line] + Utf16Units(shown, characters);
}

// Each line is measured once: a growing log would otherwise be measured whole on every
// step to the right.
int CTextBox::WidestLine() {
    wxClientDC dc(this);
    dc.SetFont(GetFont());
    const int lastLine = GetLineCount() - 1;
    for (; m_nMeasuredLines < lastLine; ++m_nMeasuredLines)
        m_nWidestMeasured =
            std::max(m_nWidestMeasured, dc.GetTextExtent(ToWx(Line(m_nMeasuredLines))).x);
    return std::max(m_nWidestMeasured, dc.GetTextExtent(ToWx(Line(lastLine))).x);
}

void CTextBox::ScrollTo(int firstLine, int scrollX) {
    firstLine = std::clamp(firstLine, 0, std::max(0, GetLineCount() - GetVisibleLines()));
    if (scrollX != m_nScrollX)
        scrollX =
            std::clamp(scrollX, 0, std::max(0, WidestLine() + 2 * kMargin - GetClientSize().x));
    if (firstLine == m_nFirstLine && scrollX == m_nScrollX)
        return;
    m_nFirstLine = firstLine;
    m_nScrollX = scrollX;
    Refresh();
}

void CTextBox::OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    const wxSize client = GetClientSize();
    dc.SetBackground(wxBrush(GetBackgroundColour()));
    dc.Clear();
    // Text goes straight to the graphics context under the toolkit's drawing context, which
    // otherwise measures every string again only to track a bounding box.
    wxGraphicsContext* gc = dc.GetGraphicsContext();
    if (gc) {
        const size_t selStart = std::min(m_nAnchor, m_nCaret);
        const size_t selEnd = std::max(m_nAnchor, m_nCaret);
        const wxRect dirty = GetUpdateClientRect();
        for (int line = m_nFirstLine, y = kMargin; line < GetLineCount() && y < client.y;
             ++line, y += m_nLineHeight) {
            if (y + m_nLineHeight > dirty.GetTop() && y <= dirty.GetBottom())
                DrawLine(*gc, line, y, selStart, selEnd);
        }
    }
    if (HasFocus())
        wxRendererNative::Get().DrawFocusRect(this, dc, wxRect(client).Deflate(1));
}

void CTextBox::DrawLine(wxGraphicsContext& gc, int line, int y, size_t selStart, size_t selEnd) {
    const std::u16string_view text = Line(line);
    const int x = kMargin - m_nScrollX;
    gc.SetFont(GetFont(), GetForegroundColour());
    gc.DrawText(ToWx(text), x, y);

    // The selected part of the line, drawn over in the selection's colours; a selected line
    // end shows as a little space after the text.
    const size_t start = m_lineStarts[line];
    const size_t from = std::clamp(selStart, start, start + text.size()) - start;
    const size_t to = std::clamp(selEnd, start, start + text.size()) - start;
    const bool selectsLineEnd = line + 1 < GetLineCount() && selStart <= start + text.size() &&
                                selEnd > start + text.size();
    if (from == to && !selectsLineEnd)
        return;
    auto width = [&gc](std::u16string_view part) {
        double w = 0, h = 0;
        gc.GetTextExtent(ToWx(part), &w, &h);
        return w;
    };
    const double left = x + width(text.substr(0, from));
    double right = x + width(text.substr(0, to));
    if (selectsLineEnd)
        right += GetCharWidth();
    gc.SetPen(*wxTRANSPARENT_PEN);
    gc.SetBrush(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT)));
    gc.DrawRectangle(left, y, right - left, m_nLineHeight);
    gc.SetFont(GetFont(), wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHTTEXT));
    gc.DrawText(ToWx(text.substr(from, to - from)), left, y);
}

// The keys of a read-only text box; everything else (Tab, Escape, Enter) goes on to the
// window.
void CTextBox::OnKeyDown(wxKeyEvent& event) {
    const bool ctrl = event.ControlDown();
    const int page = GetVisibleLines();
    const int step = 4 * GetCharWidth();
    switch (event.GetKeyCode()) {
    case 'A':
        if (ctrl)
            return SelectAll();
        break;
    case 'C':
    case WXK_INSERT:
        if (ctrl)
            return CopySelection();
        break;
    case WXK_UP:
        return ScrollTo(m_nFirstLine - 1, m_nScrollX);
    case WXK_DOWN:
        return ScrollTo(m_nFirstLine + 1, m_nScrollX);
    case WXK_PAGEUP:
        return ScrollTo(m_nFirstLine - page, m_nScrollX);
    case WXK_PAGEDOWN:
        return ScrollTo(m_nFirstLine + page, m_nScrollX);
    case WXK_HOME:
        return ScrollTo(ctrl ? 0 : m_nFirstLine, 0);
    case WXK_END:
        return ScrollTo(ctrl ? GetLineCount() : m_nFirstLine, INT_MAX);
    case WXK_LEFT:
        return ScrollTo(m_nFirstLine, m_nScrollX - step);
    case WXK_RIGHT:
        return ScrollTo(m_nFirstLine, m_nScrollX + step);
    default:
        break;
    }
    event.Skip();
}

void CTextBox::OnMouse(wxMouseEvent& event) {
    const wxPoint point = event.GetPosition();
    if (event.LeftDown()) {
        SetFocus();
        const size_t offset = OffsetAt(point);
        SetSelection(event.ShiftDown() ? m_nAnchor : offset, offset);
        if (!HasCapture())
            CaptureMouse();
    } else if (event.Dragging() && HasCapture()) {
        // Dragging past the top or bottom brings more lines in.
        if (point.y < 0)
            ScrollTo(m_nFirstLine - 1, m_nScrollX);
        else if (point.y >= GetClientSize().y)
            ScrollTo(m_nFirstLine + 1, m_nScrollX);
        SetSelection(m_nAnchor, OffsetAt(point));
    } else if (event.LeftUp() && HasCapture()) {
        ReleaseMouse();
    } else if (event.LeftDClick()) {
        const int line = LineOf(OffsetAt(point));
        SetSelection(m_lineStarts[line], m_lineStarts[line] + Line(line).size());
    }
    event.Skip();
}

void CTextBox::OnMouseWheel(wxMouseEvent& event) {
    const int delta = event.GetWheelDelta() > 0 ? event.GetWheelDelta() : 120;
    const int notches = event.GetWheelRotation() / delta;
    if (event.GetWheelAxis() == wxMOUSE_WHEEL_HORIZONTAL)
        ScrollTo(m_nFirstLine, m_nScrollX + notches * 4 * GetCharWidth());
    else
        ScrollTo(m_nFirstLine - notches * event.GetLinesPerAction(), m_nScrollX);
}

// The menu is asked for by a right click, the Menu key or Shift+F10; from the keys it opens
// at the box's first line.
void CTextBox::OnContextMenu(wxContextMenuEvent& event) {
    const bool fromKeys = event.GetPosition() == wxDefaultPosition;
    m_menu.Show({{layout::kCopyMenuItem, m_nAnchor != m_nCaret, [this] { CopySelection(); }},
                 {layout::kSelectAllMenuItem, !m_szText.empty(), [this] { SelectAll(); }}},
                fromKeys ? wxPoint(kMargin, kMargin + m_nLineHeight) : wxDefaultPosition);
}
