// The GUI thread's one message pump: notifications that services queue, and the GUI's own
// events. Everything runs on the calling thread; services only advance when it pumps.
#include "platform/pump/pump.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>
#include <thread>
#include <utility>
#include <vector>

namespace {

struct Pump {
    std::deque<std::function<void()>> posted;
    // How many of the queued messages were there when the sources last advanced.
    size_t queuedAtAdvance = 0;
    // The sources' last advance queued messages, and no GUI event has been taken since.
    bool burstSinceGui = false;
    std::vector<PumpSource> sources;
    PumpGui gui;
    std::vector<pollfd> guiFds; // kept between waits: one wait runs per idle pass
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

} // namespace

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
