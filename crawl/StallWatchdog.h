// The stall watchdog of one attempt at a transfer, a tone's or a page's: a transfer that has
// told nothing for more than 20 s, or has brought less than 1 KB/s over the last minute,
// has stalled; 10 s of grace later it is given up, and tried again while attempts are left.
// A wait the server asked for is no stall: the watchdog rests while it runs, and counts
// afresh from its end.
#pragma once

#include "crawl/CrawlProgress.h"

#include <cstdint>
#include <deque>

class CDownloadCallback;

class CStallWatchdog {
public:
    CStallWatchdog(ICrawlProgress* pProgress, int retriesLeft);

    // One pass of the wait; bServerWait while the transfer waits because its server asked
    // it to. True when the transfer is to be given up now.
    bool IsGivenUp(const CDownloadCallback& observer, bool bServerWait);
    // Why the transfer failed when its last attempt was given up too: it trickled, or it
    // fell silent.
    LPCWSTR GiveUpReason() const {
        return m_bTrickle ? u"the server is sending too slowly"
                          : u"the server stopped sending it, three times";
    }

    static constexpr DWORD kStallMs = 20000;
    static constexpr DWORD kGraceMs = 10000;
    // Less than this many bytes over the last kRateWindowMs is a trickle, not a transfer.
    static constexpr DWORD kRateWindowMs = 60000;
    static constexpr uint64_t kMinBytesPerWindow = 60 * 1024;

private:
    struct CSample {
        DWORD dwTick;
        uint64_t nBytes;
    };
    bool IsTrickle(DWORD dwNow, uint64_t nBytes);

    ICrawlProgress* m_pProgress;
    int m_nRetriesLeft;
    bool m_bStalled = false;
    bool m_bStuckLogged = false;
    bool m_bTrickle = false;
    DWORD m_dwGraceStart = 0;
    DWORD m_dwQuietSince;          // the start, or the end of the last wait on the server
    std::deque<CSample> m_samples; // one a second, over the last minute
};
