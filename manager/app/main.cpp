// The manager's entry: the process-wide parts around the start-up.
#include <windows.h>

#include "ManagerWindow.h"
#include "ServerMonitor.h"
#include "ServiceControl.h"

namespace {

// Process initialisation and termination around the entry: the service
// manager reference and the monitor exist before any window, and the
// reference is dropped after everything else.
struct ProcessLife {
    ProcessLife()
    {
        ServiceControl::acquire();
        StartServerMonitor();
    }
    ~ProcessLife() { ServiceControl::release(); }
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    ProcessLife life;
    return RunManager(instance, commandLine);
}
