// One pass of the engine's cooperative waits: take at most one message and dispatch it, or
// wait for the next one. The wait ends at once on a GUI event or a transfer's activity; its
// bound only lets the waits' own checks (Cancel, the stall watchdog, the totals line) run
// now and then while nothing happens.
#pragma once

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
