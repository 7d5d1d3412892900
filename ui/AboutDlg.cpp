#include "ui/AboutDlg.h"
#include "platform/wx/wxtext.h"
#include "ui/DialogUnits.h"
#include "ui/Icons.h"

#include "version.h"

#include <wx/button.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

namespace L = layout::about;

std::u16string CAboutDlg::ProductLine() {
    std::u16string version = PM_VERSION;
    size_t firstDot = version.find(u'.');
    size_t secondDot =
        firstDot == std::u16string::npos ? firstDot : version.find(u'.', firstDot + 1);
    return std::u16string(PM_PRODUCT_NAME) + u" Version " + version.substr(0, secondDot);
}

CAboutDlg::CAboutDlg(wxWindow* pParent)
    : wxDialog(pParent, IDD_ABOUTBOX, ToWx(L::kCaption), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
    SetDialogClientSize(this, L::kDialog);

    new wxStaticBitmap(this, wxID_ANY, LoadMainIcon(32), DialogPoint(this, L::kIconRect),
                       DialogSize(this, L::kIconRect));
    // The product line shows '&' as it is.
    new wxStaticText(this, wxID_ANY, wxControl::EscapeMnemonics(ToWx(ProductLine())),
                     DialogPoint(this, L::kVersionRect), DialogSize(this, L::kVersionRect),
                     wxST_NO_AUTORESIZE);
    new wxStaticText(this, wxID_ANY, ToWx(L::kCopyright), DialogPoint(this, L::kCopyrightRect),
                     DialogSize(this, L::kCopyrightRect), wxST_NO_AUTORESIZE);
    auto* ok = new wxButton(this, wxID_OK, ToWx(L::kOk), DialogPoint(this, L::kOkRect),
                            DialogSize(this, L::kOkRect));
    ok->SetDefault();
    ok->SetFocus();
    // OK and Escape both end the box.
    SetEscapeId(wxID_OK);
    CentreOnParent();
}
