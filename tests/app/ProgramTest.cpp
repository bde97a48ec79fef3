// Tarvane.exe as a user meets it: started from a kit folder, a second start
// with command words, the function keys, Esc, the languages and the end of
// the session. Everything is observed from outside: windows, texts, the
// settings and log files.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <string>
#include <thread>

#include "KitLayout.h"
#include "TestKit.h"
#include "resource.h"

using testkit::PumpFor;
using testkit::PumpUntil;

namespace {

struct Found {
    DWORD pid;
    HWND window;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM lParam)
{
    Found* found = reinterpret_cast<Found*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char className[16] = "", title[32] = "";
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, title, sizeof title);
    if (pid == found->pid && !strcmp(className, "#32770") && !strcmp(title, "Tarvane") &&
        GetDlgItem(window, IDC_EVENT_LOG)) {
        found->window = window;
        return FALSE;
    }
    return TRUE;
}

// Whether a process whose executable name contains one of the texts runs.
bool Running(std::initializer_list<const char*> names)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {sizeof entry};
    bool found = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry))
        for (const char* name : names)
            found = found || strstr(entry.szExeFile, name) != nullptr;
    CloseHandle(snapshot);
    return found;
}

// A window of the given class shown by the process.
struct ClassSearch {
    DWORD pid;
    const char* className;
    HWND found;
};

BOOL CALLBACK FindClass(HWND window, LPARAM lParam)
{
    ClassSearch* search = reinterpret_cast<ClassSearch*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char name[32] = "";
    GetClassNameA(window, name, sizeof name);
    if (pid == search->pid && !strcmp(name, search->className) && IsWindowVisible(window) &&
        !GetDlgItem(window, IDC_EVENT_LOG)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kit.reset(new testkit::KitLayout("prog"));
        ASSERT_TRUE(kit->ok());
        exe = kit->root() + "Tarvane.exe";
        ASSERT_TRUE(CopyFileA((testkit::BinDir() + "Tarvane.exe").c_str(), exe.c_str(), FALSE));
        // The install directory is the program's folder: no Path value.
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Tarvane\\Configuration");
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Tarvane");
    }
    void TearDown() override
    {
        if (manager) {
            if (WaitForSingleObject(manager, 0) == WAIT_TIMEOUT) {
                Run("/quit");
                if (!testkit::WaitProcess(manager, 5000))
                    TerminateProcess(manager, 1);
            }
            CloseHandle(manager);
        }
        kit->endProcesses();
        kit.reset();
    }
    void Settings(const char* showAlways, const char* expand = "1")
    {
        std::string ini = kit->root() + "Tarvane.ini";
        WritePrivateProfileStringA("Tarvane", "AutoStartServers", "N", ini.c_str());
        WritePrivateProfileStringA("Tarvane", "ShowAlways", showAlways, ini.c_str());
        WritePrivateProfileStringA("Tarvane", "ExpandPos", expand, ini.c_str());
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, ini.c_str());
    }
    std::string Setting(const char* key)
    {
        char value[64] = "";
        GetPrivateProfileStringA("Tarvane", key, "", value, sizeof value,
                                 (kit->root() + "Tarvane.ini").c_str());
        return value;
    }
    // Starts the first manager and waits for its window.
    HWND Launch(const char* words = "")
    {
        manager = testkit::StartProcess("\"" + exe + "\" " + words, kit->root().c_str());
        Found found = {GetProcessId(manager), nullptr};
        PumpUntil([&] {
            EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&found));
            return found.window != nullptr;
        }, 10000);
        return found.window;
    }
    // A further start with words; returns its exit code.
    DWORD Run(const char* words)
    {
        DWORD code = 99;
        EXPECT_TRUE(testkit::RunProcess("\"" + exe + "\" " + words, &code, 10000)) << words;
        return code;
    }
    int LogCount(const char* text)
    {
        std::string log;
        testkit::ReadFileBytes(kit->root() + "Tarvane.log", &log);
        int n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++n;
        return n;
    }
    std::string Text(HWND w, int id)
    {
        char text[256] = "";
        GetDlgItemTextA(w, id, text, sizeof text);
        return text;
    }

    std::unique_ptr<testkit::KitLayout> kit;
    std::string exe;
    HANDLE manager = nullptr;
};

