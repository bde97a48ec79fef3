// The idle floor of the stack bench: a program with the manager's idle
// duties while the stack runs, done bare. A shown window, a tray icon
// blinking on a 500 ms timer, and a thread that looks at two processes
// (the running servers, ids on the command line) every 700 ms.
//   idlefloor.exe <pid> <pid>     ends when its window is closed
//   idlefloor.exe -               ends at once (the bench's short program)
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>

namespace {

HANDLE watched[2];
NOTIFYICONDATAA tray;
int blink;

DWORD WINAPI Watch(LPVOID)
{
    for (;;) {
        Sleep(700);
        for (HANDLE process : watched)
            if (process)
                WaitForSingleObject(process, 0);
    }
}

LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        tray.hIcon = LoadIconA(nullptr, (++blink % 2) ? IDI_APPLICATION : IDI_INFORMATION);
        Shell_NotifyIconA(NIM_MODIFY, &tray);
        return 0;
    case WM_DESTROY:
        Shell_NotifyIconA(NIM_DELETE, &tray);
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    if (commandLine[0] == '-')
        return 0;
    char* next = commandLine;
    for (HANDLE& process : watched) {
        DWORD pid = strtoul(next, &next, 10);
        process = pid ? OpenProcess(SYNCHRONIZE, FALSE, pid) : nullptr;
    }
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = Proc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_3DFACE + 1);
    windowClass.lpszClassName = "TvIdleFloor";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "Idle floor", WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 290, 393, nullptr, nullptr, instance, nullptr);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    tray.cbSize = sizeof tray;
    tray.hWnd = window;
    tray.uFlags = NIF_ICON | NIF_TIP;
    tray.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    lstrcpynA(tray.szTip, "Idle floor", sizeof tray.szTip);
    Shell_NotifyIconA(NIM_ADD, &tray);
    SetTimer(window, 1, 500, nullptr);
    CreateThread(nullptr, 0, Watch, nullptr, 0, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
