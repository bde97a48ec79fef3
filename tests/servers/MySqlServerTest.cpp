// The MySQL driver against the kit's stand-in servers: which build it
// picks, the exact launches, the two ways of shutting down, and restart.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "MySqlServer.h"
#include "ServerKit.h"
#include "ServerMonitor.h"
#include "ServiceControl.h"
#include "TestKit.h"

namespace {

class TestMySql : public MySqlServer {
public:
    DWORD pid() const { return process_.dwProcessId; }
};

class MySqlTest : public ServerKitTest {
protected:
    // Waits until the stand-in server has created its shutdown event.
    static bool WaitServerReady()
    {
        return testkit::PumpUntil(
            [] {
                HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, "MySqlShutdown");
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
    ASSERT_TRUE(ServiceControl::isNtFamily()) << "this test runs on the NT family";
    MySqlServer mysql;
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
    MySqlServer mysql;
    EXPECT_STREQ(mysql.executable(), (mySqlBin() + "mysqld-opt.exe").c_str());
}

TEST_F(MySqlTest, TheChoiceIsMadeOnceAtConstruction)
{
    LayOut();
    AddMySqlBuilds({"mysqld.exe"});
    MySqlServer mysql;
    AddMySqlBuilds({"mysqld-nt.exe"});
    EXPECT_STREQ(mysql.executable(), (mySqlBin() + "mysqld.exe").c_str());
    MySqlServer later;
    EXPECT_STREQ(later.executable(), (mySqlBin() + "mysqld-nt.exe").c_str());
}

// Paths longer than their buffers are cut, never written past them.
TEST_F(MySqlTest, AnOverlongInstallPathIsCut)
{
    // 249 characters: the value itself fits.
    std::string path = "C:\\" + std::string(245, 'x') + "\\";
    SetInstallPath(path);
    TestMySql mysql;
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

    // The server it launched ended through the event; mysqladmin never ran.
    auto runs = mySqlRuns();
    ASSERT_EQ(runs.size(), 1u) << "launches";
    EXPECT_EQ(runs[0].program, "mysqld.exe");
    EXPECT_TRUE(WaitProcessGone(runs[0].pid, 10000));
    auto ends = kitrecord::Select(kitrecord::ReadRecords(kit + "MySql\\bin\\"), kitrecord::kEventEnd);
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
    TestMySql mysql;
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
    TestMySql mysql;
    mysql.setArguments("--skip-name-resolve --language=english");
    DWORD code = mysql.startProcess();
    ASSERT_EQ(code, 0u) << "got " << code;
    ASSERT_NE(mysql.pid(), 0u);
    ASSERT_TRUE(WaitServerReady());

    auto runs = mySqlRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].pid, mysql.pid());
    EXPECT_EQ(runs[0].cmdLine,
              mySqlBin() + "mysqld-nt.exe --basedir=" + mySqlDir() + "  --skip-name-resolve --language=english");
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
    TestMySql mysql;
    ASSERT_EQ(mysql.startProcess(), 0u);
    ASSERT_TRUE(testkit::PumpUntil([this] { return !mySqlRuns().empty(); }, 10000));
    EXPECT_EQ(mySqlRuns()[0].cmdLine, mySqlBin() + "mysqld.exe --basedir=" + mySqlDir() + "  ");
}

TEST_F(MySqlTest, SetArgumentsKeeps255Characters)
{
    LayOut();
    MySqlServer mysql;
    std::string longText(300, 'a');
    mysql.setArguments(longText.c_str());
    EXPECT_EQ(strlen(mysql.arguments()), 255u);
    EXPECT_EQ(std::string(mysql.arguments()), longText.substr(0, 255));
    mysql.setArguments("--console");
    EXPECT_STREQ(mysql.arguments(), "--console");
}

TEST_F(MySqlTest, StoppingTheNtBuildSignalsTheEventAndRunsMysqladmin)
{
    LayOut();
    AddMySqlBuilds({allMySqlBuilds, allMySqlBuilds + 4});
    TestMySql mysql;
    ASSERT_EQ(mysql.startProcess(), 0u);
    ASSERT_TRUE(WaitServerReady());
    DWORD pid = mysql.pid();

    DWORD before = GetTickCount();
    EXPECT_EQ(mysql.stopProcess(), 0u);
    DWORD took = GetTickCount() - before;
    EXPECT_GE(took, 490u) << "the 500 ms after the event";
    EXPECT_TRUE(WaitProcessGone(pid, 10000));

    ASSERT_TRUE(testkit::PumpUntil([this] { return mySqlRuns().size() == 2; }, 10000));
    auto runs = mySqlRuns();
    EXPECT_EQ(runs[1].program, "mysqladmin.exe");
    EXPECT_EQ(runs[1].cmdLine, mySqlBin() + "mysqladmin.exe -u root shutdown");
    EXPECT_EQ(runs[1].show, SW_HIDE) << "got " << runs[1].show;
    // The server's own end came from the event.
    auto ends = kitrecord::Select(kitrecord::ReadRecords(kit + "MySql\\bin\\"), kitrecord::kEventEnd);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].pid, pid);
}

