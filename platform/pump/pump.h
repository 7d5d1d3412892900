// The GUI thread's one message pump. A "message" is either a pending GUI event or a
// notification that a service (the download service) has queued for delivery.
// It needs no toolkit: the GUI side is installed through SetPumpGui (platform/wx/pump_gui
// for the program). The download service posts to it; the engine's waits turn it.
#pragma once

#include "platform/com/com.h"

#include <functional>

struct MSG {
    enum class Kind { None, Gui, Posted } kind = Kind::None;
    std::function<void()> posted;
};

// Takes at most one message: first advances the registered services (so finished transfers
// queue their notifications), then takes a queued notification, else one GUI event.
bool PeekMessage(MSG* msg);
void TranslateMessage(const MSG* msg);
void DispatchMessage(MSG* msg);
// Waits for the next message (GUI event or transfer activity) for at most ms milliseconds.
void Sleep(DWORD ms);

// For services: queue a notification to be dispatched by the pump, in order.
void PostThreadMessage(std::function<void()> message);
// Drops every queued notification (at shutdown).
void DiscardPostedMessages();

// A service that advances its work from the pump and can wait for its own activity.
struct PumpSource {
    std::function<void()> advance;           // non-blocking; may post notifications
    std::function<bool(int timeoutMs)> wait; // waits for activity; false when idle
};
void RegisterPumpSource(PumpSource source);
void UnregisterPumpSources();

// The GUI side of the pump; the UI installs it (tests may leave it out).
struct PumpGui {
    std::function<bool()> pending;
    std::function<void()> dispatch;
};
void SetPumpGui(PumpGui gui);
