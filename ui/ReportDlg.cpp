#include "ui/ReportDlg.h"
#include "platform/wx/wxtext.h"
#include "res/layouts.h"
#include "ui/DialogUnits.h"

#include <wx/button.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace L = layout::report;

CReportDlg::CReportDlg(wxWindow* pParent, const std::u16string& text)
    : wxDialog(pParent, wxID_ANY, ToWx(L::kCaption), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
    SetDialogClientSize(this, L::kDialog);
    // The label comes first, so it names the list for a screen reader and its mnemonic
    // leads there.
    new wxStaticText(this, wxID_ANY, ToWx(L::kLabel), DialogPoint(this, L::kLabelRect),
                     DialogSize(this, L::kLabelRect), wxST_NO_AUTORESIZE);
    m_editList = new wxTextCtrl(this, wxID_ANY, ToWx(text), DialogPoint(this, L::kListRect),
                                DialogSize(this, L::kListRect),
                                wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP);
    auto* close = new wxButton(this, wxID_CANCEL, ToWx(L::kClose), DialogPoint(this, L::kCloseRect),
                               DialogSize(this, L::kCloseRect));
    close->SetDefault();
    SetEscapeId(wxID_CANCEL);
    Centre();
    m_editList->SetFocus();
}
