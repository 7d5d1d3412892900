// The progress window of one crawl: page and tone status, the log of the download
// service's notifications, the bar of the current transfer, the totals line and Cancel.
// These operations are all that the crawl engine sees of the user interface.
#pragma once

#include "platform/com.h"

#include <wx/dialog.h>

#include <cstdint>
#include <memory>
#include <string>

class wxTextCtrl;
class wxGauge;
class wxStaticText;

class CProgressDialog : public wxDialog {
public:
    explicit CProgressDialog(wxWindow* pParent);
    ~CProgressDialog() override;

    void SetPageStatus(LPCWSTR text);
    void SetToneStatus(LPCWSTR text);
    void AppendLog(LPCWSTR text);
    void ClearLog();
    void SetProgress(ULONG max, ULONG pos);
    void UpdateTotals(bool countOne);

    // Hands every deferred repaint to the screen now (before the window is hidden).
    void FlushRepaints();

    // What the window shows, as the program holds it (for tests and the benchmark).
    std::u16string GetPageStatusText() const;
    std::u16string GetToneStatusText() const;
    std::u16string GetLogText() const;
    std::u16string GetTotalsText() const;
    ULONG GetProgressMax() const;
    ULONG GetProgressPos() const;

    int m_bCancel = 0;
    int m_nNewFiles = 0;

private:
    // The implementer of this window adds its private members here (controls, clocks,
    // repaint bookkeeping); the public operations above are the fixed contract.
    void OnBnClickedCancel(wxCommandEvent& event);
};
