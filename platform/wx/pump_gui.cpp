#include "platform/wx/pump_gui.h"
#include "platform/pump/pump.h"

#include <wx/app.h>
#include <wx/evtloop.h>

#include <glib.h>

#include <vector>

namespace {
bool NativePending() {
    wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    return loop && loop->Pending();
}

bool QueuedPending() {
    return wxTheApp && wxTheApp->HasPendingEvents();
}

// An idle wait watches the toolkit's main context as its own loop would: prepared, its file
// descriptors polled (by the pump, beside the transfers' sockets), then checked. What is
// found ready is dispatched by the pump's next pass.
class CMainContextWait {
public:
    int Prepare(std::vector<pollfd>& fds) {
        m_pContext = g_main_context_default();
        m_bAcquired = g_main_context_acquire(m_pContext);
        if (!m_bAcquired)
            return kUnownedWaitMs;
        g_main_context_prepare(m_pContext, &m_nPriority);
        int timeoutMs = -1;
        int n = 0;
        while ((n = g_main_context_query(m_pContext, m_nPriority, &timeoutMs, m_fds.data(),
                                         static_cast<gint>(m_fds.size()))) >
               static_cast<int>(m_fds.size()))
            m_fds.resize(static_cast<size_t>(n));
        m_fds.resize(static_cast<size_t>(n));
        for (const GPollFD& fd : m_fds)
            fds.push_back(pollfd{fd.fd, static_cast<short>(fd.events), 0});
        return timeoutMs;
    }

    void Finish(std::vector<pollfd>& fds) {
        if (!m_bAcquired)
            return;
        for (size_t i = 0; i < m_fds.size() && i < fds.size(); ++i)
            m_fds[i].revents = static_cast<gushort>(fds[i].revents);
        g_main_context_check(m_pContext, m_nPriority, m_fds.data(),
                             static_cast<gint>(m_fds.size()));
        g_main_context_release(m_pContext);
        m_bAcquired = false;
    }

private:
    // Another thread runs the main context: its events cannot be watched, so waits stay short.
    static constexpr int kUnownedWaitMs = 1;

    GMainContext* m_pContext = nullptr;
    bool m_bAcquired = false;
    gint m_nPriority = 0;
    std::vector<GPollFD> m_fds;
};

CMainContextWait& TheWait() {
    static CMainContextWait wait;
    return wait;
}
} // namespace

void InstallWxPumpGui() {
    SetPumpGui(PumpGui{
        [] { return NativePending() || QueuedPending(); },
        [] {
            // One native event if there is one (it never blocks then), else the toolkit's
            // own queue.
            if (NativePending())
                wxEventLoopBase::GetActive()->Dispatch();
            else if (QueuedPending())
                wxTheApp->ProcessPendingEvents();
        },
        [](std::vector<pollfd>& fds) { return TheWait().Prepare(fds); },
        [](std::vector<pollfd>& fds) { TheWait().Finish(fds); },
    });
}
