#include "platform/wx/pump_gui.h"
#include "platform/pump/pump.h"

#include <wx/app.h>
#include <wx/evtloop.h>

namespace {
bool NativePending() {
    wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    return loop && loop->Pending();
}

bool QueuedPending() {
    return wxTheApp && wxTheApp->HasPendingEvents();
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
    });
}
