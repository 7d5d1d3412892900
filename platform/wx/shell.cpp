#include "platform/wx/shell.h"
#include "platform/wx/wxtext.h"

#include <wx/dirdlg.h>

namespace {
BrowseForFolderHandler& TestHandler() {
    static BrowseForFolderHandler handler;
    return handler;
}
} // namespace

std::optional<std::u16string> SHBrowseForFolder(wxWindow* owner, std::u16string_view title) {
    if (TestHandler())
        return TestHandler()(owner, std::u16string(title));
    // No starting folder: the browser opens where it likes, as the user knows it.
    wxDirDialog browser(owner, ToWx(title), wxEmptyString, wxDD_DEFAULT_STYLE);
    if (browser.ShowModal() != wxID_OK)
        return std::nullopt;
    return FromWx(browser.GetPath());
}

void SetBrowseForFolderForTesting(BrowseForFolderHandler handler) {
    TestHandler() = std::move(handler);
}
