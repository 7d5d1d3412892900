// The tests' pump loop: runs the GUI thread's message pump until a condition holds, with a
// safety cap, and marks when a message is being dispatched.
#pragma once

#include "platform/pump/pump.h"

#include <chrono>
#include <functional>

// Set by PumpUntil around DispatchMessage: notifications must arrive only there.
inline bool g_bDispatching = false;

// Pumps until done() holds; false when the cap is reached first (a fault, not a wait).
inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::seconds cap = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + cap;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        MSG msg;
        if (PeekMessage(&msg)) {
            TranslateMessage(&msg);
            g_bDispatching = true;
            DispatchMessage(&msg);
            g_bDispatching = false;
        } else {
            Sleep(1);
        }
    }
    return true;
}
