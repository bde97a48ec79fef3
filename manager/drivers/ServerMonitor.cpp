// The monitor's pass: every 700 ms, and whenever it is asked for, on the
// user-interface thread, each registered driver settles its own state and
// watches its configuration file.
#include "ServerMonitor.h"

#include "ConsoleCapture.h"

namespace {

UINT_PTR monitorTimer;
// The window that receives the requests for a pass, and the request that
// is on its way (cleared by the pass).
HWND wakeWindow;
volatile LONG wakePosted;
const UINT WakeMessage = WM_APP;

struct HandleWait {
    HANDLE handle;
    HandleSignalled callback;
    void* context;
};
HandleWait waits[HandleWaitSize];
int waitCount;

LRESULT CALLBACK WakeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WakeMessage)
        return DefWindowProcA(window, message, wParam, lParam);
    MonitorTick(nullptr, 0, 0, 0);
    return 0;
}

HWND CreateWakeWindow()
{
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.lpfnWndProc = WakeProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TarvaneMonitor";
    RegisterClassA(&windowClass);
    // A message-only window where the system has them (not the Windows 95
    // family), else a window that is never shown.
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, windowClass.hInstance, nullptr);
    if (!window)
        window = CreateWindowExA(0, windowClass.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr,
                                 nullptr, windowClass.hInstance, nullptr);
    return window;
}

}  // namespace

void CALLBACK MonitorTick(HWND, UINT, UINT_PTR, DWORD)
{
    InterlockedExchange(&wakePosted, 0);
    // Also inside message boxes and menus, whose loops do not look.
    DrainConsoles();
    for (int slot = 0; slot < ServerTableSize; ++slot)
        if (serverTable[slot])
            serverTable[slot]->monitorPass();
}

bool WaitOnHandle(HANDLE handle, HandleSignalled callback, void* context)
{
    if (!handle || waitCount == HandleWaitSize)
        return false;
    waits[waitCount++] = HandleWait{handle, callback, context};
    return true;
}

void StopWaitingOn(HANDLE handle)
{
    for (int i = 0; i < waitCount; ++i) {
        if (waits[i].handle == handle) {
            waits[i] = waits[--waitCount];
            return;
        }
    }
}

bool WaitForMessageOrServerEnd(DWORD timeoutMs)
{
    HANDLE handles[HandleWaitSize];
    DWORD count = static_cast<DWORD>(waitCount);
    for (DWORD i = 0; i < count; ++i)
        handles[i] = waits[i].handle;
    DWORD result = MsgWaitForMultipleObjects(count, handles, FALSE, timeoutMs, QS_ALLINPUT);
    if (result >= WAIT_OBJECT_0 + count)
        return false;
    HANDLE signalled = handles[result - WAIT_OBJECT_0];
    for (int i = 0; i < waitCount; ++i) {
        if (waits[i].handle == signalled) {
            HandleWait wait = waits[i];
            wait.callback(wait.context);
            break;
        }
    }
    // An owner that kept its signalled handle would have the loop spin:
    // the handle is left to the owner's timer from here on.
    for (int i = 0; i < waitCount; ++i)
        if (waits[i].handle == signalled && WaitForSingleObject(signalled, 0) == WAIT_OBJECT_0)
            StopWaitingOn(signalled);
    return true;
}

bool GetMessageWatchingServers(MSG* message)
{
    while (!PeekMessageA(message, nullptr, 0, 0, PM_REMOVE))
        WaitForMessageOrServerEnd(DrainConsoles());
    return message->message != WM_QUIT;
}

void RequestMonitorPass()
{
    if (wakeWindow && InterlockedExchange(&wakePosted, 1) == 0 &&
        !PostMessageA(wakeWindow, WakeMessage, 0, 0))
        InterlockedExchange(&wakePosted, 0);
}

UINT_PTR StartServerMonitor()
{
    if (!monitorTimer) {
        monitorTimer = SetTimer(nullptr, 0, MonitorPeriodMs, MonitorTick);
        wakeWindow = CreateWakeWindow();
    }
    return monitorTimer;
}

DWORD WaitAnswering(const HANDLE* handles, DWORD count, DWORD ms)
{
    DWORD result = MsgWaitForMultipleObjects(count, handles, FALSE, ms, QS_SENDMESSAGE | QS_PAINT);
    if (result == WAIT_OBJECT_0 + count) {
        // PeekMessage delivers the sent messages whatever its filter; only
        // painting is taken from the queue.
        MSG message;
        while (PeekMessageA(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE))
            DispatchMessageA(&message);
    }
    return result;
}

void WaitForServersPumping(Server* const* servers, int count, DWORD ms)
{
    DWORD started = GetTickCount();
    for (;;) {
        HANDLE ends[MAXIMUM_WAIT_OBJECTS - 1];
        DWORD live = 0;
        for (int i = 0; i < count && live < MAXIMUM_WAIT_OBJECTS - 1; ++i) {
            HANDLE process = servers[i]->processHandle();
            if (process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT)
                ends[live++] = process;
        }
        DWORD spent = GetTickCount() - started;
        if (!live || spent >= ms)
            return;
        // Any one process, or messages answered (waiting for all would see
        // a message only once every process has ended); then the handles
        // are read again. The servers' consoles are drained meanwhile, so
        // that none waits on a full pipe; the monitor's tick, which looks
        // at the longest pause, is not dispatched here, so the wait stays
        // shorter than it.
        DWORD look = DrainConsoles();
        if (look > MonitorPeriodMs)
            look = MonitorPeriodMs;
        DWORD result = WaitAnswering(ends, live, look < ms - spent ? look : ms - spent);
        if (result == WAIT_FAILED || (result == WAIT_TIMEOUT && GetTickCount() - started >= ms))
            return;
    }
}
