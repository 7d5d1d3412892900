// One pass of the engine's cooperative waits: take at most one message and dispatch it, or
// wait for the next one. The wait ends at once on a GUI event or a transfer's activity; its
// bound only lets the waits' own checks (Cancel, the stall watchdog, the totals line) run
// now and then while nothing happens.
#pragma once

#include "crawl/CrawlProgress.h"
#include "platform/pump/pump.h"

inline constexpr DWORD kIdleWaitMs = 10;

inline void PumpOneMessage() {
    MSG msg;
    if (PeekMessage(&msg)) {
        TranslateMessage(&msg);
        DispatchMessage(&msg);
    } else {
        Sleep(kIdleWaitMs);
    }
}

// For the time of a crawl, long work that keeps the window responsive (parsing a large page)
// is left as soon as the crawl is cancelled or stopped: Cancel is heard in the middle of it.
class CAbandonOnCancel {
public:
    explicit CAbandonOnCancel(const ICrawlProgress* pProgress) {
        SetAbandonTest([pProgress] { return pProgress->m_bCancel != 0; });
    }
    ~CAbandonOnCancel() { SetAbandonTest(nullptr); }
    CAbandonOnCancel(const CAbandonOnCancel&) = delete;
    CAbandonOnCancel& operator=(const CAbandonOnCancel&) = delete;
};
