// The about box: icon, product line, copyright line and OK.
#pragma once

#include <wx/dialog.h>

#include <string>

class CAboutDlg : public wxDialog {
public:
    explicit CAboutDlg(wxWindow* pParent);

    // "Patchmere Crawler Version 1.0": the product name and the first two parts of the
    // version.
    static std::u16string ProductLine();
};