TEST_F(ProgramTest, OneManagerObeysItsWords)
{
    Settings("Y");
    HWND w = Launch();
    ASSERT_TRUE(w != nullptr);
    EXPECT_TRUE(PumpUntil([&] { return IsWindowVisible(w) != FALSE; }, 5000));

    // A message box titled like the manager, in another process, is not
    // taken for it.
    std::thread box([] { MessageBoxA(nullptr, "decoy", "Tarvane", MB_OK); });
    std::vector<HWND> mine;
    PumpUntil([&] { return !(mine = testkit::MessageBoxes(GetCurrentProcessId(), "Tarvane")).empty(); }, 5000);
    HWND decoy = mine.empty() ? nullptr : mine[0];
    EXPECT_TRUE(decoy != nullptr);

    EXPECT_EQ(0u, Run(""));
    PumpFor(700);
    EXPECT_EQ(0, LogCount("Demarrage")) << "no words, no command";

    EXPECT_EQ(0u, Run("/start"));
    EXPECT_TRUE(PumpUntil([&] { return Text(w, IDC_APACHE_STATUS).find("Started") != std::string::npos &&
                                       Text(w, IDC_MYSQL_STATUS).find("Started") != std::string::npos; },
                          15000));
    // The restart's states may pass between two looks: count the launches.
    auto launches = [&] {
        int n = 0;
        for (const auto& records : {kit->apacheRecords(), kit->mysqlRecords()})
            for (const kitrecord::Record& r : records)
                n += r.event == "run" && (r.cmdLine.find("-k start") != std::string::npos ||
                                          r.cmdLine.find("--basedir") != std::string::npos);
        return n;
    };
    const int before = launches();
    EXPECT_EQ(0u, Run("/restart"));
    EXPECT_TRUE(PumpUntil([&] { return LogCount("Server are restarting...") == 1; }, 5000));
    EXPECT_TRUE(PumpUntil([&] { return launches() == before + 2; }, 15000)) << "both servers anew";
    EXPECT_TRUE(PumpUntil([&] { return Text(w, IDC_APACHE_STATUS).find("Started") != std::string::npos &&
                                       Text(w, IDC_MYSQL_STATUS).find("Started") != std::string::npos; },
                          15000));
    // "Started" may still be shown from before the restart while its second
    // start is under way, and a stop that arrives then is not taken (the
    // stack is not started): the word is given again until the stop begins.
    for (int i = 0; i < 3 && LogCount("Arret des serveurs") == 0; ++i) {
        EXPECT_EQ(0u, Run("/stop"));
        PumpUntil([&] { return LogCount("Arret des serveurs") > 0; }, 3000);
    }
    EXPECT_TRUE(PumpUntil([&] { return Text(w, IDC_MYSQL_STATUS).find("Stopped") != std::string::npos &&
                                       Text(w, IDC_APACHE_STATUS).find("Stopped") != std::string::npos; },
                          15000));
    EXPECT_EQ(1, LogCount("Arret des serveurs"));

    EXPECT_EQ(0u, Run("/quit"));
    EXPECT_TRUE(testkit::WaitProcess(manager, 10000));
    EXPECT_TRUE(IsWindow(decoy)) << "the decoy got no quit";
    if (decoy) {
        PostMessageA(decoy, WM_COMMAND, IDOK, 0);
        box.join();
    } else {
        box.detach();
    }
}

