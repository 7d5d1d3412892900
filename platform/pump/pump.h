// The GUI thread's one message pump. A "message" is either a pending GUI event or a
// notification that a service (the download service) has queued for delivery.
// It needs no toolkit: the GUI side is installed through SetPumpGui (platform/wx/pump_gui
// for the program). The download service posts to it; the engine's waits turn it.
#pragma once

#include "platform/com/com.h"

#include <cstddef>
#include <functional>
#include <vector>

#include <poll.h>

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
// Without a GUI that can be waited on (PumpGui::prepareWait), at most 1 ms.
void Sleep(DWORD ms);

// For services: queue a notification to be dispatched by the pump, in order.
void PostThreadMessage(std::function<void()> message);
// Drops every queued notification (at shutdown).
void DiscardPostedMessages();

// A service that advances its work from the pump and can wait for its own activity.
struct PumpSource {
    std::function<void()> advance; // non-blocking; may post notifications
    // Waits for its own activity or for one of guiFds (filling in their revents), at most
    // timeoutMs; false, without waiting, when it has nothing in flight.
    std::function<bool(int timeoutMs, std::vector<pollfd>& guiFds)> wait;
};
void RegisterPumpSource(PumpSource source);
void UnregisterPumpSources();

// The GUI side of the pump; the UI installs it (tests may leave it out).
struct PumpGui {
    std::function<bool()> pending;
    std::function<void()> dispatch;
    // Optional, together: what an idle wait watches for the GUI. prepareWait fills fds with the
    // GUI's event sources and returns how long it may wait at most (-1: no limit of its own);
    // finishWait hands the polled fds back. Waits then end on a GUI event as on a transfer's.
    std::function<int(std::vector<pollfd>& fds)> prepareWait;
    std::function<void(std::vector<pollfd>& fds)> finishWait;
};
void SetPumpGui(PumpGui gui);
// For a program with no GUI at all (the command line): nothing can arrive but the services'
// activity and signals, so an idle wait may last its whole bound instead of waking every
// millisecond for events it cannot see (a signal ends it). A signal is such a program's one
// event, heard where a window's would be, long work included: signalled says one is raised and
// not yet heard, hear hears it (Ctrl+C becomes Cancel).
void SetPumpWithoutGui(std::function<bool()> signalled = {}, std::function<void()> hear = {});

// For one long piece of work on the GUI thread (parsing a large page): call it often, it costs
// next to nothing; steps says about how many small steps (a few dozen instructions each) the
// work did since it last called. Every few tens of milliseconds it dispatches the pending GUI
// events, never a queued notification (those could reach the very object at work), so the window,
// and its Cancel button, is heard. True when the work should be left where it stands: the abandon
// test says so, or a GUI event threw (see RethrowDispatchFailure). It never throws, so it may
// be called from inside C code.
bool KeepResponsive(size_t steps = 1);
// Whether work in progress is to be abandoned; the crawl installs its cancel flag for the time
// it runs. An empty function: work never is.
void SetAbandonTest(std::function<bool()> test);
// Asks at once what KeepResponsive answers on its turns.
bool WorkAbandoned();
// Rethrows, once, what a GUI event that KeepResponsive dispatched threw; abandoned work calls
// it when it is back out of C frames, so the failure goes where any GUI event's would.
void RethrowDispatchFailure();
