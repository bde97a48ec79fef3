// The Apache driver on each layout of the kit it knows, in a plain folder
// and in one with blanks: the program it picks, every command line it
// builds (the program and each path quoted where a blank needs it), the
// syntax test's verdicts, the process started, refused and stopped (2.x in
// its console through its parent's event, never through "-k shutdown",
// which would reach another product's "Apache2.4" service), a server
// started before the driver taken up by its first process, and the
// service "Apache" installed, run and removed.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ApacheServer.h"
#include "ImportHook.h"
#include "KitLayout.h"
#include "ServerKit.h"
#include "ServerMonitor.h"
#include "TestKit.h"

namespace {

// A folder without short names. Windows gives the long form for it when
// the volume keeps no 8.3 names (fsutil 8dot3name set 1, the default for
// new volumes other than the system's since Windows 8). Wine 8 makes a
// short name for every long one (a hash name such as A_FO~ADG) and has no
// switch to stop it, so the test hands this program's calls the long form,
// as such a volume answers: the folder is real, only its 8.3 alias is
// hidden. Every other call reaches Wine.
void* realShortPathName;

DWORD WINAPI LongFormOnly(LPCSTR longPath, LPSTR shortPath, DWORD size)
{
    if (!longPath || GetFileAttributesA(longPath) == INVALID_FILE_ATTRIBUTES) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    DWORD length = (DWORD)strlen(longPath);
    if (!shortPath || length + 1 > size)
        return length + 1;
    memcpy(shortPath, longPath, length + 1);
    return length;
}

struct KitRow {
    bool httpd;   // Apache 2.x's bin\httpd.exe, else Apache 1.3's apache.exe
    bool blanks;  // the kit lies in "Program Files (x86)\Tarvane kit"
    const char* refused;  // a line this Apache refuses, and what it says
    const char* refusal;
};

const KitRow rows[] = {
    {false, false, "Define X\n", "Invalid command 'Define'"},
    {true, false, "Port 8080\n", "Invalid command 'Port', perhaps misspelled"},
    {false, true, "Define X\n", "Invalid command 'Define'"},
    {true, true, "Port 8080\n", "Invalid command 'Port', perhaps misspelled"},
};

class TestApache : public ApacheServer {
public:
    using ApacheServer::ApacheServer;
    DWORD pid() const { return process_.dwProcessId; }
};

// Takes the driver's notifications as the manager window does: the text
// is copied during the call.
class Notes {
public:
    explicit Notes(UINT messageId)
    {
        message = messageId;
        texts.clear();
        WNDCLASSA wc = {};
        wc.lpfnWndProc = proc;
        wc.lpszClassName = "ApacheKitsNotes";
        RegisterClassA(&wc);
        hwnd = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    }
    ~Notes() { DestroyWindow(hwnd); }

    HWND hwnd;
    static UINT message;
    static std::vector<std::string> texts;

private:
    static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        if (msg == message && wParam == ConfigError)
            texts.push_back(lParam ? (const char*)lParam : "");
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
};
UINT Notes::message;
std::vector<std::string> Notes::texts;

// One row per test: the install directory is read once per process.
class ApacheKits : public ServerKitTest {
protected:
    void TearDown() override
    {
        testkit::RemoveServiceIfPresent("Apache2.4");
        ServerKitTest::TearDown();
        if (realShortPathName)
            testkit::HookImport("GetShortPathNameA", realShortPathName, &realShortPathName);
        realShortPathName = nullptr;
    }

    std::string allRuns() const
    {
        std::string all;
        for (const auto& r : apacheRuns())
            all += r.cmdLine + "\n";
        return all;
    }

