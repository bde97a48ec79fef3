// The stand-ins as Windows services, through Wine's service control
// manager: "Apache" (apache.exe -k install/uninstall) and "MySql"
// (mysqld-nt.exe --install/--remove).
#include <windows.h>
#include <gtest/gtest.h>

#include <vector>

#include "KitLayout.h"
#include "StandInHelpers.h"
#include "TestKit.h"
#include "record.h"

using kitrecord::Record;
using testkit::ServiceExists;

namespace {

class ServiceStandIn : public ::testing::Test {
protected:
    testkit::KitLayout kit{"service"};

    void SetUp() override
    {
        ASSERT_TRUE(kit.ok());
        // A service left by an earlier crashed test would make install fail.
        testkit::RemoveServiceIfPresent("Apache");
        testkit::RemoveServiceIfPresent("MySql");
    }

    void TearDown() override
    {
        testkit::RemoveServiceIfPresent("Apache");
        testkit::RemoveServiceIfPresent("MySql");
    }

    standin::Result run(const std::string& cmdLine)
    {
        standin::Result result;
        EXPECT_TRUE(standin::RunCaptured(cmdLine, &result));
        return result;
    }

    static bool WaitState(const char* name, DWORD state)
    {
        return testkit::PumpUntil([&] { return testkit::ServiceState(name) == state; }, 20000);
    }

    // Runs a command the way the manager's driver does: WinExec, hidden.
    static void WinExecAndWait(const std::string& cmd, const std::function<bool()>& done)
    {
        UINT launched = WinExec(cmd.c_str(), SW_HIDE);
        EXPECT_GT(launched, 31u) << cmd << ": got " << launched;
        EXPECT_TRUE(testkit::PumpUntil(done, 20000)) << cmd;
    }
};

}  // namespace

TEST_F(ServiceStandIn, ApacheInstallStartPauseStopUninstall)
{
    WinExecAndWait(kit.apacheExe() + " -k install", [] { return ServiceExists("Apache"); });
    EXPECT_EQ(testkit::ServiceImagePath("Apache"), standin::Quoted(kit.apacheExe()) + " -k runservice")
        << "got " << testkit::ServiceImagePath("Apache");
    EXPECT_EQ(testkit::ServiceState("Apache"), (DWORD)SERVICE_STOPPED)
        << "got " << testkit::ServiceState("Apache");

    EXPECT_EQ(standin::StartServiceNamed("Apache"), 0u);
    ASSERT_TRUE(WaitState("Apache", SERVICE_RUNNING)) << "got " << testkit::ServiceState("Apache");
    std::vector<Record> running = kitrecord::Select(kit.apacheRecords(), kitrecord::kEventServiceRunning);
    ASSERT_EQ(running.size(), 1u) << "got " << running.size();
    EXPECT_NE(running[0].cmdLine.find("-k runservice"), std::string::npos) << "got " << running[0].cmdLine;
    EXPECT_TRUE(testkit::FileExists(kit.pidFile()));
    // The service serves the kit's port like a console instance.
    ASSERT_TRUE(testkit::WriteFileBytes(kit.wwwDir() + "index.html", "served by the service"));
    std::string answer;
    EXPECT_TRUE(standin::HttpExchange(kit.port(), "GET / HTTP/1.0\r\n\r\n", &answer));
    EXPECT_EQ(answer.substr(0, 17), "HTTP/1.1 200 OK\r\n") << "got " << answer;
    EXPECT_EQ(answer.substr(answer.size() - 21), "served by the service") << "got " << answer;

    EXPECT_TRUE(standin::ControlServiceNamed("Apache", SERVICE_CONTROL_PAUSE));
    EXPECT_TRUE(WaitState("Apache", SERVICE_PAUSED)) << "got " << testkit::ServiceState("Apache");
    EXPECT_TRUE(standin::ControlServiceNamed("Apache", SERVICE_CONTROL_CONTINUE));
    EXPECT_TRUE(WaitState("Apache", SERVICE_RUNNING)) << "got " << testkit::ServiceState("Apache");

    EXPECT_TRUE(standin::ControlServiceNamed("Apache", SERVICE_CONTROL_STOP));
    EXPECT_TRUE(WaitState("Apache", SERVICE_STOPPED)) << "got " << testkit::ServiceState("Apache");
    EXPECT_TRUE(testkit::PumpUntil([&] { return !testkit::FileExists(kit.pidFile()); }, 5000));
    std::vector<Record> records = kit.apacheRecords();
    EXPECT_EQ(kitrecord::Select(records, kitrecord::kEventPause).size(), 1u);
    EXPECT_EQ(kitrecord::Select(records, kitrecord::kEventContinue).size(), 1u);
    EXPECT_EQ(kitrecord::Select(records, kitrecord::kEventEnd).size(), 1u);

    WinExecAndWait(kit.apacheExe() + " -k uninstall", [] { return !ServiceExists("Apache"); });
}

