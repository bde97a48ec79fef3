// The demo's hands: what a user does with the mouse, for a script.
//   tvdemo wait-started [seconds]  waits until both status texts read
//                                  "Started"; prints them
//   tvdemo wait-window TITLE [s]   waits for a top-level window
//   tvdemo menu                    opens the tray menu (a right click)
//   tvdemo close-menu              closes an open menu
//   tvdemo command NAME            sends the manager a command: close,
//                                  start, stop, extension-editor
//   tvdemo show                    the tray's double-click
//   tvdemo fetch URL               prints the status and first body line
//   tvdemo fetch-local KIT         the same for the local web site of the
//                                  kit in folder KIT, at the port its
//                                  httpd.conf gives the manager
//   tvdemo about                   opens the about dialog, waits for it,
//                                  prints its title
//   tvdemo ok TITLE                presses OK in the window TITLE
//   tvdemo wait-stopped [s]        waits until both servers are stopped
//   tvdemo kit-processes           lists the kit's server programs still
//                                  running; exit 1 when there are any
// Exit code 0 on success, 1 otherwise.
#include <windows.h>
#include <tlhelp32.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ApachePort.h"
#include "resource.h"

namespace {

const int apacheStatusId = IDC_APACHE_STATUS;
const int mysqlStatusId = IDC_MYSQL_STATUS;
const int eventLogId = IDC_EVENT_LOG;

// The manager's commands the demo sends, by the names the script uses.
const struct {
    const char* name;
    WPARAM id;
} commands[] = {
    {"close", IDCANCEL},
    {"start", ID_CMD_START},
    {"stop", ID_CMD_STOP},
    {"extension-editor", ID_CMD_EXTENSION_EDITOR},
};

BOOL CALLBACK FindManager(HWND window, LPARAM lParam)
{
    char className[16] = "", title[32] = "";
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, title, sizeof title);
    if (!strcmp(className, "#32770") && !strcmp(title, "Tarvane") && GetDlgItem(window, eventLogId)) {
        *reinterpret_cast<HWND*>(lParam) = window;
        return FALSE;
    }
    return TRUE;
}

HWND Manager(int seconds)
{
    for (int i = 0; i <= seconds * 10; ++i) {
        HWND found = nullptr;
        EnumWindows(FindManager, reinterpret_cast<LPARAM>(&found));
        if (found)
            return found;
        Sleep(100);
    }
    fprintf(stderr, "tvdemo: no manager window\n");
    return nullptr;
}

// Waits until both status texts hold word.
int WaitStatus(int seconds, const char* word)
{
    HWND manager = Manager(seconds);
    if (!manager)
        return 1;
    char apache[64] = "", mysql[64] = "";
    for (int i = 0; i <= seconds * 10; ++i) {
        GetDlgItemTextA(manager, apacheStatusId, apache, sizeof apache);
        GetDlgItemTextA(manager, mysqlStatusId, mysql, sizeof mysql);
        if (strstr(apache, word) && strstr(mysql, word)) {
            printf("%s\n%s\n", apache, mysql);
            // The pointer out of the way: no tooltip over the screenshots.
            SetCursorPos(0, 0);
            return 0;
        }
        Sleep(100);
    }
    fprintf(stderr, "tvdemo: not %s: \"%s\" \"%s\"\n", word, apache, mysql);
    return 1;
}

BOOL CALLBACK FindAbout(HWND window, LPARAM lParam)
{
    char title[64] = "";
    GetWindowTextA(window, title, sizeof title);
    if (!strncmp(title, "Tarvane v", 9) && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(lParam) = window;
        return FALSE;
    }
    return TRUE;
}

int About(HWND manager)
{
    PostMessageA(manager, WM_COMMAND, IDC_ABOUT, 0);
    for (int i = 0; i < 100; ++i) {
        HWND about = nullptr;
        EnumWindows(FindAbout, reinterpret_cast<LPARAM>(&about));
        if (about) {
            char title[64] = "";
            GetWindowTextA(about, title, sizeof title);
            printf("%s\n", title);
            return 0;
        }
        Sleep(100);
    }
    fprintf(stderr, "tvdemo: no about dialog\n");
    return 1;
}

int KitProcesses()
{
    const char* const programs[] = {"apache.exe", "mysqld-nt.exe", "mysqld.exe", "mysqld-opt.exe",
                                    "mysqld-shareware.exe", "mysqladmin.exe", "Tarvane.exe"};
    int running = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32First(snapshot, &entry); ok; ok = Process32Next(snapshot, &entry))
        for (const char* program : programs)
            if (!lstrcmpiA(entry.szExeFile, program)) {
                printf("still running: %s (pid %lu)\n", entry.szExeFile, entry.th32ProcessID);
                ++running;
            }
    CloseHandle(snapshot);
    return running ? 1 : 0;
}

