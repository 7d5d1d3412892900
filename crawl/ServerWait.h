// A wait the server asked for, as the front ends learn of it: while a transfer waits because
// its server asked it to slow down, the engine tells it through the progress interface
// (kServerWait) when the wait starts, as each second of it passes and when it is over; and it
// counts the waits for the outcome line.
#pragma once

#include "crawl/CrawlOutcome.h"
#include "crawl/CrawlProgress.h"

#include <string>

class CDownloadCallback;

// What the front ends show of a kServerWait event that is still running: "The server asked
// to slow down; trying again in 20 s".
std::u16string ServerWaitText(const CCrawlEvent& event);

class CServerWaitReport {
public:
    CServerWaitReport(ICrawlProgress* pProgress, LPCWSTR url, CCrawlOutcome& outcome);
    // A wait still shown is told over.
    ~CServerWaitReport();
    CServerWaitReport(const CServerWaitReport&) = delete;
    CServerWaitReport& operator=(const CServerWaitReport&) = delete;

    // One pass of the engine's wait: true while the transfer waits on its server.
    bool Poll(const CDownloadCallback& observer);

private:
    void Tell(const CDownloadCallback* observer, DWORD msLeft);

    ICrawlProgress* m_pProgress;
    std::u16string m_szUrl;
    CCrawlOutcome& m_outcome;
    int m_nWaitsCounted = 0;
    bool m_bShown = false;
    DWORD m_nSecondsShown = 0;
    std::u16string m_szReason;
};
