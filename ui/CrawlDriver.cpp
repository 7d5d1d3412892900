// The crawl driver: "Start Crawl" turns the two fields into a start address and a folder,
// makes sure the folder exists, remembers both, and runs the crawl with the progress window
// open and the main dialog disabled.
#include "app/CrawlerApp.h"
#include "crawl/CrawlStack.h"
#include "crawl/DisplayFormats.h"
#include "crawl/SaveFolder.h"
#include "platform/clock.h"
#include "platform/text/text.h"
#include "platform/wx/desktop.h"
#include "platform/wx/msgbox.h"
#include "platform/wx/wxtext.h"
#include "ui/CrawlerDlg.h"
#include "ui/ProgressDialog.h"

#include <wx/textctrl.h>
#include <wx/toplevel.h>
#include <wx/weakref.h>

#include <algorithm>
#include <charconv>
#include <exception>
#include <memory>
#include <new>

namespace {
constexpr int kDefaultConnections = 4;
constexpr int kMostConnections = 16; // more only burdens the library's server
// A crawl shorter than this ends while the user still waits for it.
constexpr int64_t kNotifyAfterSeconds = 60;

// How many transfers a crawl runs at once, from the settings; the default when the value is
// missing or no number, held within 1 and kMostConnections.
int MaxConnectionsSetting() {
    const std::string text = ToUtf8(theApp().GetProfileString(u"Config", u"MaxConnections", u""));
    int n = 0;
    const char* end = text.data() + text.size();
    const auto [where, error] = std::from_chars(text.data(), end, n);
    if (text.empty() || error != std::errc() || where != end)
        return kDefaultConnections;
    return std::clamp(n, 1, kMostConnections);
}

// The crawling state for as long as the object lives: the progress window shown and
// focused and the engine reporting to it, the main dialog disabled. Leaving, by return or
// exception, puts the idle state back: dialog enabled, window flushed, hidden and destroyed,
// the dialog's and the engine's m_pProgress null, and the keyboard focus where it was (a
// disabled window loses it for good otherwise).
class CCrawlSession {
public:
    explicit CCrawlSession(CCrawlerDlg& dialog)
        : m_dialog(dialog), m_pFocus(FocusIn(dialog)),
          m_pWindow(std::make_unique<CProgressDialog>(&dialog)) {
        m_dialog.m_pProgress = m_pWindow.get();
        m_dialog.m_engine.m_pProgress = m_pWindow.get();
        m_pWindow->Show();
        m_pWindow->SetFocus();
        m_dialog.Enable(false);
    }
    ~CCrawlSession() {
        m_dialog.Enable(true);
        m_pWindow->FlushRepaints();
        m_pWindow->Hide();
        m_pWindow.reset();
        m_dialog.m_engine.m_pProgress = nullptr;
        m_dialog.m_pProgress = nullptr;
        m_dialog.Raise();
        if (m_pFocus)
            m_pFocus->SetFocus();
    }
    CCrawlSession(const CCrawlSession&) = delete;
    CCrawlSession& operator=(const CCrawlSession&) = delete;

private:
    static wxWindow* FocusIn(wxDialog& dialog) {
        wxWindow* focus = wxWindow::FindFocus();
        return focus && dialog.IsDescendant(focus) ? focus : nullptr;
    }

    CCrawlerDlg& m_dialog;
    wxWeakRef<wxWindow> m_pFocus;
    std::unique_ptr<CProgressDialog> m_pWindow;
};
} // namespace

