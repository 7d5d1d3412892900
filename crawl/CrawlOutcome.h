// What one crawl did, kept by the engine as it goes and told to the user when it ends: the
// counts of its tones and pages, and why it stopped when it did not finish.
#pragma once

#include "platform/com/com.h"

#include <cstdint>
#include <string>
#include <unordered_set>

struct CCrawlOutcome {
    int m_nNewTones = 0;
    int m_nAlreadyThere = 0;
    int m_nFailedPages = 0;
    int m_nCutPages = 0; // read only in part: larger than a page may be
    bool m_bStartPageDone = false;
    // Why the start page could not be fetched, as the user reads it; empty when it was.
    std::u16string m_szStartPageError;
    // A failure of the folder or the download cache that ended the crawl early: every later
    // tone would have failed the same way. Empty while the crawl may go on.
    std::u16string m_szStopReason;
    // Why the harvest record could not be used (every tone was downloaded); empty when it was.
    std::u16string m_szRecordProblem;

    // A tone that failed stays failed until a later link to the same address succeeds.
    void ToneFailed(LPCWSTR url) { m_failedTones.insert(url); }
    void ToneDealtWith(LPCWSTR url) {
        if (!m_failedTones.empty())
            m_failedTones.erase(url);
    }
    int FailedTones() const { return static_cast<int>(m_failedTones.size()); }

private:
    std::unordered_set<std::u16string> m_failedTones;
};

// The line the main window keeps after a crawl, for example
// "35 new tones stored, 12 already there, 1 failed, in 0:00:07".
std::u16string FormatOutcome(const CCrawlOutcome& outcome, bool bCancelled, int64_t elapsedSeconds);
