// The floors of the stack bench: a bare program that does the manager's
// system work and nothing else, copied into the kit's root as the manager
// is, and driven the same way.
//   idlefloor.exe               a window titled "Stopped" (a further start
//                               with /start or /stop makes it do the start's
//                               or the stop's work, then shows "Started" or
//                               "Stopped") holding the common controls' slider
//                               as the manager's window does, a tray icon
//                               blinking on a 500 ms timer, a look at the
//                               servers it started every 700 ms; ends when
//                               closed
//   idlefloor.exe <pid> <pid>   the same idle duties for those two processes
//   idlefloor.exe /start|/stop  the further start: hands the word to the
//                               running one and ends, as the manager's does
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The system work of the manager's start and stop, in its order (the
// manager starts MySQL, then checks and starts Apache; it checks and stops
// Apache, then MySQL). This table is the one place where the floors follow
// the manager's work: when the manager's work changes, change it here.
enum Step {
    SyntaxTestDirect,        // "Apache.exe -t" run with its error output on a pipe, read to its end
    CreateMySql,             // mysqld-nt.exe --basedir=... launched hidden in a console of its own
    CreateApache,            // apache.exe -k start launched hidden in a console of its own
    SignalMySqlStop,         // MySQL's shutdown event set
    ApacheShutdown,          // apache.exe -k shutdown launched as Apache's start is
};
const Step startSteps[] = {CreateMySql, SyntaxTestDirect, CreateApache};
const Step stopSteps[] = {SyntaxTestDirect, ApacheShutdown, SignalMySqlStop};

const char windowClass[] = "TvIdleFloor";
const WPARAM startCommand = 1, stopCommand = 2;
const UINT_PTR blinkTimer = 1, watchTimer = 2;

char root[MAX_PATH];  // the kit's root, with its final backslash
HANDLE servers[2];    // Apache and MySQL, as started or given
bool stopping;
NOTIFYICONDATAA tray;
int blink;
// Shell_NotifyIconA, from shell32 loaded by the running floor only: its
// further start loads no more than a program that posts a message needs.
typedef BOOL(WINAPI* NotifyIcon)(DWORD, PNOTIFYICONDATAA);
NotifyIcon notifyIcon;

HANDLE Launch(const char* line, DWORD flags, const char* dir, HANDLE errorOutput = nullptr)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    if (errorOutput) {
        startup.dwFlags |= STARTF_USESTDHANDLES;
        startup.hStdError = errorOutput;
    }
    char copy[2 * MAX_PATH];
    lstrcpynA(copy, line, sizeof copy);
    PROCESS_INFORMATION created = {};
    if (!CreateProcessA(nullptr, copy, nullptr, nullptr, errorOutput != nullptr, flags, nullptr, dir, &startup,
                        &created))
        return nullptr;
    CloseHandle(created.hThread);
    return created.hProcess;
}

bool SyntaxTest()
{
    char line[2 * MAX_PATH], answer[512] = "";
    DWORD got = 0;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 0))
        return false;
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    snprintf(line, sizeof line, "\"%sApache\\Apache.exe\" -t", root);
    HANDLE test = Launch(line, CREATE_NO_WINDOW, nullptr, write);
    CloseHandle(write);
    DWORD n = 0;
    while (got < sizeof answer - 1 && ReadFile(read, answer + got, sizeof answer - 1 - got, &n, nullptr) && n)
        got += n;
    CloseHandle(read);
    if (!test)
        return false;
    WaitForSingleObject(test, 10000);
    CloseHandle(test);
    answer[got] = '\0';
    return strstr(answer, "Syntax OK") != nullptr;
}

void Keep(int server, HANDLE process)
{
    if (servers[server])
        CloseHandle(servers[server]);
    servers[server] = process;
}