void CCrawlerDlg::OnStartCrawl() {
    // 1-2. Both fields, trimmed, the folder cut to the path limit without a trailing '/';
    // the fields keep their text. "~" and relative folders lie in the home folder.
    const std::u16string startUrl = TrimmedField(FromWx(m_editUrl->GetValue()));
    // 3. The folder made with its parents, or refused with the reason.
    const CSaveFolder folder = PrepareSaveFolder(FromWx(m_editPath->GetValue()));
    if (!folder.m_szRefusal.empty()) {
        MessageBox(this, folder.m_szRefusal, u"Patchmere Crawler", MB_OK | MB_ICONERROR);
        return;
    }

    // 4. Remember both as typed.
    theApp().WriteProfileString(u"Config", u"LastURL", startUrl);
    theApp().WriteProfileString(u"Config", u"LastPath", folder.m_szText);

    m_szCrawlFolder = folder.m_szText;
    RunCrawlSession([&] { RunCrawl(startUrl.c_str()); });
}

void CCrawlerDlg::OnRetryFailed() {
    // Into the crawl's folder, made again if it went, or refused as Start refuses it.
    const CSaveFolder folder = PrepareSaveFolder(m_szCrawlFolder);
    if (!folder.m_szRefusal.empty()) {
        MessageBox(this, folder.m_szRefusal, u"Patchmere Crawler", MB_OK | MB_ICONERROR);
        return;
    }
    const CCrawlReport earlier = m_engine.m_outcome.m_report;
    m_engine.m_szRetryFolder = folder.m_szText;
    RunCrawlSession([&] { m_engine.RetryFailed(earlier); });
    m_engine.m_szRetryFolder.clear();
}

void CCrawlerDlg::RunCrawlSession(const std::function<void()>& crawl) {
    SetOutcome(u"");
    CCrawlOutcome& outcome = m_engine.m_outcome;
    outcome = CCrawlOutcome();
    m_engine.m_nMaxConnections = MaxConnectionsSetting();
    const int64_t ftStart = GetSystemTimeAsFileTime();
    bool bCancelled = false;
    bool bInFront = true;
    std::u16string failure;
    try {
        // 5-8. Progress window shown and focused, main dialog disabled.
        CCrawlSession session(*this);
        // 9. Every address is fetched again in a new crawl.
        m_engine.m_visited.Clear();
        m_engine.m_walked.Clear();
        // 10. On the crawl's own deep stack; an exception comes back out here.
        RunOnCrawlStack(crawl);
        bCancelled = m_pProgress->m_bCancel && outcome.m_szStopReason.empty();
        bInFront = IsInFront();
        // 11-12. The session puts the idle state back.
    } catch (const std::bad_alloc&) {
        // The idle state is back; the program goes on without this crawl.
        failure = u"Out of memory: the crawl was stopped.";
    } catch (const std::exception&) {
        // Nothing else is expected to escape the engine; if it does, the user is told and
        // keeps a working program rather than losing it.
        failure = u"An unexpected error stopped the crawl.";
    }
    if (!failure.empty() && outcome.m_szStopReason.empty())
        outcome.m_szStopReason = failure;

    // What the crawl did stays in the main window; a failure that stopped it is also told in
    // a box, which the user has to answer.
    const int64_t elapsedSeconds = ElapsedSeconds(ftStart, GetSystemTimeAsFileTime());
    SetOutcome(FormatOutcome(outcome, bCancelled, elapsedSeconds));
    ShowAfterCrawl();
    // A long crawl is left to run behind other windows; its end is told where the user is.
    // Without a notification service the window asks for attention instead (its entry in
    // the task bar is marked until the user comes to it).
    if (!bInFront && elapsedSeconds > kNotifyAfterSeconds &&
        !ShowNotification(u"Patchmere Crawler", FormatOutcomeSummary(outcome, bCancelled)))
        RequestUserAttention(wxUSER_ATTENTION_ERROR);
    if (!outcome.m_szStopReason.empty())
        MessageBox(this, outcome.m_szStopReason, u"Patchmere Crawler", MB_OK | MB_ICONERROR);
}

bool CCrawlerDlg::IsInFront() const {
    for (wxWindow* window : wxTopLevelWindows) {
        auto* topLevel = dynamic_cast<wxTopLevelWindow*>(window);
        if (topLevel && topLevel->IsShown() && topLevel->IsActive())
            return true;
    }
    return false;
}
