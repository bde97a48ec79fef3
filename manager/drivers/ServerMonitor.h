// The monitor: settles the state of every driver in serverTable and reacts
// to configuration changes, every 700 ms at the latest, and at once when a
// server's process ends (the message loop waits on the processes) or a
// start or stop is under way.
#pragma once

#include <windows.h>

#include "Server.h"

const UINT monitorPeriodMs = 700;

// Installs the monitor's thread timer (no window; the system picks the
// identifier) on the calling thread, and the message-only window through
// which a pass is asked for at once. Called once at process start, before
// any window exists; a second call keeps the first timer and returns its
// identifier. 0 when SetTimer failed.
UINT_PTR startServerMonitor();

// Asks for a pass of the monitor on the thread that started it, as soon as
// that thread dispatches its messages (also inside message boxes);
// requests made before the pass ran count as one.
void requestMonitorPass();

// Waits up to timeoutMs until the calling thread has a message to read or
// the process of a registered server has ended; for an end, runs a pass
// (which lets go of the ended process) and returns true.
bool waitForMessageOrServerEnd(DWORD timeoutMs);

// GetMessageA for the message loop of the manager: while no message is
// there it waits on the servers' processes too, so that an end is seen
// when it happens. False for WM_QUIT.
bool getMessageWatchingServers(MSG* message);