TEST_F(MySqlTest, OtherBuildsStopThroughTheEventOnly)
{
    LayOut();
    AddMySqlBuilds({"mysqld.exe"});
    TestMySql mysql;
    ASSERT_EQ(mysql.startProcess(), 0u);
    ASSERT_TRUE(WaitServerReady());
    DWORD pid = mysql.pid();
    EXPECT_EQ(mysql.stopProcess(), 0u);
    EXPECT_TRUE(WaitProcessGone(pid, 10000));
    testkit::PumpFor(1000);
    auto runs = mySqlRuns();
    ASSERT_EQ(runs.size(), 1u) << "mysqladmin must not run";
    EXPECT_EQ(runs[0].program, "mysqld.exe");
}

TEST_F(MySqlTest, InstallFolderHoldingNtRunsMysqladminForAnyBuild)
{
    LayOut("a-nt");
    AddMySqlBuilds({"mysqld.exe"});
    MySqlServer mysql;
    ASSERT_NE(strstr(mysql.executable(), "-nt"), nullptr) << mysql.executable();
    EXPECT_STREQ(mysql.executable(), (mySqlBin() + "mysqld.exe").c_str());
    // No server runs: the event step is skipped at once, mysqladmin still runs.
    DWORD before = GetTickCount();
    EXPECT_EQ(mysql.stopProcess(), 0u);
    EXPECT_LT(GetTickCount() - before, 450u) << "no wait without the event";
    ASSERT_TRUE(testkit::PumpUntil([this] { return !mySqlRuns().empty(); }, 10000));
    EXPECT_EQ(mySqlRuns()[0].cmdLine, mySqlBin() + "mysqladmin.exe -u root shutdown");
}

TEST_F(MySqlTest, StopWithoutServerOrNtBuildDoesNothing)
{
    LayOut();
    AddMySqlBuilds({"mysqld-opt.exe"});
    MySqlServer mysql;
    DWORD before = GetTickCount();
    EXPECT_EQ(mysql.stopProcess(), 0u);
    EXPECT_LT(GetTickCount() - before, 450u);
    testkit::PumpFor(500);
    EXPECT_TRUE(mySqlRuns().empty());
}

// Restart of a running server: it stops, and once the monitor has seen it
// end, the window's rule (start a Stopped server with restartPending set)
// brings it back.
TEST_F(MySqlTest, RestartOfARunningServerBringsItBack)
{
    LayOut();
    AddMySqlBuilds({"mysqld.exe"});
    ASSERT_NE(startServerMonitor(), 0u);
    TestMySql mysql;
    ASSERT_EQ(mysql.start(), 0u);
    ASSERT_TRUE(testkit::PumpUntil([&] { return mysql.state() == Running; }, 10000)) << mysql.state();
    ASSERT_TRUE(WaitServerReady());
    DWORD first = mysql.pid();

    DWORD code = mysql.restart();
    EXPECT_EQ(code, 0u) << "got " << code;
    EXPECT_EQ(mysql.state(), StopPending);
    EXPECT_TRUE(mysql.restartPending());

    // What the manager window does on its status timer.
    bool restarted = false;
    ASSERT_TRUE(testkit::PumpUntil(
        [&] {
            if (mysql.state() == Stopped && mysql.restartPending()) {
                mysql.start();
                mysql.setRestartPending(false);
                restarted = true;
            }
            return restarted && mysql.state() == Running;
        },
        15000))
        << "state " << mysql.state();
    EXPECT_FALSE(ProcessAlive(first));
    EXPECT_NE(mysql.pid(), first);
    EXPECT_TRUE(ProcessAlive(mysql.pid()));
    // Running is seen as soon as the process lives, maybe before its record.
    testkit::PumpUntil([&] { return mySqlRuns().size() >= 2; }, 10000);
    auto runs = mySqlRuns();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].pid, mysql.pid());
}

TEST_F(MySqlTest, RestartOfAStoppedServerStartsIt)
{
    LayOut();
    AddMySqlBuilds({"mysqld.exe"});
    TestMySql mysql;
    mysql.setRestartPending(true);
    EXPECT_EQ(mysql.restart(), 0u);
    EXPECT_EQ(mysql.state(), StartPending);
    EXPECT_FALSE(mysql.restartPending());
    EXPECT_NE(mysql.pid(), 0u);
    EXPECT_TRUE(WaitServerReady());
}

}  // namespace