TEST_F(ProgramTest, KeysEscapeAndEndOfSession)
{
    Settings("N", "2");
    HWND w = Launch();
    ASSERT_TRUE(w != nullptr);
    PumpFor(300);
    EXPECT_FALSE(IsWindowVisible(w)) << "without ShowAlways, only the tray icon";

    // A held F2: one start, not one per repeat.
    PostMessageA(w, WM_KEYDOWN, VK_F2, 1);
    for (int i = 0; i < 4; ++i)
        PostMessageA(w, WM_KEYDOWN, VK_F2, 1 | (1 << 30));
    PostMessageA(w, WM_KEYDOWN, VK_F4, 1);
    EXPECT_TRUE(PumpUntil([&] { return LogCount("Demarrage") == 1; }, 3000));
    PumpFor(700);
    EXPECT_EQ(1, LogCount("Demarrage"));

    // Shown by the tray's double-click; Esc hides it and reverts the page.
    PostMessageA(w, WM_USER + 1, 0, WM_LBUTTONDBLCLK);
    ASSERT_TRUE(PumpUntil([&] { return IsWindowVisible(w) != FALSE; }, 3000));
    SendDlgItemMessageA(w, IDC_EXPERT_MODE, BM_SETCHECK, BST_CHECKED, 0);
    PostMessageA(GetDlgItem(w, IDCANCEL), WM_KEYDOWN, VK_ESCAPE, 1);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindowVisible(w); }, 3000));
    EXPECT_EQ(BST_UNCHECKED, SendDlgItemMessageA(w, IDC_EXPERT_MODE, BM_GETCHECK, 0, 0));

    // A further start without words shows it; an unknown word alone counts
    // as none.
    EXPECT_EQ(0u, Run("/nothing"));
    EXPECT_TRUE(PumpUntil([&] { return IsWindowVisible(w) != FALSE; }, 3000));
    PostMessageA(GetDlgItem(w, IDCANCEL), WM_KEYDOWN, VK_ESCAPE, 1);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindowVisible(w); }, 3000));
    EXPECT_EQ(0u, Run(""));
    EXPECT_TRUE(PumpUntil([&] { return IsWindowVisible(w) != FALSE; }, 3000));

    // A cancelled logoff changes nothing; a real one stops and saves.
    SendMessageA(w, WM_COMMAND, IDC_PIN, 0);
    SendMessageA(w, WM_ENDSESSION, FALSE, 0);
    PumpFor(500);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(manager, 0));
    EXPECT_EQ(0, LogCount("Arret des serveurs"));
    SendMessageA(w, WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(1, LogCount("Arret des serveurs"));
    EXPECT_EQ("Y", Setting("ShowAlways")) << "saved before the handler returned";
    EXPECT_TRUE(testkit::WaitProcess(manager, 10000));
}

// Run once per user language (LC_ALL, see CMakeLists.txt); the manager
// started from here inherits it.
TEST_F(ProgramTest, CaptionsInUserLanguage)
{
    const struct {
        LANGID language;
        const char* autoStart;
        const char* close;
        const char* about;
    } cases[] = {
        {0x409, "&Start on windows startup.", "&Close", "&About"},
        {0x40C, "&D\xE9marrer Tarvane en m\xEAme temps que Windows", "&Fermer", "\xC0 pr&opos"},
        {0x410, "&Lancia Tarvane all'avvio di Windows", "&Cancella", "&Info"},
    };
    LANGID language = GetUserDefaultUILanguage();
    Settings("Y");
    HWND w = Launch();
    ASSERT_TRUE(w != nullptr);
    bool known = false;
    for (const auto& c : cases) {
        if (c.language != language)
            continue;
        known = true;
        EXPECT_EQ(c.autoStart, Text(w, IDC_AUTO_START_TARVANE));
        EXPECT_EQ(c.close, Text(w, IDCANCEL));
        EXPECT_EQ(c.about, Text(w, IDC_ABOUT));
    }
    EXPECT_TRUE(known) << "user language " << std::hex << language;

    // Screenshots at the three heights, for a look by eye (the pointer out
    // of the way, so that no tooltip covers the window).
    SetCursorPos(0, 0);
    HWND slider = GetDlgItem(w, IDC_EXPANSION);
    for (int position = 0; position < 3; ++position) {
        SendMessageA(slider, TBM_SETPOS, TRUE, position);
        SendMessageA(w, WM_VSCROLL, SB_THUMBPOSITION, reinterpret_cast<LPARAM>(slider));
        PumpFor(700);
        char name[64];
        snprintf(name, sizeof name, "manager-%04x-%d.bmp", language, position);
        EXPECT_TRUE(testkit::SaveScreenshot(w, testkit::ArtefactsDir() + name));
    }
}

