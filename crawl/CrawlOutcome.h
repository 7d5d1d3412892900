// What one crawl did, kept by the engine as it goes and told to the user when it ends: the
// counts of its tones and pages, and why it stopped when it did not finish.
#pragma once

#include "crawl/CrawlReport.h"
#include "platform/com/com.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>

// A failure's reason as the user reads it: the service's words, or a plain default.
inline std::u16string_view FailureReason(std::u16string_view reason) {
    return reason.empty() ? u"the download failed" : reason;
}

struct CCrawlOutcome {
    int m_nNewTones = 0;
    int m_nAlreadyThere = 0;
    int m_nFailedPages = 0;
    int m_nCutPages = 0;    // read only in part: larger than a page may be
    int m_nServerWaits = 0; // times a server asked the crawl to slow down
    int m_nPagesWalked = 0;
    int m_nPagesKnown = 0; // the start page and the distinct numbered page links seen
    // Every tone and page that failed or was read in part, with its address and why.
    CCrawlReport m_report;
    bool m_bStartPageDone = false;
    // Why the start page could not be fetched, as the user reads it; empty when it was.
    std::u16string m_szStartPageError;
    // A failure of the folder or the download cache that ended the crawl early: every later
    // tone would have failed the same way. Empty while the crawl may go on.
    std::u16string m_szStopReason;
    // Why the first tone or page that failed did, with its name, as the user reads it
    // ("couldn't store \"Pad.l6t\": No space left on device"); empty while none failed. The
    // log that told it first is emptied with the next tone, so the outcome line keeps it.
    std::u16string m_szFirstFailure;
    // Why the harvest record could not be used (every tone was downloaded); empty when it was.
    std::u16string m_szRecordProblem;
    // Why the report of what failed could not be kept for a later retry; empty when it was.
    std::u16string m_szReportProblem;

    // A tone that failed stays failed until a later link to the same address succeeds.
    void ToneFailed(LPCWSTR url) { m_failedTones.insert(url); }
    void ToneDealtWith(LPCWSTR url) {
        if (!m_failedTones.empty()) {
            m_failedTones.erase(url);
            m_report.ToneDealtWith(url);
        }
    }
    // A tone that could not be fetched or stored, and a page that could not be fetched:
    // failures whose reason the outcome line keeps, for the first of them.
    void ToneNotFetched(LPCWSTR url, LPCWSTR name, std::u16string_view reason) {
        ToneFailed(url);
        KeepFirstFailure(u"couldn't fetch \"", name, reason);
    }
    void ToneNotStored(LPCWSTR url, LPCWSTR fileName, std::u16string_view reason) {
        ToneFailed(url);
        KeepFirstFailure(u"couldn't store \"", fileName, reason);
    }
    void PageFailed(LPCWSTR url, std::u16string_view reason) {
        ++m_nFailedPages;
        KeepFirstFailure(u"couldn't fetch the page \"", url, reason);
    }
    int FailedTones() const { return static_cast<int>(m_failedTones.size()); }

private:
    void KeepFirstFailure(std::u16string_view what, LPCWSTR name, std::u16string_view reason) {
        if (!m_szFirstFailure.empty())
            return;
        m_szFirstFailure = std::u16string(what) + name + u"\": ";
        m_szFirstFailure += FailureReason(reason);
    }

    std::unordered_set<std::u16string> m_failedTones;
};

// The line the main window keeps after a crawl, for example
// "35 new tones stored, 12 already there, 1 failed, slowed down by the server 3 times, in
// 0:00:07", followed by why the first tone or page that failed did, if one failed.
std::u16string FormatOutcome(const CCrawlOutcome& outcome, bool bCancelled, int64_t elapsedSeconds);

// The outcome in short, for a notification: "35 new tones stored, 2 failed".
std::u16string FormatOutcomeSummary(const CCrawlOutcome& outcome, bool bCancelled);
