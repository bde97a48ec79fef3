// The MySQL driver against the kit's stand-in servers: which build it
// picks, the exact launches, the two ways of shutting down, and restart.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "KitLayout.h"
#include "MySqlServer.h"
#include "ServerKit.h"
#include "ServerMonitor.h"
#include "ServiceControl.h"
#include "System.h"
#include "TestKit.h"

namespace {

class TestMySql : public MySqlServer {
public:
    using MySqlServer::MySqlServer;
    DWORD pid() const { return process_.dwProcessId; }
};

class MySqlTest : public ServerKitTest {
protected:
    // Waits until the stand-in server has created its shutdown event.
    static bool WaitServerReady()
    {
        return testkit::PumpUntil(
            [] {
                HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, kitrecord::kMysqldPortEvent);
                if (event)
                    CloseHandle(event);
                return event != nullptr;
            },
            10000);
    }

    static std::string CurrentDir()
    {
        char dir[MAX_PATH] = "";
        GetCurrentDirectoryA(sizeof dir, dir);
        return dir;
    }
};

TEST_F(MySqlTest, NtFamilyChoosesTheNtBuildAndWatchesMyIni)
{
    LayOut();
    AddMySqlBuilds({allMySqlBuilds, allMySqlBuilds + 4});
    ASSERT_TRUE(IsNtFamily()) << "this test runs on the NT family";
    MySqlServer mysql(kitFolder());
    EXPECT_STREQ(mysql.directory(), mySqlDir().c_str());
    EXPECT_STREQ(mysql.executable(), (mySqlBin() + "mysqld-nt.exe").c_str());
    EXPECT_STREQ(mysql.configPath(), (testkit::WindowsDir() + "\\My.Ini").c_str());
    EXPECT_STREQ(mysql.arguments(), "");
    EXPECT_EQ(mysql.port(), 0) << "got " << mysql.port();
    EXPECT_EQ(mysql.state(), Stopped);
    EXPECT_TRUE(mysql.checkConfig());
    EXPECT_EQ(mysql.reloadConfig(), 0u);
}

TEST_F(MySqlTest, OnlyTheOptBuildPresentIsChosenOnNt)
{
    LayOut();
    AddMySqlBuilds({"mysqld-opt.exe"});
    MySqlServer mysql(kitFolder());
    EXPECT_STREQ(mysql.executable(), (mySqlBin() + "mysqld-opt.exe").c_str());
}

TEST_F(MySqlTest, TheChoiceIsMadeOnceAtConstruction)
{
    LayOut();
    AddMySqlBuilds({"mysqld.exe"});
    MySqlServer mysql(kitFolder());
    AddMySqlBuilds({"mysqld-nt.exe"});
    EXPECT_STREQ(mysql.executable(), (mySqlBin() + "mysqld.exe").c_str());
    MySqlServer later(kitFolder());
    EXPECT_STREQ(later.executable(), (mySqlBin() + "mysqld-nt.exe").c_str());
}

// Paths longer than their buffers are cut, never written past them.
TEST_F(MySqlTest, AnOverlongInstallPathIsCut)
{
    // 249 characters: the value itself fits.
    std::string path = "C:\\" + std::string(245, 'x') + "\\";
    TestMySql mysql(path.c_str());
    EXPECT_EQ(std::string(mysql.directory()), path + "MySql\\");
    EXPECT_EQ(std::string(mysql.executable()), (path + "MySql\\bin\\mysqld-shareware.exe").substr(0, 259));
    mysql.setArguments(std::string(300, 'a').c_str());
    DWORD code = mysql.startProcess();
    EXPECT_NE(code, 0u) << "nothing to launch there";
    EXPECT_EQ(mysql.pid(), 0u);
    EXPECT_EQ(mysql.stopProcess(), 0u);
}

