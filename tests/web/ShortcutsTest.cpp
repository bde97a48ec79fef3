// What the shortcuts ask the shell to open, seen through test associations
// and stand-ins that record how they were started. GetInstallDir resolves
// once per process; ctest runs every TEST() as a process of its own.
#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "InstallDir.h"
#include "Settings.h"
#include "SettingsStores.h"
#include "Shortcuts.h"
#include "TestKit.h"
#include "WebTestKit.h"

namespace {

// A kit folder as the install directory, with the files the shortcuts open.
struct Kit {
    SettingsStores stores{"web"};
    std::unique_ptr<ManagerSettings> settings;
    explicit Kit(const char* subfolder = "")
    {
        const std::string dir = stores.folder() + subfolder;
        stores.setPath(dir);
        settings.reset(new ManagerSettings);  // fills GetInstallDir()
        for (const char* folder : {"", "home", "apache", "apache\\logs", "apache\\conf", "mysql", "mysql\\data"})
            CreateDirectoryA((dir + folder).c_str(), nullptr);
        for (const char* file : {"home\\accueil.html", "apache\\logs\\error.log", "apache\\logs\\access.log",
                                 "apache\\conf\\httpd.conf", "mysql\\data\\mysql.err", "mysql\\my.ini", "php.ini",
                                 "Tarvane.log"})
            testkit::WriteFileBytes(dir + file, "x\r\n");
    }
    std::string path(const char* relative) const { return std::string(GetInstallDir()) + relative; }
};

struct Shortcut {
    const char* name;
    std::function<void()> run;
    std::string recorded;  // the stand-in's line; empty: nothing opens
};

// In order: a shortcut that opens something adds exactly its line; one that
// opens nothing adds none, as the next line shows.
void RunTable(const std::vector<Shortcut>& table)
{
    webkit::RecordFile records;
    size_t next = 0;
    for (const Shortcut& s : table) {
        s.run();
        if (s.recorded.empty())
            continue;
        std::string got = records.waitLine(next);
        EXPECT_EQ(got, s.recorded) << s.name;
        next += got.empty() ? 0 : 1;
    }
    testkit::PumpFor(300);
    EXPECT_EQ(records.lines().size(), next);
}

std::string ComputerName()
{
    char name[MAX_PATH] = "";
    DWORD size = sizeof name;
    GetComputerNameA(name, &size);
    return name;
}

}  // namespace

TEST(Shortcuts, EachOpensItsTarget)
{
    Kit kit;
    webkit::TestAssociations associations;
    // notepad for types without a program: WinExec looks in the program's
    // own folder first.
    webkit::StandIn notepad(testkit::BinDir() + "notepad.exe");
    ASSERT_TRUE(notepad.ok);
    const std::string rec = "tvrecord.exe ", pad = "notepad.exe ", conf = kit.path("apache\\conf\\httpd.conf"),
                      myIni = kit.path("mysql\\my.ini"), phpIni = kit.path("php.ini");
    RunTable({
        {"introduction", ShowIntroduction, rec + kit.path("home\\accueil.html")},
        {"faq", OpenFaq, rec + "http://www.tarvane.org/faq.php3"},
        {"php start", OpenPhpStartSite, rec + "http://www.php-beginners.org/"},
        {"apache error log", OpenApacheErrorLog, rec + kit.path("apache\\logs\\error.log")},
        {"apache access log", OpenApacheAccessLog, rec + kit.path("apache\\logs\\access.log")},
        {"mysql error log (.err, no program)", OpenMySqlErrorLog, pad + kit.path("mysql\\data\\mysql.err")},
        {"manager log", OpenManagerLog, rec + kit.path("Tarvane.log")},
        {"apache config (.conf, no program)", [&] { EditApacheConfig(conf.c_str()); }, pad + conf},
        {"mysql config", [&] { EditMySqlConfig(myIni.c_str()); }, rec + myIni},
        {"php config", [&] { EditPhpConfig(phpIni.c_str()); }, rec + phpIni},
        {"null path", [] { OpenDocument(nullptr); }, ""},
        {"local web, stopped", [] { BrowseLocalWeb(false, 80); }, ""},
        {"administration, stopped", [] { OpenAdministration(false, 80); }, ""},
        {"phpmyadmin, stopped", [] { OpenPhpMyAdmin(80); }, rec + "http://127.0.0.1:80/mysql/"},
        {"administration", [] { OpenAdministration(true, 80); }, rec + "http://127.0.0.1:80/home/"},
        {"local web", [] { BrowseLocalWeb(true, 8080); }, rec + "http://" + ComputerName() + ":8080/"},
    });
}

