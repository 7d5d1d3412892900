// The crawl's report as a list the user can read, select and copy: a read-only native text
// control, which a screen reader reads as it reads any text.
#pragma once

#include <wx/dialog.h>

#include <string>

class wxTextCtrl;

class CReportDlg : public wxDialog {
public:
    CReportDlg(wxWindow* pParent, const std::u16string& text);

    wxTextCtrl* m_editList = nullptr;
};