TEST_F(MySqlTest, Windows95FamilySkipsTheNtBuildAndStopsThroughTheEventOnly)
{
    LayOut();
    AddMySqlBuilds({allMySqlBuilds, allMySqlBuilds + 4});
    std::string report = RunProbe("win98", "stop");
    EXPECT_NE(report.find("nt=0\n"), std::string::npos) << report;
    EXPECT_NE(report.find("executable=" + mySqlBin() + "mysqld.exe\n"), std::string::npos) << report;
    EXPECT_NE(report.find("start=0\n"), std::string::npos) << report;
    EXPECT_NE(report.find("stop=0\n"), std::string::npos) << report;

    // The server it launched ended through its own event; mysqladmin did
    // not run.
    auto runs = mySqlRuns();
    ASSERT_EQ(runs.size(), 1u) << "launches";
    EXPECT_EQ(runs[0].program, "mysqld.exe");
    EXPECT_TRUE(WaitProcessGone(runs[0].pid, 10000));
    auto ends = kitrecord::Select(kitrecord::ReadRecords(kit + "MySql\\bin\\"), kitrecord::kEventPidShutdown);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].pid, runs[0].pid);
}

TEST_F(MySqlTest, Windows95FamilyWithOnlyTheOptBuild)
{
    LayOut();
    AddMySqlBuilds({"mysqld-opt.exe"});
    std::string report = RunProbe("win98", "choose");
    EXPECT_NE(report.find("nt=0\n"), std::string::npos) << report;
    EXPECT_NE(report.find("executable=" + mySqlBin() + "mysqld-opt.exe\n"), std::string::npos) << report;
}

TEST_F(MySqlTest, NoBuildPresentFailsEveryStartWithFileNotFound)
{
    LayOut();
    TestMySql mysql(kitFolder());
    EXPECT_STREQ(mysql.executable(), (mySqlBin() + "mysqld-shareware.exe").c_str());
    SetLastError(0xdead);
    DWORD code = mysql.start();
    EXPECT_EQ(code, (DWORD)ERROR_FILE_NOT_FOUND) << "got " << code;
    EXPECT_EQ(mysql.state(), StartPending);
    EXPECT_EQ(mysql.pid(), 0u);
    EXPECT_TRUE(mySqlRuns().empty());
}

TEST_F(MySqlTest, StartLaunchesTheServerHiddenWithItsArguments)
{
    LayOut();
    AddMySqlBuilds({allMySqlBuilds, allMySqlBuilds + 4});
    TestMySql mysql(kitFolder());
    mysql.setArguments("--skip-name-resolve --language=english");
    DWORD code = mysql.startProcess();
    ASSERT_EQ(code, 0u) << "got " << code;
    ASSERT_NE(mysql.pid(), 0u);
    ASSERT_TRUE(WaitServerReady());

    auto runs = mySqlRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].pid, mysql.pid());
    EXPECT_EQ(runs[0].cmdLine,
              "\"" + mySqlBin() + "mysqld-nt.exe\" --basedir=\"" + kitShort + "MySql\"  --skip-name-resolve --language=english");
    // No title is given: the system fills in the program's own path, as
    // for any process started without one.
    EXPECT_EQ(runs[0].title, kit + "MySql\\bin\\mysqld-nt.exe");
    EXPECT_EQ(runs[0].show, SW_HIDE) << "got " << runs[0].show;
    EXPECT_EQ(runs[0].curDir, CurrentDir()) << "inherited from the manager";
}

TEST_F(MySqlTest, EmptyArgumentsLeaveTheTwoBlanksAtTheEnd)
{
    LayOut();
    AddMySqlBuilds({"mysqld.exe"});
    TestMySql mysql(kitFolder());
    ASSERT_EQ(mysql.startProcess(), 0u);
    ASSERT_TRUE(testkit::PumpUntil([this] { return !mySqlRuns().empty(); }, 10000));
    EXPECT_EQ(mySqlRuns()[0].cmdLine, "\"" + mySqlBin() + "mysqld.exe\" --basedir=\"" + kitShort + "MySql\"  ");
}

// The driver keeps as much as the settings hold (254 characters), no more.
TEST_F(MySqlTest, SetArgumentsKeepsWhatTheSettingsHold)
{
    LayOut();
    MySqlServer mysql(kitFolder());
    std::string longText(300, 'a');
    mysql.setArguments(longText.c_str());
    EXPECT_EQ(strlen(mysql.arguments()), 254u);
    EXPECT_EQ(std::string(mysql.arguments()), longText.substr(0, 254));
    mysql.setArguments("--console");
    EXPECT_STREQ(mysql.arguments(), "--console");
}

