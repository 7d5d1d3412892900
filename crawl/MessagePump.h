// One pass of the engine's cooperative waits: take at most one message and dispatch it, or
// wait a millisecond for the next one.
#pragma once

#include "platform/pump/pump.h"

inline void PumpOneMessage() {
    MSG msg;
    if (PeekMessage(&msg)) {
        TranslateMessage(&msg);
        DispatchMessage(&msg);
    } else {
        Sleep(1);
    }
}
