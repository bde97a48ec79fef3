#include <winsock2.h>

#include "E2eKit.h"

#include <tlhelp32.h>

#include <cstring>
#include <set>

#include "TestKit.h"

namespace e2e {

const char PageText[] = "<html><body>Tarvane end-to-end kit page</body></html>\r\n";

namespace {

const int eventLogId = 1054;
const int apacheStatusId = 1027;
const int mysqlStatusId = 1026;
const UINT trayCallback = WM_USER + 1;

struct Search {
    DWORD pid;
    const char* className;
    bool manager;  // the manager's dialog (it holds the event log), or any other
    std::vector<HWND> found;
};

BOOL CALLBACK Collect(HWND window, LPARAM lParam)
{
    Search* s = reinterpret_cast<Search*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char className[16] = "";
    GetClassNameA(window, className, sizeof className);
    if (pid == s->pid && !strcmp(className, s->className) &&
        (GetDlgItem(window, eventLogId) != nullptr) == s->manager && (s->manager || IsWindowVisible(window)))
        s->found.push_back(window);
    return TRUE;
}

std::vector<HWND> Windows(DWORD pid, const char* className, bool manager = false)
{
    Search s = {pid, className, manager, {}};
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

}  // namespace

ManagerRun::ManagerRun(const char* tag, const Keys& keys, testkit::KitApache apache, unsigned mysqlds,
                       bool mysqladmin)
    : kit(tag, mysqlds, true, mysqladmin), exe(kit.root() + "Tarvane.exe")
{
    laidOut = kit.ok() && (apache == testkit::KitApache13 || kit.useApache24()) &&
              CopyFileA((testkit::BinDir() + "Tarvane.exe").c_str(), exe.c_str(), FALSE) &&
              CopyFileA((testkit::BinDir() + "Morvex.exe").c_str(), (kit.root() + "Morvex.exe").c_str(), FALSE) &&
              testkit::WriteFileBytes(kit.wwwDir() + "index.html", PageText);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Tarvane\\Configuration");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Tarvane");
    std::string ini = kit.root() + "Tarvane.ini";
    Keys all = {{"AutoStartServers", "N"}, {"ShowAlways", "Y"}, {"ExpandPos", "2"}};
    all.insert(all.end(), keys.begin(), keys.end());
    for (const auto& entry : all)
        WritePrivateProfileStringA("Tarvane", entry.first, entry.second, ini.c_str());
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, ini.c_str());
}

ManagerRun::~ManagerRun()
{
    if (process) {
        if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
            // A prompt left open by a failed test: No, or OK for a notice.
            for (int i = 0; i < 6; ++i)
                for (HWND box : testkit::MessageBoxes(pid))
                    SendMessageTimeoutA(box, WM_COMMAND, i % 2 ? IDOK : IDNO, 0, SMTO_NORMAL, 2000, nullptr);
            run("/quit");
            if (!testkit::WaitProcess(process, 10000))
                TerminateProcess(process, 1);
        }
        CloseHandle(process);
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Tarvane\\Configuration");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Tarvane");
}

HWND ManagerRun::launch(const char* words)
{
    if (process)
        CloseHandle(process);
    process = testkit::StartProcess("\"" + exe + "\" " + words, kit.root().c_str());
    pid = process ? GetProcessId(process) : 0;
    window = nullptr;
    testkit::PumpUntil([&] {
        std::vector<HWND> found = Windows(pid, "#32770", true);
        window = found.empty() ? nullptr : found[0];
        return window != nullptr;
    }, 15000);
    if (!window && shipped && (!process || WaitForSingleObject(process, 0) == WAIT_OBJECT_0)) {
        shipped = false;
        if (CopyFileA((testkit::BinDir() + "Tarvane.exe").c_str(), exe.c_str(), FALSE))
            return launch(words);
    }
    return window;
}

void ManagerRun::useShipped()
{
    std::string path = testkit::Env("TARVANE_SHIPPED_MANAGER");
    shipped = !path.empty() && CopyFileA(path.c_str(), exe.c_str(), FALSE);
}

bool ManagerRun::run(const char* words)
{
    DWORD code = 99;
    return testkit::RunProcess("\"" + exe + "\" " + words, &code, 15000) && code == 0;
}

bool ManagerRun::ended(DWORD ms)
{
    return process && testkit::WaitProcess(process, ms);
}

void ManagerRun::key(WPARAM vk)
{
    // Posted to the focused control's thread: the loop sees every window's
    // keys. Scan code in bits 16-23, repeat count 1, first press.
    LPARAM lParam = 1 | (MapVirtualKeyA(static_cast<UINT>(vk), 0) << 16);
    PostMessageA(window, WM_KEYDOWN, vk, lParam);
    PostMessageA(window, WM_KEYUP, vk, lParam | (1u << 30) | (1u << 31));
}

