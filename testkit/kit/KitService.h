// Windows service registration and the service side of a stand-in program.
#pragma once

#include <windows.h>

#include <string>

namespace kit {

// Registers `name` (own process, demand start, LocalSystem) with the given
// command line as its image path. Prints what happened; returns the exit
// code for the program: 0 done, 1 failed (already installed, no rights ...).
int InstallService(const char* name, const std::string& imagePath);

// Removes the service `name`, stopping it first when it runs (waits up to
// 10 s for it to stop). Prints what happened; returns 0 or 1 like above.
int RemoveService(const char* name);

// The work of a service: set itself up, call ServiceReady() (which reports
// SERVICE_RUNNING), then run until stopEvent is signalled or it has its own
// reason to end. Returns 0 for a normal end, nonzero for a failure (then
// reported as a service-specific exit code).
typedef DWORD (*ServiceBody)(HANDLE stopEvent);

// Connects to the service control manager as the service `name` and runs
// `body` in its ServiceMain. The service accepts stop, shutdown, pause and
// continue (a paused service keeps its process and simply reports
// SERVICE_PAUSED). Returns the program's exit code; 1 with a message when
// the program was not started by the service control manager.
int RunAsService(const char* name, ServiceBody body);

// Reports SERVICE_RUNNING; called by the body once it is set up.
void ServiceReady();

// The control 128 (Apache's "restart", sent by "httpd -k restart") sets
// this event; null: the control is only answered with the status.
void OnServiceRestart(HANDLE event);

}  // namespace kit