// Each build ends through the event of its age (the stand-in makes what
// the real server of that age makes): 8.0 "mysqld<pid>_shutdown", 4.1 to
// 5.7 "MySQLShutdown<pid>", 3.23 "MySqlShutdown"; mysqladmin then does not
// run (it would stop the next server of a restart). The builds are taken
// away one by one, so that the next is chosen; mysqld.version sets an age.
// A stop at once after the start (a logoff or a quit right then) finds no
// event yet: it waits for the server to make it.
TEST_F(MySqlTest, StoppingSignalsTheEventOfTheServersAge)
{
    LayOut();
    AddMySqlBuilds({"mysqld-nt.exe", "mysqld.exe", "mysqld-opt.exe"});
    const struct {
        const char* build;
        const char* version;  // mysqld.version, or null
        const char* endedBy;
        bool atOnce;  // stopped without waiting for the server to be ready
    } cases[] = {{"mysqld-nt.exe", nullptr, kitrecord::kEventOldPidShutdown, false},
                 {"mysqld.exe", "5.7.30", kitrecord::kEventOldPidShutdown, false},
                 {"mysqld.exe", "8.0", kitrecord::kEventPidShutdown, true},
                 {"mysqld.exe", nullptr, kitrecord::kEventPidShutdown, false},
                 {"mysqld-opt.exe", nullptr, kitrecord::kEventNamedShutdown, false}};
    size_t seen = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.build) + " " + (c.version ? c.version : "") + (c.atOnce ? " at once" : ""));
        std::string version = kit + "MySql\\bin\\mysqld.version";
        if (c.version)
            ASSERT_TRUE(testkit::WriteFileBytes(version, c.version));
        TestMySql mysql(kitFolder());
        ASSERT_STREQ(mysql.executableName(), c.build);
        ASSERT_EQ(mysql.startProcess(), 0u);
        ASSERT_TRUE(c.atOnce || WaitServerReady());
        DWORD pid = mysql.pid();

        EXPECT_EQ(mysql.stopProcess(), 0u);
        EXPECT_TRUE(WaitProcessGone(pid, 10000));

        testkit::PumpFor(300);
        auto runs = mySqlRuns();
        EXPECT_EQ(runs.size(), seen + 1) << "mysqladmin must not run";
        seen = runs.size();
        auto ends = kitrecord::Select(kitrecord::ReadRecords(kit + "MySql\\bin\\"), c.endedBy);
        EXPECT_TRUE(!ends.empty() && ends.back().pid == pid);
        DeleteFileA(version.c_str());
        if (!c.version)
            ASSERT_TRUE(DeleteFileA((kit + "MySql\\bin\\" + c.build).c_str()));
    }
}

// A server without the event (none runs here): mysqladmin, where the kit
// has it.
TEST_F(MySqlTest, StopWithoutTheEventRunsMysqladminWhereTheKitHasIt)
{
    LayOut();
    AddMySqlBuilds({"mysqld.exe"});
    {
        MySqlServer mysql(kitFolder());
        // No event of any age: mysqladmin runs hidden. (The stop waits for
        // nothing; its time is not judged here, since the launch alone can
        // take half a second on a loaded machine.)
        EXPECT_EQ(mysql.stopProcess(), 0u);
        ASSERT_TRUE(testkit::PumpUntil([this] { return !mySqlRuns().empty(); }, 10000));
        EXPECT_EQ(mySqlRuns()[0].cmdLine, "\"" + mySqlBin() + "mysqladmin.exe\" -u root shutdown");
        EXPECT_EQ(mySqlRuns()[0].show, SW_HIDE) << "got " << mySqlRuns()[0].show;
        EXPECT_TRUE(WaitProcessGone(mySqlRuns()[0].pid, 10000));
    }
    ASSERT_TRUE(DeleteFileA((kit + "MySql\\bin\\mysqladmin.exe").c_str()));
    MySqlServer mysql(kitFolder());
    EXPECT_EQ(mysql.stopProcess(), 0u);
    testkit::PumpFor(500);
    EXPECT_EQ(mySqlRuns().size(), 1u);
}