// MySQL 5.1 and later write data\<host name>.err: the shortcut and the
// window's log tail open it where the kit has no mysql.err.
TEST(Shortcuts, MySqlErrorLogOfAServerNamedAfterTheHost)
{
    Kit kit;
    webkit::TestAssociations associations;
    webkit::StandIn notepad(testkit::BinDir() + "notepad.exe");
    ASSERT_TRUE(notepad.ok);
    char host[MAX_PATH] = "";
    DWORD size = sizeof host;
    ASSERT_TRUE(GetComputerNameExA(ComputerNameDnsHostname, host, &size));
    const std::string hostLog = kit.path("mysql\\data\\") + host + ".err";
    ASSERT_TRUE(testkit::WriteFileBytes(hostLog, "x\r\n"));
    char found[MAX_PATH] = "";
    FindMySqlErrorLog(found, sizeof found);
    EXPECT_EQ(kit.path("mysql\\data\\mysql.err"), found) << "an older kit's file first";
    ASSERT_TRUE(DeleteFileA(kit.path("mysql\\data\\mysql.err").c_str()));
    FindMySqlErrorLog(found, sizeof found);
    EXPECT_EQ(hostLog, found);
    RunTable({{"mysql 8 error log", OpenMySqlErrorLog, "notepad.exe " + hostLog}});
}

TEST(Shortcuts, LogWithoutProgramOpensInNotepad)
{
    Kit kit;
    webkit::TestAssociations associations(false);
    webkit::StandIn notepad(testkit::BinDir() + "notepad.exe");
    ASSERT_TRUE(notepad.ok);
    RunTable({{"error log", OpenApacheErrorLog, "notepad.exe " + kit.path("apache\\logs\\error.log")}});
}

namespace {

// Started once, brought to the front the second time. With blanks: where
// short names are switched off the install folder keeps its blanks; a
// folder without a short form stands for that here (it does not exist yet
// when the install directory is resolved), and Web.exe beside it is what an
// unquoted command line would start instead.
void StartsOnceThenComesForward(bool blanks)
{
    Kit kit(blanks ? "Web Kit\\" : "");
    ASSERT_EQ(strchr(GetInstallDir(), ' ') != nullptr, blanks) << GetInstallDir();
    webkit::StandIn decoy(kit.stores.folder() + "Web.exe");
    webkit::StandIn editor(kit.path("Morvex.exe"));
    ASSERT_TRUE(editor.ok) << editor.path;
    webkit::TestAssociations associations;
    webkit::RecordFile records;
    const std::string phpIni = testkit::WindowsDir() + "\\php.ini";

    LaunchExtensionEditor(phpIni.c_str());
    EXPECT_EQ(records.waitLine(0), "Morvex.exe " + phpIni);
    HWND window = nullptr;
    ASSERT_TRUE(testkit::PumpUntil([&] { return (window = FindWindowA(nullptr, ExtensionEditorTitle)) != nullptr; },
                                   10000));

    HWND other = CreateWindowA("STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                               nullptr, nullptr, nullptr);
    // Wine keeps the foreground itself but follows the X server's focus
    // events, which come later: a focus event for "other" that arrives after
    // the editor was brought forward puts "other" back in front (not so on
    // Windows). So the step is taken again, at most 3 times, while the
    // window in front is "other"; the editor comes forward only when asked.
    bool forward = false;
    for (int attempt = 0; attempt < 3 && !forward; ++attempt) {
        EXPECT_TRUE(testkit::PumpUntil([&] {
            if (GetForegroundWindow() != other)
                SetForegroundWindow(other);
            return GetForegroundWindow() == other;
        }, 5000)) << "foreground " << GetForegroundWindow();
        LaunchExtensionEditor(phpIni.c_str());
        forward = testkit::PumpUntil([&] { return GetForegroundWindow() == window; }, 3000);
    }
    EXPECT_TRUE(forward) << "foreground " << GetForegroundWindow() << ", editor " << window;
    OpenFaq();  // the next line: no second editor came before it
    EXPECT_EQ(records.waitLine(1), "tvrecord.exe http://www.tarvane.org/faq.php3");

    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
    PostMessageA(window, WM_CLOSE, 0, 0);
    if (process && !testkit::WaitProcess(process, 10000))
        TerminateProcess(process, 1);
    CloseHandle(process);
    DestroyWindow(other);
}

}  // namespace

TEST(Shortcuts, ExtensionEditorStartsOnceThenComesForward)
{
    StartsOnceThenComesForward(false);
}

TEST(Shortcuts, ExtensionEditorFromAFolderWithBlanks)
{
    StartsOnceThenComesForward(true);
}