    void StartCheckStopAndService(const KitRow& row);
};

void ApacheKits::StartCheckStopAndService(const KitRow& row)
{
    if (row.blanks) {
        ASSERT_GT(testkit::HookImport("GetShortPathNameA", (void*)LongFormOnly, &realShortPathName), 0);
        ASSERT_TRUE(CreateDirectoryA((temp + "Program Files (x86)").c_str(), nullptr));
        LayOut("Program Files (x86)\\Tarvane kit");
        ASSERT_NE(apacheDir().find(' '), std::string::npos) << "the driver's folder: " << apacheDir();
    } else {
        LayOut();
    }
    if (row.httpd)
        UseHttpdLayout();
    const std::string exe = apacheDir() + (row.httpd ? "bin\\httpd.exe" : "apache.exe");
    auto quoted = [&](const std::string& path) { return row.blanks ? "\"" + path + "\"" : path; };
    const std::string program = quoted(exe);
    const std::string conf = kit + "Apache\\conf\\httpd.conf";
    std::string confText;
    ASSERT_TRUE(testkit::ReadFileBytes(conf, &confText));

    ASSERT_NE(StartServerMonitor(), 0u);
    TestApache apache(kitFolder());
    Notes notes(apache.messageId());
    apache.setNotifyWindow(notes.hwnd);
    EXPECT_EQ(apache.executable(), exe);
    EXPECT_EQ(apache.httpd(), row.httpd);
    EXPECT_EQ(apache.port(), webPort);

    // Start: the syntax test passes, the server runs and writes its pid.
    // 2.x's parent writes the pid before its child has read httpd.conf,
    // as the real one does: the configuration is only rewritten below
    // once the port answers.
    EXPECT_EQ(apache.start(), 0u);
    const std::string pidFile = kit + "Apache\\logs\\httpd.pid";
    ASSERT_TRUE(testkit::PumpUntil(
        [&] { return apache.state() == Running && testkit::FileExists(pidFile) && testkit::PortAnswers(webPort); },
        10000))
        << "state " << apache.state() << "\n" << allRuns();
    const std::string checkProgram = quoted(apacheDir() + (row.httpd ? "bin\\httpd.exe" : "Apache.exe"));
    std::vector<kitrecord::Record> checks = runsWith(" -t");
    ASSERT_EQ(checks.size(), 1u) << "one syntax test per start\n" << allRuns();
    EXPECT_EQ(checks[0].cmdLine.find(checkProgram + " -t"), 0u) << checks[0].cmdLine;
    const std::string startLine = row.httpd ? program : program + " -k start";
    std::vector<kitrecord::Record> starts;
    for (const auto& r : apacheRuns())
        if (r.cmdLine == startLine)
            starts.push_back(r);
    ASSERT_EQ(starts.size(), 1u) << allRuns();
    EXPECT_EQ(starts[0].pid, apache.pid());
    EXPECT_EQ(starts[0].title, "Apache2");
    EXPECT_EQ(starts[0].curDir + "\\", apacheDir());

    // A line this Apache refuses: the check says so with Apache's own
    // words, and the server cannot be stopped meanwhile (the stop's own
    // check says it again).
    WriteHttpdConf(confText + row.refused);
    EXPECT_FALSE(apache.checkConfig());
    testkit::PumpUntil([] { return !Notes::texts.empty(); }, 2000);
    ASSERT_EQ(Notes::texts.size(), 1u);
    EXPECT_NE(Notes::texts[0].find(row.refusal), std::string::npos) << Notes::texts[0];
    std::string slashed = conf;
    for (char& c : slashed)
        c = c == '\\' ? '/' : c;
    EXPECT_NE(Notes::texts[0].find(slashed), std::string::npos) << Notes::texts[0];
    EXPECT_EQ(apache.stop(), 1u);
    EXPECT_EQ(apache.state(), Running);
    testkit::PumpUntil([] { return Notes::texts.size() == 2; }, 2000);
    ASSERT_EQ(Notes::texts.size(), 2u);
    EXPECT_EQ(Notes::texts[1], Notes::texts[0]);
    EXPECT_FALSE(testkit::FileExists(apacheDir() + "chkap.bat"));
    EXPECT_FALSE(testkit::FileExists(apacheDir() + "chkap.txt"));
    WriteHttpdConf(confText);

    // Stop. 2.x serves from a child of the process started; both end.
    DWORD child = 0;
    if (row.httpd) {
        ASSERT_EQ(ServiceControl::childProcesses(apache.pid(), "httpd.exe", &child, 1), 1) << "the serving child";
    }
    EXPECT_EQ(apache.stop(), 0u);
    EXPECT_TRUE(testkit::PumpUntil([&] { return apache.state() == Stopped; }, 10000)) << allRuns();
    ASSERT_EQ(runsWith("-k shutdown").size(), row.httpd ? 0u : 1u) << allRuns();
    if (!row.httpd)
        EXPECT_EQ(runsWith("-k shutdown")[0].cmdLine, program + "  -k shutdown");
    EXPECT_TRUE(WaitProcessGone(starts[0].pid, 10000));
    EXPECT_TRUE(WaitProcessGone(child, 10000));

    // A server started before the driver (as a user would, in its
    // console) is taken up by its first process and stopped the same way.
    // The stop's helpers (1.3's shutdown command) end a moment after the
    // server; a new driver knows nothing of them, so they go first.
    for (const auto& r : apacheRuns())
        ASSERT_TRUE(WaitProcessGone(r.pid, 10000)) << r.cmdLine;
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION user = {};
    std::string line = startLine;
    ASSERT_TRUE(CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                               apacheDir().c_str(), &startup, &user))
        << "error " << GetLastError() << "\n" << allRuns();
    CloseHandle(user.hThread);
    ASSERT_TRUE(testkit::PumpUntil([&] { return testkit::FileExists(pidFile); }, 10000));
    if (row.httpd)
        ASSERT_TRUE(testkit::PumpUntil(
            [&] { return ServiceControl::childProcesses(user.dwProcessId, "httpd.exe", &child, 1) == 1; }, 10000));
    {
        TestApache taker(kitFolder());
        EXPECT_EQ(taker.start(), 0u);
        EXPECT_EQ(taker.pid(), user.dwProcessId) << "the first process, never the child\n" << allRuns();
        ASSERT_TRUE(testkit::PumpUntil([&] { return taker.state() == Running; }, 10000));
        EXPECT_EQ(taker.stop(), 0u);
        EXPECT_EQ(WaitForSingleObject(user.hProcess, 10000), WAIT_OBJECT_0) << allRuns();
        EXPECT_TRUE(WaitProcessGone(child, 10000));
    }
    CloseHandle(user.hProcess);
    EXPECT_EQ(runsWith("-k shutdown").size(), row.httpd ? 0u : 2u) << allRuns();

