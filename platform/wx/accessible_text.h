// A window that draws its own text, made readable by assistive technologies. On GTK 3 they
// read a window through its ATK object, and the toolkit gives a window that draws itself the
// object of an empty panel. This gives it the object of a read-only text instead: its role, a
// name, the text it shows with its caret and selection, and a notice of each change.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class wxWindow;

// What the window shows: its text, and its selection as offsets (UTF-16 units) into it.
class IShownText {
public:
    virtual std::u16string_view ShownText() const = 0;
    virtual size_t ShownAnchor() const = 0;
    virtual size_t ShownCaret() const = 0;

protected:
    ~IShownText() = default;
};

class CAccessibleText {
public:
    // The window's toolkit widget must exist; both must outlive this object.
    CAccessibleText(wxWindow* pWindow, const IShownText& shown);
    ~CAccessibleText();
    CAccessibleText(const CAccessibleText&) = delete;
    CAccessibleText& operator=(const CAccessibleText&) = delete;

    void SetName(std::u16string_view name);
    // Tell what changed since the last call: call them where the window draws the change, so
    // that a change that is never drawn is never told either.
    void TextShown();
    // The same for a text that only grew at its end: told without comparing it whole.
    void TextAppended();
    void SelectionShown();

    struct CState;

private:
    std::unique_ptr<CState> m_pState;
};