// The pid file and events work for the service instance too, and a
// console start is refused while the service runs.
TEST_F(ServiceStandIn, ApacheServiceAnswersShutdownCommand)
{
    standin::Result r = run(kit.apacheExe() + " -k install");
    ASSERT_EQ(r.exitCode, 0u) << "got " << r.exitCode << ": " << r.err;
    EXPECT_EQ(standin::StartServiceNamed("Apache"), 0u);
    ASSERT_TRUE(WaitState("Apache", SERVICE_RUNNING));
    r = run(kit.apacheExe() + " -k start");
    EXPECT_EQ(r.exitCode, 1u) << "got " << r.exitCode;
    EXPECT_NE(r.err.find("already running"), std::string::npos) << "got " << r.err;

    r = run(kit.apacheExe() + " -k shutdown");
    EXPECT_EQ(r.exitCode, 0u) << "got " << r.exitCode << ": " << r.err;
    EXPECT_TRUE(WaitState("Apache", SERVICE_STOPPED)) << "got " << testkit::ServiceState("Apache");
}

TEST_F(ServiceStandIn, ApacheServiceWithInvalidConfigurationDoesNotRun)
{
    ASSERT_TRUE(kit.writeHttpdConf("Nonsense\r\n"));
    standin::Result r = run(kit.apacheExe() + " -k install");
    ASSERT_EQ(r.exitCode, 0u) << "got " << r.exitCode << ": " << r.err;
    standin::StartServiceNamed("Apache");  // Wine may report the failure here or later
    EXPECT_TRUE(WaitState("Apache", SERVICE_STOPPED)) << "got " << testkit::ServiceState("Apache");
    EXPECT_TRUE(kitrecord::Select(kit.apacheRecords(), kitrecord::kEventServiceRunning).empty());
}

TEST_F(ServiceStandIn, InstallTwiceAndRemoveAbsentFail)
{
    standin::Result r = run(kit.apacheExe() + " -k install");
    EXPECT_EQ(r.exitCode, 0u) << "got " << r.exitCode << ": " << r.err;
    r = run(kit.apacheExe() + " -k install");
    EXPECT_EQ(r.exitCode, 1u) << "got " << r.exitCode;
    EXPECT_NE(r.err.find("failed to create the service Apache"), std::string::npos) << "got " << r.err;
    r = run(kit.apacheExe() + " -k uninstall");
    EXPECT_EQ(r.exitCode, 0u) << "got " << r.exitCode << ": " << r.err;
    r = run(kit.apacheExe() + " -k uninstall");
    EXPECT_EQ(r.exitCode, 1u) << "got " << r.exitCode;
    EXPECT_NE(r.err.find("no installed service named \"Apache\""), std::string::npos) << "got " << r.err;

    r = run(kit.mysqlBin() + "mysqld-nt.exe --install");
    EXPECT_EQ(r.exitCode, 0u) << "got " << r.exitCode << ": " << r.err;
    r = run(kit.mysqlBin() + "mysqld-nt.exe --install");
    EXPECT_EQ(r.exitCode, 1u) << "got " << r.exitCode;
    r = run(kit.mysqlBin() + "mysqld-nt.exe --remove");
    EXPECT_EQ(r.exitCode, 0u) << "got " << r.exitCode << ": " << r.err;
    r = run(kit.mysqlBin() + "mysqld-nt.exe --remove");
    EXPECT_EQ(r.exitCode, 1u) << "got " << r.exitCode;
    EXPECT_FALSE(ServiceExists("MySql"));
}

