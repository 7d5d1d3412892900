// The GUI thread's one message pump: notifications that services queue, and the GUI's own
// events. Everything runs on the calling thread; services only advance when it pumps.
#include "platform/pump/pump.h"

#include "platform/clock.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>
#include <exception>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Long work asks the clock only every so many calls, and the GUI no more often than a window
// needs to feel live; a burst of GUI events is taken in bounded portions.
constexpr size_t kStepsPerClockRead = 1024;
constexpr uint32_t kResponsiveMs = 30;
constexpr int kGuiEventsPerTurn = 64;

struct Pump {
    std::deque<std::function<void()>> posted;
    // How many of the queued messages were there when the sources last advanced.
    size_t queuedAtAdvance = 0;
    // The sources' last advance queued messages, and no GUI event has been taken since.
    bool burstSinceGui = false;
    std::vector<PumpSource> sources;
    PumpGui gui;
    std::vector<pollfd> guiFds; // kept between waits: one wait runs per idle pass

    // KeepResponsive's state.
    std::function<bool()> abandonTest;
    size_t stepsSinceClock = 0;
    uint32_t lastTurn = 0;
    bool inTurn = false;           // a GUI event it dispatched is running
    std::exception_ptr guiFailure; // what such an event threw, until rethrown
};

// Without the GUI's event sources to wait on, an idle wait cannot see a GUI event arrive.
constexpr int kBlindWaitMs = 1;

Pump& ThePump() {
    static Pump pump;
    return pump;
}

void AdvanceSources() {
    // Sources advance without posting from inside themselves and do not register or
    // unregister while they advance; the size check keeps the loop safe all the same. No
    // copy of the list is taken: this runs on every pass of every wait.
    std::vector<PumpSource>& sources = ThePump().sources;
    const size_t count = sources.size();
    for (size_t i = 0; i < count && i < sources.size(); ++i) {
        if (sources[i].advance)
            sources[i].advance();
    }
}

bool TakeGuiEvent(MSG* msg) {
    ThePump().burstSinceGui = false;
    if (msg) {
        msg->kind = MSG::Kind::Gui;
        msg->posted = nullptr;
    }
    return true;
}

// Dispatches what the GUI has pending, a portion at a time; true when the work should stop.
bool ResponsiveTurn(Pump& pump) {
    pump.inTurn = true;
    try {
        for (int i = 0; i < kGuiEventsPerTurn && pump.gui.pending && pump.gui.pending(); ++i) {
            pump.burstSinceGui = false;
            if (pump.gui.dispatch)
                pump.gui.dispatch();
        }
    } catch (...) {
        if (!pump.guiFailure)
            pump.guiFailure = std::current_exception();
    }
    pump.inTurn = false;
    return WorkAbandoned();
}

} // namespace

bool KeepResponsive(size_t steps) {
    Pump& pump = ThePump();
    pump.stepsSinceClock += steps;
    if (pump.stepsSinceClock < kStepsPerClockRead || pump.inTurn)
        return false;
    pump.stepsSinceClock = 0;
    const uint32_t now = GetTickCount();
    if (now - pump.lastTurn < kResponsiveMs)
        return false;
    pump.lastTurn = now;
    return ResponsiveTurn(pump);
}

void SetAbandonTest(std::function<bool()> test) {
    ThePump().abandonTest = std::move(test);
}

bool WorkAbandoned() {
    const Pump& pump = ThePump();
    return pump.guiFailure || (pump.abandonTest && pump.abandonTest());
}

void RethrowDispatchFailure() {
    if (std::exception_ptr failure = std::exchange(ThePump().guiFailure, nullptr))
        std::rethrow_exception(failure);
}