int WaitWindow(const char* title, int seconds)
{
    for (int i = 0; i <= seconds * 10; ++i) {
        if (FindWindowA(nullptr, title))
            return 0;
        Sleep(100);
    }
    fprintf(stderr, "tvdemo: no window \"%s\"\n", title);
    return 1;
}

int Fetch(const char* url)
{
    HINTERNET net = InternetOpenA("tvdemo", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET page = net ? InternetOpenUrlA(net, url, nullptr, 0,
                                            INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                         : nullptr;
    if (!page) {
        fprintf(stderr, "tvdemo: cannot fetch %s (error %lu)\n", url, GetLastError());
        if (net)
            InternetCloseHandle(net);
        return 1;
    }
    char status[32] = "";
    DWORD size = sizeof status;
    HttpQueryInfoA(page, HTTP_QUERY_STATUS_CODE, status, &size, nullptr);
    char body[4097] = "";
    DWORD got = 0, total = 0;
    while (total < sizeof body - 1 &&
           InternetReadFile(page, body + total, sizeof body - 1 - total, &got) && got)
        total += got;
    body[total] = '\0';
    char* line = body;
    while (*line == '\r' || *line == '\n')
        ++line;
    line[strcspn(line, "\r\n")] = '\0';
    printf("HTTP %s: %s\n", status, line);
    InternetCloseHandle(page);
    InternetCloseHandle(net);
    return strcmp(status, "200") == 0 ? 0 : 1;
}

// The local web site of the kit in folder kit: the manager reads Apache's
// port from httpd.conf, 80 when the file names none.
int FetchLocal(const char* kit)
{
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%s\\Apache\\conf\\httpd.conf", kit);
    static char text[1 << 16];
    size_t length = 0;
    FILE* file = fopen(path, "r");
    if (!file) {
        fprintf(stderr, "tvdemo: cannot read %s\n", path);
        return 1;
    }
    length = fread(text, 1, sizeof text, file);
    fclose(file);
    int port = 80;
    ReadApachePort(text, length, &port);
    char url[64];
    snprintf(url, sizeof url, "http://127.0.0.1:%d/", port);
    return Fetch(url);
}

int Command(HWND manager, const char* name)
{
    for (const auto& command : commands)
        if (!strcmp(command.name, name))
            return PostMessageA(manager, WM_COMMAND, command.id, 0) ? 0 : 1;
    fprintf(stderr, "tvdemo: no command \"%s\"\n", name);
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 1;
    const char* verb = argv[1];
    if (!strcmp(verb, "wait-started"))
        return WaitStatus(argc > 2 ? atoi(argv[2]) : 20, "Started");
    if (!strcmp(verb, "wait-stopped"))
        return WaitStatus(argc > 2 ? atoi(argv[2]) : 20, "Stopped");
    if (!strcmp(verb, "kit-processes"))
        return KitProcesses();
    if (!strcmp(verb, "ok") && argc > 2) {
        HWND window = FindWindowA(nullptr, argv[2]);
        return window && PostMessageA(window, WM_COMMAND, IDOK, 0) ? 0 : 1;
    }
    if (!strcmp(verb, "wait-window") && argc > 2)
        return WaitWindow(argv[2], argc > 3 ? atoi(argv[3]) : 20);
    if (!strcmp(verb, "fetch") && argc > 2)
        return Fetch(argv[2]);
    if (!strcmp(verb, "fetch-local") && argc > 2)
        return FetchLocal(argv[2]);
    if (!strcmp(verb, "close-menu")) {
        HWND menu = FindWindowA("#32768", nullptr);
        if (menu)
            PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
        HWND manager = Manager(1);
        if (manager)
            PostMessageA(manager, WM_CANCELMODE, 0, 0);
        return menu ? 0 : 1;
    }
    HWND manager = Manager(10);
    if (!manager)
        return 1;
    if (!strcmp(verb, "about"))
        return About(manager);
    if (!strcmp(verb, "menu")) {
        // The menu opens at the pointer: put it at the window's top right.
        RECT r;
        GetWindowRect(manager, &r);
        SetCursorPos(r.right - 8, r.top + 8);
        return PostMessageA(manager, WM_USER + 1, 0, WM_RBUTTONDOWN) ? 0 : 1;
    }
    if (!strcmp(verb, "show"))
        return PostMessageA(manager, WM_USER + 1, 0, WM_LBUTTONDBLCLK) ? 0 : 1;
    if (!strcmp(verb, "command") && argc > 2)
        return Command(manager, argv[2]);
    return 1;
}
