// A context menu that leaves its caller running. wxWidgets' PopupMenu runs a loop of the
// toolkit's own until the menu closes, and a crawl's transfers advance only from the crawl's
// message pump: a menu held open would stall them. This one is shown and the call returns at
// once; an item chosen later runs its action from whichever loop dispatches the toolkit's
// events, the crawl's pump among them.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

class wxPoint;
class wxWindow;

class CPopupMenu {
public:
    struct CItem {
        std::u16string label; // "&" marks the mnemonic
        bool bEnabled;
        std::function<void()> action;
    };

    // The owner's toolkit widget must exist and outlive this menu.
    explicit CPopupMenu(wxWindow* pOwner);
    ~CPopupMenu();
    CPopupMenu(const CPopupMenu&) = delete;
    CPopupMenu& operator=(const CPopupMenu&) = delete;

    // Shows the items at the pointer, or at a point of the owner (client coordinates) when
    // the menu was asked for from the keyboard.
    void Show(std::vector<CItem> items, const wxPoint& where);
    bool IsShown() const;

    struct CState;

private:
    std::unique_ptr<CState> m_pState;
};