TEST_F(ServiceStandIn, MysqlInstallStartPauseStopRemove)
{
    WinExecAndWait(kit.mysqlBin() + "mysqld-nt.exe --install", [] { return ServiceExists("MySql"); });
    EXPECT_EQ(testkit::ServiceImagePath("MySql"), standin::Quoted(kit.mysqlBin() + "mysqld-nt.exe") + " --run-service")
        << "got " << testkit::ServiceImagePath("MySql");

    EXPECT_EQ(standin::StartServiceNamed("MySql"), 0u);
    ASSERT_TRUE(WaitState("MySql", SERVICE_RUNNING)) << "got " << testkit::ServiceState("MySql");
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, kitrecord::kMysqldPortEvent);
    EXPECT_NE(event, nullptr) << "error " << GetLastError();
    if (event)
        CloseHandle(event);

    EXPECT_TRUE(standin::ControlServiceNamed("MySql", SERVICE_CONTROL_PAUSE));
    EXPECT_TRUE(WaitState("MySql", SERVICE_PAUSED)) << "got " << testkit::ServiceState("MySql");
    EXPECT_TRUE(standin::ControlServiceNamed("MySql", SERVICE_CONTROL_CONTINUE));
    EXPECT_TRUE(WaitState("MySql", SERVICE_RUNNING)) << "got " << testkit::ServiceState("MySql");
    EXPECT_TRUE(standin::ControlServiceNamed("MySql", SERVICE_CONTROL_STOP));
    EXPECT_TRUE(WaitState("MySql", SERVICE_STOPPED)) << "got " << testkit::ServiceState("MySql");
    EXPECT_EQ(kitrecord::Select(kit.mysqlRecords(), kitrecord::kEventEnd).size(), 1u);

    WinExecAndWait(kit.mysqlBin() + "mysqld-nt.exe --remove", [] { return !ServiceExists("MySql"); });
}

TEST_F(ServiceStandIn, MysqladminStopsTheMysqlService)
{
    standin::Result r = run(kit.mysqlBin() + "mysqld-nt.exe --install");
    ASSERT_EQ(r.exitCode, 0u) << "got " << r.exitCode << ": " << r.err;
    EXPECT_EQ(standin::StartServiceNamed("MySql"), 0u);
    ASSERT_TRUE(WaitState("MySql", SERVICE_RUNNING));
    r = run(kit.mysqlBin() + "mysqladmin.exe -u root shutdown");
    EXPECT_EQ(r.exitCode, 0u) << "got " << r.exitCode << ": " << r.err;
    EXPECT_TRUE(WaitState("MySql", SERVICE_STOPPED)) << "got " << testkit::ServiceState("MySql");
}

TEST_F(ServiceStandIn, ServiceSwitchFromTheConsoleFails)
{
    standin::Result r = run(kit.apacheExe() + " -k runservice");
    EXPECT_EQ(r.exitCode, 1u) << "got " << r.exitCode;
    EXPECT_NE(r.err.find("service control manager only"), std::string::npos) << "got " << r.err;
    r = run(kit.mysqlBin() + "mysqld-nt.exe --run-service");
    EXPECT_EQ(r.exitCode, 1u) << "got " << r.exitCode;
    EXPECT_NE(r.err.find("service control manager only"), std::string::npos) << "got " << r.err;
}