bool ManagerRun::pickFromMenu(const char* accessKeys)
{
    // Under Wine a late focus event from the X server (another program's
    // window was brought forward a moment before) can close the menu before
    // its item is picked: the pick begins again, at most 3 times. Every key
    // but the last opens a submenu, so a menu that closed early picked
    // nothing.
    for (int attempt = 0; attempt < 3; ++attempt) {
        // The shell tells the window of a right click on its icon this way.
        PostMessageA(window, trayCallback, 0, WM_RBUTTONDOWN);
        std::vector<HWND> menus;
        size_t levels = 0;
        for (; accessKeys[levels]; ++levels) {
            if (!testkit::PumpUntil([&] { return (menus = Windows(pid, "#32768")).size() > levels; }, 5000))
                break;
            // Wine keeps the items of a menu in the process that owns it
            // (MN_GETHMENU gives a handle, but GetMenuItemID and the like fail
            // from another process), so the item is picked as a user does
            // without a mouse: its access key, which the menu's own loop reads
            // from the thread's queue. On Windows the same keys pick the same
            // items. The newest menu is the topmost, the first found.
            PostMessageA(menus.front(), WM_CHAR, static_cast<WPARAM>(accessKeys[levels]), 1);
        }
        if (!accessKeys[levels])
            return testkit::PumpUntil([&] { return Windows(pid, "#32768").empty(); }, 5000);
        if (!menus.empty())
            return false;
    }
    return false;
}

void ManagerRun::click(int control)
{
    PostMessageA(GetDlgItem(window, control), BM_CLICK, 0, 0);
}

std::string ManagerRun::text(int control)
{
    char text[256] = "";
    GetDlgItemTextA(window, control, text, sizeof text);
    return text;
}

bool ManagerRun::waitStatus(const char* word, DWORD ms)
{
    return testkit::PumpUntil([&] {
        return text(apacheStatusId).find(word) != std::string::npos &&
               text(mysqlStatusId).find(word) != std::string::npos;
    }, ms);
}

std::string ManagerRun::log()
{
    std::string bytes;
    testkit::ReadFileBytes(kit.root() + "Tarvane.log", &bytes);
    return bytes;
}

int ManagerRun::logCount(const std::string& text)
{
    std::string all = log();
    int n = 0;
    for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
        ++n;
    return n;
}

bool ManagerRun::waitLog(const std::string& text, int count, DWORD ms)
{
    return testkit::PumpUntil([&] { return logCount(text) >= count; }, ms) && logCount(text) == count;
}

std::vector<std::string> ManagerRun::liveStandIns()
{
    std::vector<kitrecord::Record> records = kit.apacheRecords();
    std::vector<kitrecord::Record> more = kit.mysqlRecords();
    records.insert(records.end(), more.begin(), more.end());
    std::set<std::pair<DWORD, std::string>> recorded;
    for (const kitrecord::Record& r : records)
        recorded.insert({r.pid, r.program});
    std::vector<std::string> live;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {sizeof entry};
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        for (const auto& r : recorded)
            if (r.first == entry.th32ProcessID && !_stricmp(r.second.c_str(), entry.szExeFile))
                live.push_back(r.second + " " + std::to_string(r.first));
    CloseHandle(snapshot);
    return live;
}

bool ManagerRun::waitNoStandIns(DWORD ms)
{
    return testkit::PumpUntil([&] { return liveStandIns().empty(); }, ms);
}

bool ManagerRun::kill(const char* program)
{
    for (const std::string& live : liveStandIns()) {
        if (live.compare(0, strlen(program) + 1, std::string(program) + " ") != 0)
            continue;
        return testkit::KillProcess(std::stoul(live.substr(strlen(program))));
    }
    return false;
}

bool HttpGet(int port, const char* path, int* status, std::string* body, double* firstByteAt)
{
    SOCKET s = testkit::ConnectLoopback(port);
    std::string answer;
    double first = 0;
    if (s != INVALID_SOCKET) {
        std::string request = std::string("GET ") + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        send(s, request.data(), static_cast<int>(request.size()), 0);
        char buffer[4096];
        int got;
        while ((got = recv(s, buffer, sizeof buffer, 0)) > 0) {
            if (answer.empty())
                first = NowMs();
            answer.append(buffer, got);
        }
        closesocket(s);
    }
    WSACleanup();
    size_t head = answer.find("\r\n\r\n");
    if (answer.compare(0, 5, "HTTP/") != 0 || head == std::string::npos)
        return false;
    *status = atoi(answer.c_str() + answer.find(' ') + 1);
    *body = answer.substr(head + 4);
    if (firstByteAt)
        *firstByteAt = first;
    return true;
}

std::string ComputerName()
{
    char name[MAX_PATH] = "";
    DWORD size = sizeof name;
    GetComputerNameA(name, &size);
    return name;
}

double NowMs()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return 1000.0 * now.QuadPart / frequency.QuadPart;
}

}  // namespace e2e
