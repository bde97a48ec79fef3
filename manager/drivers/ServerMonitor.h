// The monitor: settles the state of every driver in serverTable and reacts
// to configuration changes, every 700 ms at the latest, and at once when a
// server's process ends or a start or stop is under way.
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
// that thread dispatches its messages (also inside message boxes). Any
// thread may call it; requests made before the pass ran count as one.
void requestMonitorPass();
