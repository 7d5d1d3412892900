// Connects the message pump to the toolkit's event loop.
#pragma once

// Installs the GUI side of the pump: pending/dispatch over the active wx event loop, plus the
// toolkit's own queued events (CallAfter and the like).
void InstallWxPumpGui();
