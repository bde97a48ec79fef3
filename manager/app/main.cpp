// The manager's entry: one manager per session, command words handed to
// the running one, the window and the message loop with the function keys.
#include <windows.h>
#include <commctrl.h>
#include <winsock.h>

#include "ManagerWindow.h"
#include "ServerMonitor.h"
#include "ServiceControl.h"
#include "resource.h"

namespace {

// Process initialisation and termination around the entry: the service
// manager reference and the monitor exist before any window, and the
// reference is dropped after everything else.
struct ProcessLife {
    ProcessLife()
    {
        ServiceControl::acquire();
        startServerMonitor();
    }
    ~ProcessLife() { ServiceControl::release(); }
};

WPARAM KeyCommand(WPARAM key)
{
    switch (key) {
    case VK_F1:
        return ID_CMD_INTRODUCTION;
    case VK_F2:
        return ID_CMD_START;
    case VK_F3:
        return ID_CMD_STOP;
    case VK_F5:
        return ID_CMD_RESTART;
    default:
        return 0;
    }
}

int RunManager(HINSTANCE instance, char* commandLine)
{
    HANDLE mutex = CreateMutexA(nullptr, TRUE, "TarvaneMutex");
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) {
        dispatchCommandWords(commandLine, FindManagerWindow());
    } else {
        SetAppInstance(instance);
        INITCOMMONCONTROLSEX controls = {sizeof controls, 0xFF};
        InitCommonControlsEx(&controls);
        WSADATA winsock;
        WSAStartup(1, &winsock);

        // The window lives in this block: destroyed (settings saved,
        // drivers released) after the loop and Winsock's clean-up. Not on
        // the heap: a plain new would bring in the runtime's exception
        // machinery, which nothing here uses.
        {
            ManagerWindow window(nullptr);
            dispatchCommandWords(commandLine, window.handle());
            MSG message;
            while (getMessageWatchingServers(&message)) {
                // The first press only: bit 30 holds the previous key state.
                if (message.message == WM_KEYDOWN && !(message.lParam & (1L << 30))) {
                    WPARAM command = KeyCommand(message.wParam);
                    if (command)
                        PostMessageA(window.handle(), WM_COMMAND, command, 0);
                }
                if (!IsDialogMessageA(window.handle(), &message)) {
                    TranslateMessage(&message);
                    DispatchMessageA(&message);
                }
            }
            WSACleanup();
        }
    }
    if (mutex) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    ProcessLife life;
    return RunManager(instance, commandLine);
}
