// The shortcuts: what the shell is asked to open, seen through test
// associations and stand-ins that record their command lines.
// GetInstallDir resolves once per process; ctest runs every TEST() as a
// process of its own, each with a fresh install folder.
#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "Settings.h"
#include "SettingsStores.h"
#include "Shortcuts.h"
#include "TestKit.h"
#include "WebTestKit.h"

namespace {

// The kit's files that the shortcuts open, below the install folder.
const char* const kitFiles[] = {"home\\accueil.html", "apache\\logs\\error.log", "apache\\logs\\access.log",
                                "apache\\conf\\httpd.conf", "mysql\\data\\mysql.err", "mysql\\my.ini",
                                "php.ini", "Tarvane.log"};

struct Kit {
    SettingsStores stores;
    std::unique_ptr<ManagerSettings> settings;
    explicit Kit(const char* installSubfolder = "")
        : stores("web")
    {
        const std::string dir = stores.folder() + installSubfolder;
        stores.setPath(dir);
        settings.reset(new ManagerSettings);  // fills InstallDir()
        CreateDirectoryA(dir.c_str(), nullptr);
        for (const char* folder : {"home", "apache", "apache\\logs", "apache\\conf", "mysql", "mysql\\data"})
            CreateDirectoryA((dir + folder).c_str(), nullptr);
        for (const char* file : kitFiles)
            testkit::WriteFileBytes(dir + file, "x\r\n");
    }
    std::string path(const char* relative) const { return std::string(InstallDir()) + relative; }
};

struct Shortcut {
    const char* name;
    std::function<void()> run;
    std::string recorded;  // the stand-in's line; empty: nothing is opened
};

// Runs the table in order: each shortcut that opens something must add
// exactly its line; one that opens nothing adds none, which the next line
// shows.
void RunTable(const webkit::RecordFile& records, const std::vector<Shortcut>& table)
{
    size_t next = 0;
    for (const Shortcut& s : table) {
        s.run();
        if (s.recorded.empty())
            continue;
        std::string got = records.waitLine(next);
        EXPECT_EQ(got, s.recorded) << s.name;
        if (!got.empty())
            ++next;
    }
    testkit::PumpFor(300);
    EXPECT_EQ(records.lines().size(), next) << "a shortcut opened more than its target";
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
    webkit::RecordFile records;
    // notepad for the types without a program: WinExec looks in the
    // program's own folder first.
    webkit::StandIn notepad(testkit::BinDir() + "notepad.exe");
    ASSERT_TRUE(notepad.ok());
    const std::string rec = "tvrecord.exe ", pad = "notepad.exe ";
    const std::string conf = kit.path("apache\\conf\\httpd.conf"), myIni = kit.path("mysql\\my.ini"),
                      phpIni = kit.path("php.ini");
    RunTable(records, {
        {"introduction", ShowIntroduction, rec + kit.path("home\\accueil.html")},
        {"faq", OpenFaq, rec + "http://www.tarvane.org/faq.php3"},
        {"php start", OpenPhpStartSite, rec + "http://www.php-beginners.org/"},
        {"apache error log", OpenApacheErrorLog, rec + kit.path("apache\\logs\\error.log")},
        {"apache access log", OpenApacheAccessLog, rec + kit.path("apache\\logs\\access.log")},
        {"mysql error log (.err: no program)", OpenMySqlErrorLog, pad + kit.path("mysql\\data\\mysql.err")},
        {"manager log", OpenManagerLog, rec + kit.path("Tarvane.log")},
        {"apache config (.conf: no program)", [&] { EditApacheConfig(conf.c_str()); }, pad + conf},
        {"mysql config", [&] { EditMySqlConfig(myIni.c_str()); }, rec + myIni},
        {"php config", [&] { EditPhpConfig(phpIni.c_str()); }, rec + phpIni},
        {"null path", [] { OpenDocument(nullptr); }, ""},
        {"local web, stopped", [] { BrowseLocalWeb(false, 80); }, ""},
        {"administration, stopped", [] { OpenAdministration(false, 80); }, ""},
        {"phpmyadmin, stopped", [] { OpenPhpMyAdmin(80); }, rec + "http://127.0.0.1:80/mysql/"},
        {"administration", [] { OpenAdministration(true, 80); }, rec + "http://127.0.0.1:80/home/"},
        {"local web", [] { BrowseLocalWeb(true, 8080); }, rec + "http://" + ComputerName() + ":8080/"},
        {"local url", [] { OpenLocalUrl(81, "a/b.php"); }, rec + "http://127.0.0.1:81/a/b.php"},
    });
}

TEST(Shortcuts, LogWithoutProgramOpensInNotepad)
{
    Kit kit;
    webkit::TestAssociations associations(false);
    webkit::RecordFile records;
    webkit::StandIn notepad(testkit::BinDir() + "notepad.exe");
    ASSERT_TRUE(notepad.ok());
    RunTable(records, {{"error log", OpenApacheErrorLog, "notepad.exe " + kit.path("apache\\logs\\error.log")}});
}

namespace {

void StartEditorThenBringForward(bool blanks)
{
    // Where short names are switched off the install folder keeps its
    // blanks; a folder without a short form stands for that here (it does
    // not exist yet when the install directory is resolved). Web.exe beside
    // it is what an unquoted command line would start instead.
    Kit kit(blanks ? "Web Kit\\" : "");
    std::unique_ptr<webkit::StandIn> decoy;
    if (blanks) {
        ASSERT_NE(strchr(InstallDir(), ' '), nullptr) << InstallDir();
        decoy.reset(new webkit::StandIn(kit.stores.folder() + "Web.exe"));
    }
    webkit::TestAssociations associations;
    webkit::RecordFile records;
    webkit::StandIn editor(kit.path("Morvex.exe"));
    ASSERT_TRUE(editor.ok()) << kit.path("Morvex.exe");
    const std::string phpIni = testkit::WindowsDir() + "\\php.ini";

    LaunchExtensionEditor(phpIni.c_str());
    EXPECT_EQ(records.waitLine(0), "Morvex.exe " + phpIni);
    HWND window = nullptr;
    ASSERT_TRUE(testkit::PumpUntil([&] { return (window = FindWindowA(nullptr, ExtensionEditorTitle)) != nullptr; },
                                   10000));

    // Something else in front, then the shortcut again: the editor comes
    // forward and no second copy starts (the FAQ line that follows shows it).
    HWND other = CreateWindowA("STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                               nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    EXPECT_TRUE(testkit::PumpUntil([&] { return GetForegroundWindow() == other; }, 5000));
    LaunchExtensionEditor(phpIni.c_str());
    EXPECT_TRUE(testkit::PumpUntil([&] { return GetForegroundWindow() == window; }, 5000))
        << "foreground " << GetForegroundWindow() << ", editor " << window;
    OpenFaq();
    EXPECT_EQ(records.waitLine(1), "tvrecord.exe http://www.tarvane.org/faq.php3");

    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
    PostMessageA(window, WM_CLOSE, 0, 0);
    if (process) {
        if (!testkit::WaitProcess(process, 10000))
            TerminateProcess(process, 1);
        CloseHandle(process);
    }
    DestroyWindow(other);
}

}  // namespace

TEST(Shortcuts, ExtensionEditorStartsOnceThenComesForward)
{
    StartEditorThenBringForward(false);
}

TEST(Shortcuts, ExtensionEditorInAFolderWithBlanks)
{
    StartEditorThenBringForward(true);
}
