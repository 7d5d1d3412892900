#include "cli/CliCrawl.h"

#include "crawl/CrawlStack.h"
#include "crawl/SaveFolder.h"
#include "crawl/ServerWait.h"
#include "platform/clock.h"
#include "platform/pump/pump.h"
#include "platform/text/text.h"

#include <filesystem>
#include <new>

namespace {

// The texts the engine reports with, as the progress window shows them.
constexpr std::u16string_view kFetchingPage = u"Downloading page\r\n";
constexpr std::u16string_view kWalkingPage = u"Walking links on\r\n";
constexpr std::u16string_view kFetchingTone = u"Downloading tone ";
constexpr std::u16string_view kStoringTone = u"Copying tone ";
constexpr std::u16string_view kLineBreak = u"\r\n";
// How a transfer observer logs the service's reason for a failed transfer.
constexpr std::u16string_view kStopReason = u"OnStopBinding: ";

constexpr int64_t kFileTimeUnitsPerSecond = 10000000;

// A relative folder lies in the current directory, as for every command; "~" and "~/..."
// are left to the preparation that the window shares.
std::u16string FolderArgument(const std::u16string& text) {
    const std::u16string folder = TrimmedField(text);
    if (folder.empty() || folder.front() == u'/' || folder == u"~" || folder.starts_with(u"~/"))
        return folder;
    std::error_code error;
    const std::filesystem::path current = std::filesystem::current_path(error);
    return error ? folder : FromUtf8(current.string()) + u"/" + folder;
}

std::u16string Number(uint64_t n) {
    return FromUtf8(std::to_string(n));
}

std::u16string Bytes(uint64_t n) {
    constexpr const char16_t* kUnits[] = {u" B", u" KB", u" MB", u" GB", u" TB"};
    size_t unit = 0;
    uint64_t tenths = n * 10;
    while (tenths >= 10240 && unit + 1 < std::size(kUnits)) {
        tenths /= 1024;
        ++unit;
    }
    std::u16string text = Number(tenths / 10);
    if (unit > 0 && tenths < 100)
        text += u"." + Number(tenths % 10);
    return text + kUnits[unit];
}

std::u16string Because(const std::u16string& reason) {
    return reason.empty() ? reason : u": " + reason;
}

std::u16string Elapsed(int64_t seconds) {
    WCHAR szTime[64];
    wnsprintf(szTime, 64, u"%d:%02d:%02d", static_cast<int>(seconds / 3600),
              static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return szTime;
}

} // namespace

CCliCrawl::CCliCrawl(const CCliOptions& options, const volatile std::sig_atomic_t& interrupted)
    : m_options(options), m_bInterrupted(interrupted) {}

int CCliCrawl::Run() {
    // The same trimming and the same folder as Start, made or refused the same way.
    const std::u16string startUrl = TrimmedField(m_options.m_szUrl);
    const CSaveFolder folder = PrepareSaveFolder(FolderArgument(m_options.m_szFolder));
    if (!folder.m_szRefusal.empty()) {
        Error(folder.m_szRefusal);
        return kExitNotRun;
    }
    // Nothing but transfers can wake a wait here, and a signal ends it at once.
    SetPumpWithoutGui();
    ComRuntimeScope runtime;
    if (FAILED(runtime.Result())) {
        Error(u"The download service could not be started: its temporary folder could not be "
              u"made.");
        return kExitNotRun;
    }

    m_engine.m_szFolder = folder.m_szFolder;
    m_engine.m_nMaxConnections = m_options.m_nConnections;
    m_engine.m_pProgress = this;
    m_ftStart = GetSystemTimeAsFileTime();
    std::u16string failure;
    try {
        RunOnCrawlStack([&] { m_engine.Crawl(startUrl.c_str()); });
    } catch (const std::bad_alloc&) {
        failure = u"Out of memory: the crawl was stopped.";
    } catch (const std::exception&) {
        failure = u"An unexpected error stopped the crawl.";
    }
    m_engine.m_pProgress = nullptr;
    if (!failure.empty() && m_engine.m_outcome.m_szStopReason.empty())
        m_engine.m_outcome.m_szStopReason = failure;

    ReportPages();
    m_status.Clear();
    const bool bCancelled = m_bCancel && m_engine.m_outcome.m_szStopReason.empty();
    return Finish(bCancelled, (GetSystemTimeAsFileTime() - m_ftStart) / kFileTimeUnitsPerSecond);
}

int CCliCrawl::Finish(bool bCancelled, int64_t elapsedSeconds) {
    const CCrawlOutcome& outcome = m_engine.m_outcome;
    const std::u16string line = FormatOutcome(outcome, bCancelled, elapsedSeconds);
    if (!outcome.m_szStartPageError.empty()) {
        Error(line); // the reason is the whole line
        return kExitNotRun;
    }
    int status = kExitDone;
    if (!outcome.m_szStopReason.empty())
        status = kExitNotRun;
    else if (bCancelled)
        status = kExitInterrupted;
    else if (outcome.FailedTones() > 0 || outcome.m_nFailedPages > 0 || outcome.m_nCutPages > 0)
        status = kExitSomeFailed; // a page read only in part may have hidden tones
    // Quiet stays quiet about a crawl that went well, so a timer or cron reports only trouble
    // (a harvest record that could not be used among it, though every tone came through).
    if (!m_options.m_bQuiet)
        m_status.PrintLine(line);
    else if (status != kExitDone || !outcome.m_szRecordProblem.empty())
        m_status.PrintLine(line, true);
    if (!outcome.m_szStopReason.empty())
        Error(outcome.m_szStopReason);
    return status;
}

void CCliCrawl::SetPageStatus(LPCWSTR text) {
    Poll();
    const std::u16string_view status = text ? text : u"";
    if (status.starts_with(kFetchingPage)) {
        m_szPage = status.substr(kFetchingPage.size());
        m_szPageFetched = m_szPage;
        m_szPageReason.clear();
    } else if (status.starts_with(kWalkingPage)) {
        m_szPage = status.substr(kWalkingPage.size());
    }
}

void CCliCrawl::SetToneStatus(LPCWSTR text) {
    Poll();
    const std::u16string_view status = text ? text : u"";
    const int nFailedTones = m_engine.m_outcome.FailedTones();
    if (status.starts_with(kFetchingTone)) {
        const std::u16string_view rest = status.substr(kFetchingTone.size());
        const size_t lineBreak = rest.find(kLineBreak);
        m_szTone = rest.substr(0, lineBreak);
        m_szToneUrl = lineBreak == std::u16string_view::npos ? std::u16string_view()
                                                             : rest.substr(lineBreak + 2);
        m_nFailedTonesBefore = nFailedTones;
        m_szToneReason.clear();
    } else if (status.starts_with(kStoringTone)) {
        m_szTone = status.substr(kStoringTone.size());
    } else if (status.empty()) { // the tone has been dealt with
        if (nFailedTones > m_nFailedTonesBefore)
            Note(u"failed tone: " +
                 (m_szTone == m_szToneUrl ? m_szTone : m_szTone + u" (" + m_szToneUrl + u")") +
                 Because(m_szToneReason));
        m_nFailedTonesBefore = nFailedTones;
        m_szTone.clear();
        m_szToneUrl.clear();
    }
}

void CCliCrawl::AppendLog(LPCWSTR text) {
    Poll();
    // Of the notifications only why a transfer failed is told, with the tone or page.
    const std::u16string_view line = text ? text : u"";
    if (line.starts_with(kStopReason))
        (m_szToneUrl.empty() ? m_szPageReason : m_szToneReason) = line.substr(kStopReason.size());
}

void CCliCrawl::ClearLog() {
    Poll();
}

void CCliCrawl::SetProgress(ULONG, ULONG pos) {
    // Each transfer counts up from 0; a position below the last one is a new transfer.
    m_nBytes += pos >= m_nLastPos ? pos - m_nLastPos : pos;
    m_nLastPos = pos;
    Poll();
}

void CCliCrawl::UpdateTotals(bool countOne) {
    if (countOne && !m_status.IsTerminal())
        Note(u"stored: " + m_szTone);
    Poll();
}

void CCliCrawl::OnCrawlEvent(const CCrawlEvent& event) {
    if (event.m_kind != CCrawlEvent::kServerWait)
        return;
    m_szServerWait = event.m_nMsLeft > 0 ? ServerWaitText(event) : std::u16string();
    Poll();
}

void CCliCrawl::Poll() {
    if (m_bInterrupted)
        m_bCancel = 1;
    ReportPages();
    if (!m_options.m_bQuiet && m_status.Due())
        m_status.Draw(StatusText());
}

// A page's failure is counted after its fetch, before anything else is reported; so the
// first report after it finds it, and the page is the last one fetched.
void CCliCrawl::ReportPages() {
    const CCrawlOutcome& outcome = m_engine.m_outcome;
    if (!outcome.m_szStartPageError.empty())
        return; // told once, as the reason the crawl could not start
    for (; m_nFailedPagesTold < outcome.m_nFailedPages; ++m_nFailedPagesTold)
        Note(u"failed page: " + m_szPageFetched + Because(m_szPageReason));
    for (; m_nCutPagesTold < outcome.m_nCutPages; ++m_nCutPagesTold)
        Note(u"page too large to read whole: " + m_szPageFetched);
}

std::u16string CCliCrawl::StatusText() const {
    const int64_t seconds = (GetSystemTimeAsFileTime() - m_ftStart) / kFileTimeUnitsPerSecond;
    std::u16string text = Elapsed(seconds < 0 ? 0 : seconds) + u" | " +
                          Number(m_engine.m_outcome.m_nNewTones) + u" stored | " + Bytes(m_nBytes);
    if (!m_szServerWait.empty())
        text += u" | " + m_szServerWait;
    if (!m_szTone.empty()) {
        // A tone named by its whole address shows its last part: the page has the room.
        std::u16string_view tone = m_szTone;
        if (tone == m_szToneUrl && tone.find_last_of(u'/') != std::u16string_view::npos)
            tone.remove_prefix(tone.find_last_of(u'/') + 1);
        text += u" | tone ";
        text += tone;
    }
    if (!m_szPage.empty())
        text += u" | page " + m_szPage;
    return text;
}

void CCliCrawl::Note(const std::u16string& line) {
    if (!m_options.m_bQuiet)
        m_status.PrintLine(line);
}

void CCliCrawl::Error(const std::u16string& text) {
    m_status.PrintLine(u"pmcrawler: " + text, true);
}
