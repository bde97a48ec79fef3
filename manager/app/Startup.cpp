// The manager's start-up: one manager per session, command words handed to
// the running one, the window and the message loop with the function keys.
#include <windows.h>
#include <commctrl.h>
#include <winsock.h>
#include <cstdio>
#include <cstring>

#include "ManagerWindow.h"
#include "ServerMonitor.h"
#include "System.h"
#include "resource.h"

namespace {

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

void RunLoop(ManagerWindow& window)
{
    MSG message;
    while (GetMessageWatchingServers(&message)) {
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
}

}  // namespace

void FormatWindowFailure(char* out, size_t size, DWORD error)
{
    char reason[200];
    size_t length = 0;
    if (SystemErrorText(error, reason, sizeof reason))
        length = strlen(reason);
    // The sentence goes on after the system's text.
    while (length > 0 && (reason[length - 1] == ' ' || reason[length - 1] == '.'))
        reason[--length] = '\0';
    if (length == 0)
        snprintf(reason, sizeof reason, "unknown error");
    snprintf(out, size, "Tarvane cannot create its window: %s (error %lu).", reason,
             static_cast<unsigned long>(error));
}

int RunManager(HINSTANCE instance, char* commandLine)
{
    HANDLE mutex = CreateMutexA(nullptr, TRUE, "TarvaneMutex");
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) {
        ForwardToRunningManager(commandLine, FindManagerWindow());
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
            if (window.handle()) {
                DispatchCommandWords(commandLine, window.handle());
                RunLoop(window);
            } else {
                // Without its window the manager could never be reached or
                // quit: it says why and ends, so that a later start is a
                // first one again. The text does not come from the
                // resources, which may be what failed.
                char text[300];
                FormatWindowFailure(text, sizeof text, window.createError());
                MessageBoxA(nullptr, text, "Tarvane", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
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