bool Run(Step step)
{
    char line[2 * MAX_PATH], dir[MAX_PATH];
    snprintf(dir, sizeof dir, "%sApache\\", root);
    switch (step) {
    case SyntaxTestDirect:
        return SyntaxTest();
    case CreateMySql:
        snprintf(line, sizeof line, "\"%sMySql\\bin\\mysqld-nt.exe\" --basedir=\"%sMySql\"  --language=english", root,
                 root);
        Keep(1, Launch(line, CREATE_NEW_CONSOLE, nullptr));
        return servers[1] != nullptr;
    case CreateApache:
    case ApacheShutdown: {
        snprintf(line, sizeof line, step == CreateApache ? "%sApache.exe -k start" : "%sApache.exe  -k shutdown", dir);
        HANDLE process = Launch(line, CREATE_NEW_CONSOLE, dir);
        if (step == CreateApache)
            Keep(0, process);
        else if (process)
            CloseHandle(process);
        return process != nullptr;
    }
    case SignalMySqlStop: {
        // The event the kit's mysqld-nt (MySQL 4.1 to 5.7) makes, as the
        // manager's stop finds it.
        char name[40];
        snprintf(name, sizeof name, "MySQLShutdown%lu",
                 static_cast<unsigned long>(servers[1] ? GetProcessId(servers[1]) : 0));
        HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
        if (event) {
            SetEvent(event);
            CloseHandle(event);
        }
        return event != nullptr;
    }
    }
    return false;
}

template <size_t n>
bool RunAll(const Step (&steps)[n])
{
    bool ok = true;
    for (Step step : steps)
        ok = Run(step) && ok;
    return ok;
}

LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        if (wParam == watchTimer) {
            for (HANDLE process : servers)
                if (process)
                    WaitForSingleObject(process, 0);
            return 0;
        }
        tray.hIcon = LoadIconA(nullptr, (++blink % 2) ? IDI_APPLICATION : IDI_INFORMATION);
        notifyIcon(NIM_MODIFY, &tray);
        return 0;
    case WM_COMMAND:
        if (wParam == startCommand)
            SetWindowTextA(window, RunAll(startSteps) ? "Started" : "Start failed");
        else if (wParam == stopCommand && !(stopping = RunAll(stopSteps)))
            SetWindowTextA(window, "Stop failed");
        return 0;
    case WM_DESTROY:
        notifyIcon(NIM_DELETE, &tray);
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    if (commandLine[0] == '/') {
        HWND running = FindWindowA(windowClass, nullptr);
        if (running)
            PostMessageA(running, WM_COMMAND, strcmp(commandLine, "/start") ? stopCommand : startCommand, 0);
        return running ? 0 : 1;
    }
    GetModuleFileNameA(nullptr, root, sizeof root);
    char* slash = strrchr(root, '\\');
    if (slash)
        slash[1] = '\0';
    char* next = commandLine;
    for (HANDLE& process : servers) {
        DWORD pid = strtoul(next, &next, 10);
        process = pid ? OpenProcess(SYNCHRONIZE, FALSE, pid) : nullptr;
    }
    WNDCLASSA windowClassInfo = {};
    windowClassInfo.lpfnWndProc = Proc;
    windowClassInfo.hInstance = instance;
    windowClassInfo.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_3DFACE + 1);
    windowClassInfo.lpszClassName = windowClass;
    RegisterClassA(&windowClassInfo);
    HWND window = CreateWindowExA(0, windowClass, "Stopped", WS_POPUP | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 290, 393, nullptr, nullptr, instance, nullptr);
    // The manager's window holds a slider of the common controls, which
    // load with it (under Wine, with their tooltip icons).
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    CreateWindowExA(0, TRACKBAR_CLASSA, "", WS_CHILD | WS_VISIBLE | TBS_VERT | TBS_NOTICKS, 264, 22, 22, 21, window,
                    nullptr, instance, nullptr);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    tray.cbSize = sizeof tray;
    tray.hWnd = window;
    tray.uFlags = NIF_ICON | NIF_TIP;
    tray.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    lstrcpynA(tray.szTip, "Idle floor", sizeof tray.szTip);
    notifyIcon = reinterpret_cast<NotifyIcon>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("shell32.dll"), "Shell_NotifyIconA")));
    if (!notifyIcon)
        return 1;
    notifyIcon(NIM_ADD, &tray);
    SetTimer(window, blinkTimer, 500, nullptr);
    SetTimer(window, watchTimer, 700, nullptr);
    // The servers' ends after a stop are seen on their handles, as the
    // manager sees them.
    for (;;) {
        HANDLE running[2];
        DWORD n = 0;
        for (HANDLE process : servers)
            if (stopping && process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT)
                running[n++] = process;
        if (stopping && !n) {
            stopping = false;
            SetWindowTextA(window, "Stopped");
        }
        MsgWaitForMultipleObjects(n, running, FALSE, INFINITE, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                return 0;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}
