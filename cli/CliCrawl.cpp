#include "cli/CliCrawl.h"
#include "cli/JsonEvents.h"

#include "cli/LocaleText.h"
#include "crawl/CrawlStack.h"
#include "crawl/DisplayFormats.h"
#include "crawl/SaveFolder.h"
#include "crawl/ServerWait.h"
#include "platform/clock.h"
#include "platform/pump/pump.h"
#include "platform/text/text.h"

#include <cstdio>
#include <filesystem>
#include <new>
#include <optional>

namespace {

constexpr std::u16string_view kLineBreak = u"\r\n";

// A relative folder lies in the current directory, as for every command; "~" and "~/..."
// are left to the preparation that the window shares.
std::u16string FolderArgument(const std::u16string& text) {
    const std::u16string folder = TrimmedField(text);
    if (folder.empty() || folder.front() == u'/' || folder == u"~" || folder.starts_with(u"~/"))
        return folder;
    std::error_code error;
    const std::filesystem::path current = std::filesystem::current_path(error);
    return error ? folder : FromNativeName(current.native()) + u"/" + folder;
}

std::u16string Because(const std::u16string& reason) {
    return reason.empty() ? reason : u": " + reason;
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
    // Nothing but transfers can wake a wait here, and a signal ends it at once. The signal is
    // heard as the window's Cancel is, also in the middle of a page's parse.
    SetPumpWithoutGui([this] { return m_bInterrupted && !m_bCancel; }, [this] { m_bCancel = 1; });
    ComRuntimeScope runtime;
    if (FAILED(runtime.Result())) {
        Error(u"The download service could not be started: its temporary folder could not be "
              u"made.");
        return kExitNotRun;
    }

    // What is retried is what the last crawl into the folder left, here or in the window.
    CCrawlReport earlier;
    if (m_options.m_bRetryFailed && !earlier.Load(folder.m_szFolder)) {
        Error(u"There is nothing to retry: no crawl into " + folder.m_szFolder +
              u" left a report of what failed (" + FromUtf8(CrawlReportPath(folder.m_szFolder)) +
              u").");
        return kExitNotRun;
    }

    m_engine.m_szFolder = folder.m_szFolder;
    m_engine.m_nMaxConnections = m_options.m_nConnections;
    m_engine.m_pProgress = this;
    m_ftStart = GetSystemTimeAsFileTime();
    std::u16string failure;
    try {
        RunOnCrawlStack([&] {
            if (m_options.m_bRetryFailed)
                m_engine.RetryFailed(earlier);
            else
                m_engine.Crawl(startUrl.c_str());
        });
    } catch (const std::bad_alloc&) {
        failure = u"Out of memory: the crawl was stopped.";
    } catch (const std::exception&) {
        failure = u"An unexpected error stopped the crawl.";
    }
    m_engine.m_pProgress = nullptr;
    if (!failure.empty() && m_engine.m_outcome.m_szStopReason.empty())
        m_engine.m_outcome.m_szStopReason = failure;

    m_status.Clear();
    const bool bCancelled = m_bCancel && m_engine.m_outcome.m_szStopReason.empty();
    return Finish(bCancelled, ElapsedSeconds(m_ftStart, GetSystemTimeAsFileTime()));
}

int CCliCrawl::Finish(bool bCancelled, int64_t elapsedSeconds) {
    const CCrawlOutcome& outcome = m_engine.m_outcome;
    const std::u16string line = FormatOutcome(outcome, bCancelled, elapsedSeconds);
    if (!outcome.m_szStartPageError.empty()) {
        if (m_options.m_bJson)
            PrintJson(JsonOutcome(outcome, bCancelled, elapsedSeconds, kExitNotRun));
        Error(line); // the reason is the whole line
        return kExitNotRun;
    }
    int status = kExitDone;
    if (!outcome.m_szStopReason.empty())
        status = kExitNotRun;
    else if (bCancelled)
        status =
            m_bInterrupted || !m_status.IsOutputClosed() ? kExitInterrupted : kExitOutputClosed;
    else if (outcome.FailedTones() > 0 || outcome.m_nFailedPages > 0 || outcome.m_nCutPages > 0)
        status = kExitSomeFailed; // a page read only in part may have hidden tones
    // Quiet stays quiet about a crawl that went well, so a timer or cron reports only trouble
    // (a harvest record that could not be used among it, though every tone came through).
    if (m_options.m_bJson)
        PrintJson(JsonOutcome(outcome, bCancelled, elapsedSeconds, status));
    else if (!m_options.m_bQuiet)
        m_status.PrintLine(line);
    else if (status != kExitDone || !outcome.m_szRecordProblem.empty())
        m_status.PrintLine(line, true);
    if (!outcome.m_szStopReason.empty())
        Error(outcome.m_szStopReason);
    return status;
}

void CCliCrawl::SetPageStatus(LPCWSTR text) {
    m_szPageStatus = text ? text : u"";
    Poll();
}

void CCliCrawl::SetToneStatus(LPCWSTR text) {
    m_szToneStatus = text ? text : u"";
    Poll();
}

void CCliCrawl::AppendLog(LPCWSTR) {
    Poll();
}

void CCliCrawl::ClearLog() {
    Poll();
}

void CCliCrawl::SetProgress(ULONG, ULONG pos) {
    m_meter.OnTransferProgress(pos);
    Poll();
}

void CCliCrawl::UpdateTotals(bool) {
    Poll();
}

void CCliCrawl::OnCrawlEvent(const CCrawlEvent& event) {
    m_meter.OnCrawlEvent(event);
    if (m_options.m_bJson) {
        PrintJson(JsonEvent(event));
        return Poll();
    }
    const std::u16string url(event.m_szUrl);
    // A tone shown by its whole address is named once.
    const std::u16string tone = event.m_szName.empty() || event.m_szName == event.m_szUrl
                                    ? url
                                    : std::u16string(event.m_szName) + u" (" + url + u")";
    switch (event.m_kind) {
    case CCrawlEvent::kToneStored:
        // In a pipe or a log the name as the file system holds it, so a script can open the
        // file; on a terminal the status line counts them.
        if (!m_status.IsTerminal() && !m_options.m_bQuiet)
            m_status.PrintBytes(OutputText(u"stored: ") + OutputFileName(event.m_szName));
        break;
    case CCrawlEvent::kToneFailed:
        Note(u"failed tone: " + tone + Because(std::u16string(event.m_szReason)));
        break;
    case CCrawlEvent::kPageFailed:
        // The start page's failure is told once, as the reason the crawl could not start.
        if (m_engine.m_outcome.m_szStartPageError.empty())
            Note(u"failed page: " + url + Because(std::u16string(event.m_szReason)));
        break;
    case CCrawlEvent::kPageCut:
        Note(u"page too large to read whole: " + url);
        break;
    case CCrawlEvent::kServerWait: // shown on the status line until it is over
        m_szServerWait = event.m_nMsLeft > 0 ? ServerWaitText(event) : std::u16string();
        break;
    default:
        break;
    }
    Poll();
}

void CCliCrawl::Poll() {
    if (m_bInterrupted || m_status.IsOutputClosed())
        m_bCancel = 1;
    if (!m_options.m_bQuiet && !m_options.m_bJson && m_status.Due())
        m_status.Draw(StatusText());
}

// The window's texts on one line: the tone's first line (its second repeats the address,
// which the line has no room for) and the page's two.
std::u16string CCliCrawl::StatusText() {
    const std::optional<uint64_t> rate = m_meter.Rate();
    std::u16string text =
        FormatElapsed(ElapsedSeconds(m_ftStart, GetSystemTimeAsFileTime())) + u" | ";
    if (const std::u16string pages = m_meter.PagesText(); !pages.empty())
        text += pages + u" | ";
    text +=
        FormatNumber(m_engine.m_outcome.m_nNewTones) + u" stored | " + FormatBytes(m_meter.Bytes());
    if (rate)
        text += u" at " + FormatBytes(*rate) + u"/s";
    if (!m_szServerWait.empty())
        text += u" | " + m_szServerWait;
    if (!m_szToneStatus.empty())
        text += u" | " + m_szToneStatus.substr(0, m_szToneStatus.find(kLineBreak));
    if (!m_szPageStatus.empty()) {
        std::u16string page = m_szPageStatus;
        if (const size_t lineBreak = page.find(kLineBreak); lineBreak != std::u16string::npos)
            page.replace(lineBreak, kLineBreak.size(), u" ");
        text += u" | " + page;
    }
    return text;
}

void CCliCrawl::PrintJson(const std::string& line) {
    std::fputs((line + '\n').c_str(), stdout);
    std::fflush(stdout); // a script reads each event as it happens
}

void CCliCrawl::Note(const std::u16string& line) {
    if (!m_options.m_bQuiet)
        m_status.PrintLine(line);
}

void CCliCrawl::Error(const std::u16string& text) {
    m_status.PrintLine(u"pmcrawler: " + text, true);
}
