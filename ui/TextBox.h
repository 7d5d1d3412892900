// A read-only box of text lines that the program draws itself: the progress window's status
// and log boxes. A native multi-line text control lays out and draws the whole window again
// whenever its text changes, which costs milliseconds a time at the pace of a crawl; this box
// only draws itself. It keeps what a user does with a read-only text box: take the focus by
// Tab or a click, select with the mouse, select all, copy (by keys or its context menu), and
// scroll to lines that do not fit. Assistive technologies read it as a read-only text.
#pragma once

#include "platform/wx/accessible_text.h"
#include "platform/wx/popup_menu.h"

#include <wx/control.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class wxGraphicsContext;

class CTextBox : public wxControl, private IShownText {
public:
    CTextBox(wxWindow* pParent, wxWindowID id, const wxPoint& pos, const wxSize& size);

    // What assistive technologies call the box.
    void SetAccessibleName(std::u16string_view name) { m_accessible.SetName(name); }

    // Shows the text from its first line and column, with nothing selected. Lines end at
    // CR LF or LF.
    void SetText(std::u16string_view text);
    // Adds text at the end and keeps the selection and the view, as a terminal does: a view
    // that showed the last line moves on to show the new last line, any other stays put.
    void AppendText(std::u16string_view text);
    const std::u16string& GetText() const { return m_szText; }

    // A selection between two offsets into the text (UTF-16 units, either order).
    void SetSelection(size_t anchor, size_t caret);
    void SelectAll();
    std::u16string GetSelectedText() const;
    void CopySelection() const;

    int GetFirstLine() const { return m_nFirstLine; }
    int GetScrollX() const { return m_nScrollX; }
    int GetLineCount() const { return static_cast<int>(m_lineStarts.size()); }
    int GetVisibleLines() const;
    // The offset into the text nearest to a point of the box (client coordinates).
    size_t OffsetAt(const wxPoint& point) const;

    // Whether its context menu (Copy, Select All) is open.
    bool IsContextMenuShown() const { return m_menu.IsShown(); }

    bool AcceptsFocus() const override { return true; }
    bool AcceptsFocusFromKeyboard() const override { return true; }

private:
    static constexpr int kMargin = 2;

    std::u16string_view Line(int line) const;
    int LineOf(size_t offset) const;
    void FindLineStarts(size_t from);
    void RefreshFromLine(int line);
    void ScrollTo(int firstLine, int scrollX);
    int WidestLine();
    void DrawLine(wxGraphicsContext& gc, int line, int y, size_t selStart, size_t selEnd);

    std::u16string_view ShownText() const override { return m_szText; }
    size_t ShownAnchor() const override { return m_nAnchor; }
    size_t ShownCaret() const override { return m_nCaret; }

    void OnPaint(wxPaintEvent& event);
    void OnKeyDown(wxKeyEvent& event);
    void OnMouse(wxMouseEvent& event);
    void OnMouseWheel(wxMouseEvent& event);
    void OnContextMenu(wxContextMenuEvent& event);

    std::u16string m_szText;
    std::vector<size_t> m_lineStarts; // where each line begins; never empty
    size_t m_nAnchor = 0;
    size_t m_nCaret = 0;
    int m_nFirstLine = 0;
    int m_nScrollX = 0;
    int m_nLineHeight = 1;
    // The widest of the lines measured so far: every line but the last, which alone can
    // still grow.
    int m_nMeasuredLines = 0;
    int m_nWidestMeasured = 0;
    CAccessibleText m_accessible{this, *this};
    CPopupMenu m_menu{this};
};
