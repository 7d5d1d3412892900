// The progress window of one crawl: page and tone status, the log of the download
// service's notifications, the bar of the current transfer, the totals line and Cancel.
// The crawl engine sees of it only the interface it implements (crawl/CrawlProgress.h).
#pragma once

#include "crawl/CrawlMeter.h"
#include "crawl/CrawlProgress.h"
#include "platform/com/com.h"

#include <wx/dialog.h>
#include <wx/timer.h>

#include <cstdint>
#include <memory>
#include <string>

class CTextBox;
class wxGauge;
class wxStaticText;

class CProgressDialog : public wxDialog, public ICrawlProgress {
public:
    explicit CProgressDialog(wxWindow* pParent);
    ~CProgressDialog() override;

    // ICrawlProgress
    void SetPageStatus(LPCWSTR text) override;
    void SetToneStatus(LPCWSTR text) override;
    void AppendLog(LPCWSTR text) override;
    void ClearLog() override;
    void SetProgress(ULONG max, ULONG pos) override;
    void UpdateTotals(bool countOne) override;
    // A wait the server asked for shows in the tone box, with the time left, until it is over.
    void OnCrawlEvent(const CCrawlEvent& event) override;

    // Hands every deferred repaint to the screen now (before the window is hidden).
    void FlushRepaints();

    // What the window shows, as the program holds it (for tests and the benchmark).
    std::u16string GetPageStatusText() const;
    std::u16string GetToneStatusText() const;
    std::u16string GetLogText() const;
    std::u16string GetTotalsText() const;
    // The whole crawl's lines: pages, tones, rate and time left.
    std::u16string GetPagesText() const;
    std::u16string GetTonesText() const;
    std::u16string GetSpeedText() const;
    ULONG GetProgressMax() const;
    ULONG GetProgressPos() const;

    int m_nNewFiles = 0;

private:
    // One box of the window and whether the screen still lacks its latest state. Changes
    // reach the screen together, at most once a frame: the whole window is brought up to
    // date in one pass, which costs hardly more than bringing one box up to date.
    struct CBox {
        wxWindow* pControl = nullptr;
        bool bChanged = false;
    };
    static constexpr uint32_t kFrameMs = 16;
    // A bound on the log that is kept (and shown).
    static constexpr size_t kMaxLogUnits = 1024 * 1024;
    // The whole crawl's lines change slowly; a few redraws a second read as live.
    static constexpr uint32_t kOverallMs = 250;

    void CreateControls();
    void SetBoxText(std::u16string& held, CBox& box, LPCWSTR text);
    void RepaintDeferred();
    void Repaint();
    bool IsAnyChanged() const;
    void HandOver(CBox& box);
    void RefreshOverall();

    void OnBnClickedCancel(wxCommandEvent& event);
    void OnClose(wxCloseEvent& event);

    // Ends a deferred repaint's frame even while the engine waits on the network: the wait
    // ends on the timer as on any other event.
    wxTimer m_repaintTimer;

    int64_t m_ftStart = 0;
    int64_t m_ftNextRefresh = 0;

    std::u16string m_szPageStatus;
    std::u16string m_szToneStatus;
    // The tone box's text from before a wait on the server, while the box shows the wait.
    std::u16string m_szToneBeforeWait;
    bool m_bShowingWait = false;
    std::u16string m_szLog;
    // How much of the log the native control holds; npos after the log was emptied.
    size_t m_nLogHandedOver = 0;
    std::u16string m_szTotals;
    ULONG m_nProgressMax = 0;
    ULONG m_nProgressPos = 0;

    CTextBox* m_pageStatus = nullptr;
    CTextBox* m_toneStatus = nullptr;
    wxGauge* m_progressBar = nullptr;
    CTextBox* m_log = nullptr;
    wxStaticText* m_totals = nullptr;
    wxStaticText* m_pages = nullptr;
    wxGauge* m_pagesBar = nullptr;
    wxStaticText* m_tones = nullptr;
    wxStaticText* m_speed = nullptr;

    CCrawlMeter m_meter;
    std::u16string m_szPages;
    std::u16string m_szTones;
    std::u16string m_szSpeed;
    bool m_bOverallShown = false;
    uint32_t m_dwLastOverall = 0;

    CBox m_pageBox;
    CBox m_toneBox;
    CBox m_barBox;
    CBox m_logBox;
    bool m_bPainted = false;
    uint32_t m_dwLastPaint = 0;
};