// A quit always quits: with a prompt or the tray menu open, right after a
// start, with commands after it, and at the end of the session; nothing of
// the kit outlives the manager.
TEST_F(ProgramTest, QuitAlwaysQuits)
{
    const char* const kitPrograms[] = {"apache.exe", "mysqld"};
    auto kitRunning = [&] { return Running({kitPrograms[0], kitPrograms[1]}); };
    auto apacheStarts = [&] {
        int n = 0;
        for (const kitrecord::Record& r : kit->apacheRecords())
            n += r.event == "run" && r.cmdLine.find("-k start") != std::string::npos;
        return n;
    };
    auto shown = [&](const char* className) {
        ClassSearch search = {GetProcessId(manager), className, nullptr};
        PumpUntil([&] {
            EnumWindows(FindClass, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        }, 15000);
        return search.found;
    };
    const struct {
        const char* name;
        bool autoStart, withoutMysql;
        const char* open;   // what is open when the quit comes: a class, or null
        const char* quit;   // the words of the further start; null: a logoff
    } cases[] = {
        {"/quit while the MySQL prompt is open", true, true, "#32770", "/quit"},
        {"/start then /quit at once", false, false, nullptr, "/start"},
        {"/quit /start: the start after the quit is dropped", false, false, nullptr, "/quit /start"},
        {"logoff while the tray menu is open", true, false, "#32768", nullptr},
        {"logoff while the MySQL prompt is open", true, true, "#32770", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* name : {"mysqld-nt.exe", "mysqld.exe", "mysqld-opt.exe", "mysqld-shareware.exe"}) {
            std::string exe = kit->mysqlBin() + name;
            c.withoutMysql ? MoveFileA(exe.c_str(), (exe + ".off").c_str())
                           : MoveFileA((exe + ".off").c_str(), exe.c_str());
        }
        DeleteFileA((kit->root() + "Tarvane.log").c_str());
        const int apacheStartsBefore = apacheStarts();
        Settings("N");
        WritePrivateProfileStringA("Tarvane", "AutoStartServers", c.autoStart ? "Y" : "N",
                                   (kit->root() + "Tarvane.ini").c_str());
        HWND w = Launch();
        ASSERT_TRUE(w != nullptr);
        if (c.open && !strcmp(c.open, "#32768")) {
            ASSERT_TRUE(PumpUntil([&] { return LogCount("Demarrage") == 1; }, 5000));
            PostMessageA(w, WM_USER + 1, 0, WM_RBUTTONDOWN);
        }
        if (c.open)
            ASSERT_TRUE(shown(c.open) != nullptr) << "nothing open";
        if (!c.quit) {
            DWORD_PTR result = 0;
            SendMessageTimeoutA(w, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, 10000, &result);
            EXPECT_EQ(1, LogCount("Arret des serveurs"));
        } else if (!strcmp(c.quit, "/start")) {
            EXPECT_EQ(0u, Run("/start"));
            EXPECT_EQ(0u, Run("/quit"));
        } else {
            EXPECT_EQ(0u, Run(c.quit));
        }
        if (!testkit::WaitProcess(manager, 15000)) {
            ADD_FAILURE() << "the manager still runs";
            TerminateProcess(manager, 1);
            testkit::WaitProcess(manager, 5000);
        }
        EXPECT_TRUE(PumpUntil([&] { return !kitRunning(); }, 10000)) << "a server outlived the manager";
        if (c.withoutMysql)
            EXPECT_EQ(apacheStartsBefore, apacheStarts()) << "the prompt was answered No";
        if (c.quit && strstr(c.quit, "/quit /start"))
            EXPECT_EQ(0, LogCount("Demarrage"));
        CloseHandle(manager);
        manager = nullptr;
        kit->endProcesses();
    }
    for (const char* name : {"mysqld-nt.exe", "mysqld.exe", "mysqld-opt.exe", "mysqld-shareware.exe"}) {
        std::string exe = kit->mysqlBin() + name;
        MoveFileA((exe + ".off").c_str(), exe.c_str());
    }
}