    // The service: named "Apache" whichever Apache registers it, run by
    // the service manager, removed again.
    const std::string naming = row.httpd ? " -n Apache" : "";
    apache.installService();
    ASSERT_TRUE(testkit::PumpUntil([] { return ServiceExists("Apache"); }, 10000)) << allRuns();
    EXPECT_FALSE(ServiceExists("Apache2.4"));
    ASSERT_EQ(runsWith("-k install").size(), 1u);
    EXPECT_EQ(runsWith("-k install")[0].cmdLine, program + " -k install" + naming);
    ASSERT_TRUE(apache.setServiceMode(true));
    EXPECT_EQ(apache.start(), 0u);
    EXPECT_TRUE(testkit::PumpUntil([&] { return apache.state() == Running; }, 15000)) << allRuns();
    EXPECT_EQ(testkit::ServiceState("Apache"), (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(apache.stop(), 0u);
    EXPECT_TRUE(testkit::PumpUntil([&] { return apache.state() == Stopped; }, 15000));
    ASSERT_TRUE(apache.setServiceMode(false));
    EXPECT_TRUE(apache.uninstallService());
    EXPECT_TRUE(testkit::PumpUntil([] { return !ServiceExists("Apache"); }, 10000));
    ASSERT_EQ(runsWith("-k uninstall").size(), 1u);
    EXPECT_EQ(runsWith("-k uninstall")[0].cmdLine, program + " -k uninstall" + naming);
    EXPECT_EQ(Notes::texts.size(), 2u) << "no other refusal";
}

// The program is chosen once, when the driver is built: apache.exe first,
// then bin\httpd.exe; with neither, apache.exe, whose launch then fails
// with "file not found".
TEST_F(ApacheKits, ProgramChoice)
{
    LayOut();
    ASSERT_TRUE(CreateDirectoryA((kit + "Apache\\bin").c_str(), nullptr));
    const std::string oldLayout = apacheDir() + "apache.exe", newLayout = apacheDir() + "bin\\httpd.exe";
    const struct {
        bool apacheExe, httpdExe;
        const std::string& chosen;
        bool httpd;
    } cases[] = {
        {true, true, oldLayout, false},
        {false, true, newLayout, true},
        {true, false, oldLayout, false},
        {false, false, oldLayout, false},
    };
    std::string bytes;
    ASSERT_TRUE(testkit::ReadFileBytes(oldLayout, &bytes));
    for (const auto& c : cases) {
        DeleteFileA(oldLayout.c_str());
        DeleteFileA(newLayout.c_str());
        if (c.apacheExe)
            ASSERT_TRUE(testkit::WriteFileBytes(oldLayout, bytes));
        if (c.httpdExe)
            ASSERT_TRUE(testkit::WriteFileBytes(newLayout, bytes));
        ApacheServer apache(kitFolder());
        EXPECT_EQ(apache.executable(), c.chosen) << c.apacheExe << c.httpdExe;
        EXPECT_EQ(apache.httpd(), c.httpd) << c.apacheExe << c.httpdExe;
        if (!c.apacheExe && !c.httpdExe)
            EXPECT_EQ(apache.startProcess(), (DWORD)ERROR_FILE_NOT_FOUND);
    }
}

// A stop that does not end (a server that ignores its events): overdue
// once, and only endProcess ends it, its first process and its child.
TEST_F(ApacheKits, AnOverdueStopEndsBothProcessesOnRequest)
{
    LayOut();
    UseHttpdLayout();
    ASSERT_TRUE(testkit::WriteFileBytes(apacheDir() + "bin\\httpd.stubborn", ""));
    ASSERT_NE(StartServerMonitor(), 0u);
    TestApache apache(kitFolder());
    ASSERT_EQ(apache.start(), 0u);
    DWORD child = 0;
    ASSERT_TRUE(testkit::PumpUntil(
        [&] { return ServiceControl::childProcesses(apache.pid(), "httpd.exe", &child, 1) == 1; }, 10000));
    ASSERT_TRUE(testkit::PumpUntil([&] { return apache.state() == Running; }, 10000));
    ASSERT_EQ(apache.stop(), 0u);
    DWORD asked = GetTickCount();
    testkit::PumpFor(1000);
    ASSERT_EQ(apache.state(), StopPending);
    EXPECT_FALSE(apache.stopOverdue(asked + 29000, 30000));
    EXPECT_TRUE(apache.stopOverdue(asked + 30500, 30000));
    EXPECT_FALSE(apache.stopOverdue(asked + 31000, 30000)) << "once a stop";
    DWORD parent = apache.pid();
    EXPECT_EQ(apache.endProcess(), 2);
    EXPECT_TRUE(WaitProcessGone(parent, 10000));
    EXPECT_TRUE(WaitProcessGone(child, 10000));
    EXPECT_TRUE(testkit::PumpUntil([&] { return apache.state() == Stopped; }, 5000));
}

// A stop asked for while 2.x's parent is still reading its configuration
// (no events yet) waits for them and ends both processes.
TEST_F(ApacheKits, AStopBeforeTheEventsExistWaitsForThem)
{
    LayOut();
    UseHttpdLayout();
    std::string conf;
    ASSERT_TRUE(testkit::ReadFileBytes(kit + "Apache\\conf\\httpd.conf", &conf));
    WriteHttpdConf(conf + "# testkit: check-delay 3000\n");
    ASSERT_NE(StartServerMonitor(), 0u);
    TestApache apache(kitFolder());
    ASSERT_EQ(apache.start(), 0u);
    ASSERT_TRUE(testkit::PumpUntil([&] { return apache.state() == Running; }, 10000));
    const std::string shutdown = "ap" + std::to_string(apache.pid()) + "_shutdown";
    HANDLE early = OpenEventA(SYNCHRONIZE, FALSE, shutdown.c_str());
    if (early) {
        // A machine so loaded that the monitor saw the server only after
        // 3 s: the point cannot be shown, which is no failure of it.
        CloseHandle(early);
        apache.stop();
        GTEST_SKIP() << "the parent had made its events already";
    }
    DWORD parent = apache.pid();
    EXPECT_EQ(apache.stop(), 0u);
    EXPECT_TRUE(testkit::PumpUntil([&] { return apache.state() == Stopped; }, 10000));
    EXPECT_TRUE(WaitProcessGone(parent, 10000));
}

TEST_F(ApacheKits, Apache13)
{
    StartCheckStopAndService(rows[0]);
}

TEST_F(ApacheKits, Apache24)
{
    StartCheckStopAndService(rows[1]);
}

TEST_F(ApacheKits, Apache13InAFolderWithBlanks)
{
    StartCheckStopAndService(rows[2]);
}

TEST_F(ApacheKits, Apache24InAFolderWithBlanks)
{
    StartCheckStopAndService(rows[3]);
}

}  // namespace
