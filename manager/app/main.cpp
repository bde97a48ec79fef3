// The manager's entry. The process-wide service manager reference and the
// server monitor come first, before any window or driver exists, and last
// to the end of the process; the window, the tray and the orchestration
// are built between them.
#include <windows.h>

#include "ServerMonitor.h"
#include "ServiceControl.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    ServiceControl::acquire();
    startServerMonitor();

    ServiceControl::release();
    return 0;
}
