#include "AppKit.h"

#include <winsock2.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <cstring>

#include "ServerMonitor.h"
#include "ServiceControl.h"
#include "TestKit.h"
#include "resource.h"

testkit::KitLayout* AppTest::kit = nullptr;

namespace {

const char kManagerKey[] = "Software\\Tarvane";

}  // namespace

PromptWatcher::PromptWatcher() : thread([this] { run(); }) {}

PromptWatcher::~PromptWatcher()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        stop = true;
    }
    thread.join();
}

std::vector<std::string> PromptWatcher::texts()
{
    std::lock_guard<std::mutex> guard(lock);
    return seen;
}

void PromptWatcher::run()
{
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (stop)
                return;
        }
        for (HWND box : testkit::MessageBoxes(GetCurrentProcessId())) {
            std::string text = testkit::MessageBoxText(box);
            if (text.empty())
                continue;
            {
                std::lock_guard<std::mutex> guard(lock);
                bool known = false;
                for (HWND done : answered)
                    known = known || done == box;
                if (known)
                    continue;
                answered.push_back(box);
                seen.push_back(text);
            }
            if (hook)
                hook(text);
            int button = answer ? answer(text) : IDOK;
            PostMessageA(box, WM_COMMAND, button, 0);
        }
        Sleep(30);
    }
}

void AppTest::SetUpTestSuite()
{
    // As the program's entry does: the window holds a trackbar.
    INITCOMMONCONTROLSEX controls = {sizeof controls, 0xFF};
    InitCommonControlsEx(&controls);
    // And as the process starts: the service manager and the monitor.
    ServiceControl::acquire();
    StartServerMonitor();
    kit = new testkit::KitLayout("app");
    ASSERT_TRUE(kit->ok());
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, kManagerKey, &key));
    std::string root = kit->shortRoot();
    RegSetValueExA(key, "Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(root.c_str()),
                   static_cast<DWORD>(root.size() + 1));
    RegCloseKey(key);
}

void AppTest::TearDownTestSuite()
{
    ServiceControl::release();
    delete kit;
    kit = nullptr;
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Tarvane\\Configuration");
    RegDeleteKeyA(HKEY_CURRENT_USER, kManagerKey);
}

void AppTest::TearDown()
{
    Close();
    kit->removeServices();
    kit->endProcesses();
    DeleteFileA((kit->root() + "Tarvane.log").c_str());
    DeleteFileA((kit->root() + "Tarvane.ini").c_str());
    kit->writeHttpdConf(testkit::DefaultHttpdConf(kit->port()));
}

void AppTest::WriteSettings(const std::vector<std::pair<const char*, const char*>>& keys)
{
    std::string ini = kit->root() + "Tarvane.ini";
    DeleteFileA(ini.c_str());
    const std::pair<const char*, const char*> defaults[] = {
        {"AutoStartServers", "N"}, {"ShowAlways", "Y"}, {"ExpandPos", "1"}};
    for (const auto& entry : defaults)
        WritePrivateProfileStringA("Tarvane", entry.first, entry.second, ini.c_str());
    for (const auto& entry : keys)
        WritePrivateProfileStringA("Tarvane", entry.first, entry.second, ini.c_str());
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, ini.c_str());
}

std::string AppTest::ReadSetting(const char* key)
{
    char value[256] = "";
    GetPrivateProfileStringA("Tarvane", key, "", value, sizeof value,
                             (kit->root() + "Tarvane.ini").c_str());
    return value;
}

ManagerWindow* AppTest::Open()
{
    window.reset(new ManagerWindow(nullptr));
    EXPECT_TRUE(window->handle() != nullptr);
    return window.get();
}

void AppTest::Close()
{
    window.reset();
}

std::vector<std::string> AppTest::ListLines()
{
    std::vector<std::string> lines;
    HWND list = GetDlgItem(window->handle(), IDC_EVENT_LOG);
    LRESULT n = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        char line[512] = "";
        SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line));
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> AppTest::FileLines()
{
    std::string bytes;
    std::vector<std::string> lines;
    if (!testkit::ReadFileBytes(kit->root() + "Tarvane.log", &bytes))
        return lines;
    size_t start = 0, end;
    while ((end = bytes.find("\r\n", start)) != std::string::npos) {
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

int AppTest::CountLines(const std::string& text)
{
    int n = 0;
    for (const std::string& line : ListLines())
        n += line.find(text) != std::string::npos;
    return n;
}

bool AppTest::WaitStates(ServerState apache, ServerState mysql, DWORD ms)
{
    return testkit::PumpUntil(
        [&] { return window->stack().apache().state() == apache && window->stack().mysql().state() == mysql; }, ms);
}

bool AppTest::Kill(const char* program)
{
    DWORD pid = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {sizeof entry};
    for (BOOL ok = Process32First(snapshot, &entry); ok; ok = Process32Next(snapshot, &entry))
        if (!lstrcmpiA(entry.szExeFile, program))
            pid = entry.th32ProcessID;
    CloseHandle(snapshot);
    return pid && testkit::KillProcess(pid);
}

bool AppTest::Serving(int port)
{
    return testkit::PortAnswers(port);
}

std::vector<MenuItem> OpenTrayMenu(HWND manager, const std::function<void()>& between)
{
    std::vector<MenuItem> items;
    // The menu runs its own loop; a thread reads it and closes it.
    std::thread reader([&] {
        HWND popup = nullptr;
        for (int i = 0; i < 250 && !(popup = FindWindowA("#32768", nullptr)); ++i)
            Sleep(20);
        HMENU menu = popup ? reinterpret_cast<HMENU>(SendMessageA(popup, MN_GETHMENU, 0, 0)) : nullptr;
        for (int i = 0; menu && i < GetMenuItemCount(menu); ++i) {
            char text[128] = "";
            MENUITEMINFOA info = {};
            info.cbSize = sizeof info;
            info.fMask = MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING | MIIM_FTYPE;
            info.dwTypeData = text;
            info.cch = sizeof text;
            GetMenuItemInfoA(menu, i, TRUE, &info);
            if (info.fType & MFT_SEPARATOR)
                strcpy(text, "-");
            items.push_back({text, info.hSubMenu ? 0xFFFFFFFFu : info.wID,
                             (info.fState & MFS_GRAYED) != 0, (info.fState & MFS_DEFAULT) != 0});
        }
        if (between)
            between();
        PostMessageA(manager, WM_CANCELMODE, 0, 0);
        PostMessageA(popup, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    SendMessageA(manager, TrayCallbackMessage, 0, WM_RBUTTONDOWN);
    reader.join();
    return items;
}
