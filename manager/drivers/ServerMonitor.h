// The monitor: a 700 ms thread timer that settles the state of every
// driver in serverTable and reacts to configuration changes.
#pragma once

#include <windows.h>

#include "Server.h"

const UINT monitorPeriodMs = 700;

// Installs the monitor's thread timer (no window; the system picks the
// identifier) on the calling thread. Called once at process start, before
// any window exists; a second call keeps the first timer and returns its
// identifier. 0 when SetTimer failed.
UINT_PTR startServerMonitor();