bool PeekMessage(MSG* msg) {
    Pump& pump = ThePump();
    // Sources advance again once what was queued when they last advanced has been taken: a
    // transfer posts its notifications in bursts, and advancing it between them only asks
    // the system again whether data arrived in the meantime. Messages queued later (by
    // dispatched ones) never hold the sources back.
    if (pump.queuedAtAdvance == 0) {
        // A transfer that streams fast queues something on every advance: a GUI event that
        // waited behind one burst goes before the next, or the window (and its Cancel
        // button) would never be heard.
        if (pump.burstSinceGui && pump.gui.pending && pump.gui.pending())
            return TakeGuiEvent(msg);
        AdvanceSources();
        pump.queuedAtAdvance = pump.posted.size();
        pump.burstSinceGui = pump.queuedAtAdvance > 0;
    }
    if (!pump.posted.empty()) {
        if (msg) {
            msg->kind = MSG::Kind::Posted;
            msg->posted = std::move(pump.posted.front());
        }
        pump.posted.pop_front();
        if (pump.queuedAtAdvance > 0)
            --pump.queuedAtAdvance;
        return true;
    }
    if (pump.gui.pending && pump.gui.pending())
        return TakeGuiEvent(msg);
    if (msg) {
        msg->kind = MSG::Kind::None;
        msg->posted = nullptr;
    }
    return false;
}

void TranslateMessage(const MSG*) {}

void DispatchMessage(MSG* msg) {
    if (!msg)
        return;
    switch (msg->kind) {
    case MSG::Kind::Posted:
        if (msg->posted) {
            // The message is consumed: dispatching it twice must not run it twice.
            std::function<void()> run = std::move(msg->posted);
            msg->posted = nullptr;
            msg->kind = MSG::Kind::None;
            run();
        }
        break;
    case MSG::Kind::Gui:
        msg->kind = MSG::Kind::None;
        if (ThePump().gui.dispatch)
            ThePump().gui.dispatch();
        break;
    case MSG::Kind::None:
        break;
    }
}

void SetPumpWithoutGui(std::function<bool()> signalled, std::function<void()> hear) {
    if (!signalled || !hear) {
        signalled = [] { return false; };
        hear = [] {};
    }
    SetPumpGui(PumpGui{std::move(signalled), std::move(hear),
                       [](std::vector<pollfd>&) { return -1; }, [](std::vector<pollfd>&) {}});
}

void Sleep(DWORD ms) {
    Pump& pump = ThePump();
    const bool bGuiWaits = pump.gui.prepareWait && pump.gui.finishWait;
    int timeoutMs = bGuiWaits ? static_cast<int>(std::min<DWORD>(ms, INT32_MAX))
                              : std::min(static_cast<int>(ms), kBlindWaitMs);
    std::vector<pollfd>& fds = pump.guiFds;
    fds.clear();
    if (bGuiWaits) {
        const int guiTimeoutMs = pump.gui.prepareWait(fds);
        if (guiTimeoutMs >= 0)
            timeoutMs = std::min(timeoutMs, guiTimeoutMs);
    }
    // A source with work in flight waits on its own activity and the GUI's together, so a
    // transfer's data and a click are both seen the moment they arrive.
    bool bWaited = false;
    const size_t count = pump.sources.size();
    for (size_t i = 0; i < count && i < pump.sources.size() && !bWaited; ++i)
        bWaited = pump.sources[i].wait && pump.sources[i].wait(timeoutMs, fds);
    if (!bWaited) {
        if (bGuiWaits) {
            if (poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR)
                std::this_thread::sleep_for(std::chrono::milliseconds(kBlindWaitMs));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        }
    }
    if (bGuiWaits)
        pump.gui.finishWait(fds);
}

void PostThreadMessage(std::function<void()> message) {
    ThePump().posted.push_back(std::move(message));
}

void DiscardPostedMessages() {
    // Moved out first: destroying a message may release objects whose destructors post.
    while (!ThePump().posted.empty()) {
        std::deque<std::function<void()>> dropped;
        dropped.swap(ThePump().posted);
    }
    ThePump().queuedAtAdvance = 0;
    ThePump().burstSinceGui = false;
}

void RegisterPumpSource(PumpSource source) {
    ThePump().sources.push_back(std::move(source));
}

void UnregisterPumpSources() {
    ThePump().sources.clear();
}

void SetPumpGui(PumpGui gui) {
    ThePump().gui = std::move(gui);
}