// A kit in a folder with blanks, named in its long form: the launch, the
// stop and the service commands quote the program and the paths, and
// CreateProcess is given the program, so "<temp>\\My.exe" (what an
// unquoted command line would start) never runs.
TEST_F(MySqlTest, KitInAFolderWithBlanksStartsStopsAndInstalls)
{
    LayOut("My Kit");
    AddMySqlBuilds({"mysqld.exe"});
    ASSERT_TRUE(CopyFileA((testkit::BinDir() + "apache.exe").c_str(), (temp + "My.exe").c_str(), FALSE));
    TestMySql mysql(kit.c_str());
    ASSERT_STREQ(mysql.executable(), (kit + "MySql\\bin\\mysqld.exe").c_str());
    ASSERT_EQ(mysql.startProcess(), 0u);
    ASSERT_TRUE(WaitServerReady());
    auto runs = mySqlRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].cmdLine, "\"" + kit + "MySql\\bin\\mysqld.exe\" --basedir=\"" + kit + "MySql\"  ");
    DWORD pid = mysql.pid();
    EXPECT_EQ(mysql.stopProcess(), 0u);
    EXPECT_TRUE(WaitProcessGone(pid, 10000));
    EXPECT_EQ(mysql.stopProcess(), 0u);  // no event now: mysqladmin
    ASSERT_TRUE(testkit::PumpUntil([this] { return mySqlRuns().size() == 2; }, 10000));
    EXPECT_EQ(mySqlRuns()[1].cmdLine, "\"" + kit + "MySql\\bin\\mysqladmin.exe\" -u root shutdown");
    EXPECT_TRUE(WaitProcessGone(mySqlRuns()[1].pid, 10000));

    testkit::RemoveServiceIfPresent("MySql");
    EXPECT_TRUE(mysql.installService());
    EXPECT_EQ(testkit::ServiceImagePath("MySql").find("\"" + kit + "MySql\\bin\\mysqld.exe\""), 0u)
        << testkit::ServiceImagePath("MySql");
    EXPECT_TRUE(mysql.uninstallService());
    EXPECT_FALSE(ServiceExists("MySql"));
    EXPECT_FALSE(testkit::FileExists(temp + "testkit.log")) << "My.exe ran";
}

// A stop that does not end (a server that ignores its events): reported
// once when the time is up, and the process ends only when asked to.
TEST_F(MySqlTest, AStopThatDoesNotEndIsOverdueOnceAndEndsOnlyOnRequest)
{
    LayOut();
    AddMySqlBuilds({"mysqld.exe"});
    ASSERT_TRUE(DeleteFileA((kit + "MySql\\bin\\mysqladmin.exe").c_str()));
    ASSERT_TRUE(testkit::WriteFileBytes(kit + "MySql\\bin\\mysqld.stubborn", ""));
    ASSERT_NE(StartServerMonitor(), 0u);
    TestMySql mysql(kitFolder());
    EXPECT_FALSE(mysql.stopOverdue(GetTickCount() + 60000, 30000)) << "nothing was asked";
    ASSERT_EQ(mysql.start(), 0u);
    ASSERT_TRUE(testkit::PumpUntil([&] { return mysql.state() == Running; }, 10000)) << mysql.state();
    ASSERT_TRUE(WaitServerReady());
    ASSERT_EQ(mysql.stop(), 0u);
    DWORD asked = GetTickCount();
    testkit::PumpFor(1000);
    ASSERT_EQ(mysql.state(), StopPending) << "the server ignores its events";
    const struct {
        DWORD after;
        bool overdue;
    } cases[] = {{0, false}, {29000, false}, {30500, true}, {31000, false}, {90000, false}};
    for (const auto& c : cases)
        EXPECT_EQ(mysql.stopOverdue(asked + c.after, 30000), c.overdue) << c.after << " ms after the stop";
    EXPECT_TRUE(ProcessAlive(mysql.pid())) << "never ended by itself";
    DWORD pid = mysql.pid();
    EXPECT_EQ(mysql.endProcess(), 1);
    EXPECT_TRUE(WaitProcessGone(pid, 10000));
    EXPECT_TRUE(testkit::PumpUntil([&] { return mysql.state() == Stopped; }, 5000));
}

}  // namespace
