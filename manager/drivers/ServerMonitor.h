// The monitor: settles the state of every driver in serverTable and reacts
// to configuration changes, every 700 ms at the latest, and at once when a
// server's process ends (the message loop waits on the handles their
// owners registered) or a start or stop is under way.
#pragma once

#include <windows.h>

#include "Server.h"

const UINT MonitorPeriodMs = 700;

// Installs the monitor's thread timer (no window; the system picks the
// identifier) on the calling thread, and the message-only window through
// which a pass is asked for at once. Called once at process start, before
// any window exists; a second call keeps the first timer and returns its
// identifier. 0 when SetTimer failed.
UINT_PTR StartServerMonitor();

// Asks for a pass of the monitor on the thread that started it, as soon as
// that thread dispatches its messages (also inside message boxes);
// requests made before the pass ran count as one.
void RequestMonitorPass();

// The handles the message loop waits on besides its messages, each with
// its owner's callback and context: an owner registers a handle when it
// takes it and removes it before it closes it. A handle that is signalled
// runs its own callback, nothing else. False when the wait is full (the
// 700 ms timer then sees the end).
typedef void (*HandleSignalled)(void* context);
const int HandleWaitSize = 16;
bool WaitOnHandle(HANDLE handle, HandleSignalled callback, void* context);
void StopWaitingOn(HANDLE handle);

// Waits up to timeoutMs until the calling thread has a message to read or
// a registered handle is signalled; for a handle, runs its owner's callback
// (a driver's: a pass over that driver, which lets go of the ended
// process) and returns true.
bool WaitForMessageOrServerEnd(DWORD timeoutMs);

// GetMessageA for the message loop of the manager: while no message is
// there it waits on the servers' processes too, so that an end is seen
// when it happens. False for WM_QUIT.
bool GetMessageWatchingServers(MSG* message);

// Waits at most ms for one of the handles or for messages sent to the
// calling thread's windows or windows to paint, and answers those; posted
// messages wait for the loop they are meant for (a menu's end, the quit).
// MsgWaitForMultipleObjects's result: WAIT_OBJECT_0 + count when messages
// were answered.
DWORD WaitAnswering(const HANDLE* handles, DWORD count, DWORD ms);

// Waits until the processes of the servers (their processHandle, read
// afresh each time: a pass lets go of a process it finds ended) have all
// ended, or until ms have passed, answering the messages sent to the
// calling thread's windows and painting them meanwhile, so that they keep
// answering; posted messages wait for the loop they are meant for.
void WaitForServersPumping(Server* const* servers, int count, DWORD ms);
