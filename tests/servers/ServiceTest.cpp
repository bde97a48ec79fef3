// Service registration and removal of both drivers against Wine's service
// control manager, with the stand-ins' own install and remove commands.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "ApacheServer.h"
#include "MySqlServer.h"
#include "ServerKit.h"
#include "TestKit.h"

namespace {

DWORD ServiceState(const char* name)
{
    DWORD state = 0;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return 0;
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
    if (service) {
        SERVICE_STATUS status;
        if (QueryServiceStatus(service, &status))
            state = status.dwCurrentState;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return state;
}

class ServiceTest : public ServerKitTest {
protected:
    void SetUp() override
    {
        ServerKitTest::SetUp();
        DeleteServiceIfAny("Apache");
        DeleteServiceIfAny("MySql");
    }

    std::string CurrentDir()
    {
        char dir[MAX_PATH] = "";
        GetCurrentDirectoryA(sizeof dir, dir);
        return dir;
    }
};

TEST_F(ServiceTest, ApacheInstallsAndRemovesItsService)
{
    LayOut();
    ApacheServer apache;
    EXPECT_TRUE(apache.installService());
    EXPECT_TRUE(ServiceExists("Apache"));
    auto runs = apacheRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].cmdLine, apacheDir() + "apache.exe -k install");
    EXPECT_EQ(runs[0].show, SW_HIDE) << "got " << runs[0].show;
    EXPECT_EQ(runs[0].curDir, CurrentDir());

    EXPECT_TRUE(apache.uninstallService());
    EXPECT_TRUE(testkit::PumpUntil([] { return !ServiceExists("Apache"); }, 10000));
    runs = apacheRuns();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].cmdLine, apacheDir() + "apache.exe -k uninstall");
    EXPECT_EQ(runs[1].show, SW_HIDE) << "got " << runs[1].show;
}

TEST_F(ServiceTest, ApacheServiceModeStartsAndRestartStopsWithRestartPending)
{
    LayOut();
    ApacheServer apache;
    ASSERT_TRUE(apache.installService());
    ASSERT_TRUE(apache.setServiceMode(true));
    EXPECT_EQ(apache.start(), 0u);
    EXPECT_EQ(apache.state(), StartPending);
    ASSERT_TRUE(testkit::PumpUntil([] { return ServiceState("Apache") == SERVICE_RUNNING; }, 15000))
        << "service state " << ServiceState("Apache");

    EXPECT_EQ(apache.restart(), 0u);
    EXPECT_TRUE(apache.restartPending());
    EXPECT_TRUE(testkit::PumpUntil([] { return ServiceState("Apache") == SERVICE_STOPPED; }, 15000))
        << "service state " << ServiceState("Apache");
}

TEST_F(ServiceTest, MySqlInstallsAndRemovesItsServiceWithTheNtBuild)
{
    LayOut();
    AddMySqlBuilds({allMySqlBuilds, allMySqlBuilds + 4});
    MySqlServer mysql;
    EXPECT_TRUE(mysql.installService());
    EXPECT_TRUE(ServiceExists("MySql"));
    auto runs = mySqlRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].cmdLine, mySqlBin() + "mysqld-nt.exe --install");
    EXPECT_EQ(runs[0].show, SW_HIDE) << "got " << runs[0].show;
    EXPECT_EQ(runs[0].curDir, CurrentDir());

    EXPECT_TRUE(mysql.uninstallService());
    EXPECT_TRUE(testkit::PumpUntil([] { return !ServiceExists("MySql"); }, 10000));
    runs = mySqlRuns();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].cmdLine, mySqlBin() + "mysqld-nt.exe --remove");
    EXPECT_EQ(runs[1].show, SW_HIDE) << "got " << runs[1].show;
}

TEST_F(ServiceTest, InstallWithoutTheProgramFails)
{
    LayOut();
    AddMySqlBuilds({"mysqld.exe"});
    MySqlServer mysql;
    EXPECT_FALSE(mysql.installService()) << "mysqld-nt.exe is missing";
    EXPECT_FALSE(ServiceExists("MySql"));
}

TEST_F(ServiceTest, MySqlRestartInServiceMode)
{
    LayOut();
    AddMySqlBuilds({allMySqlBuilds, allMySqlBuilds + 4});
    MySqlServer mysql;
    ASSERT_TRUE(mysql.setServiceMode(true));
    // No service yet: the stop control cannot be sent.
    EXPECT_EQ(mysql.restart(), 0u);
    EXPECT_TRUE(mysql.restartPending());

    ASSERT_TRUE(mysql.installService());
    // A service that is not running counts as stopped.
    mysql.setRestartPending(false);
    EXPECT_EQ(mysql.restart(), 1u);
    EXPECT_TRUE(mysql.restartPending());

    mysql.setRestartPending(false);
    EXPECT_EQ(mysql.start(), 0u);
    ASSERT_TRUE(testkit::PumpUntil([] { return ServiceState("MySql") == SERVICE_RUNNING; }, 15000))
        << "service state " << ServiceState("MySql");
    EXPECT_EQ(mysql.restart(), 1u);
    EXPECT_TRUE(mysql.restartPending());
    EXPECT_TRUE(testkit::PumpUntil([] { return ServiceState("MySql") == SERVICE_STOPPED; }, 15000))
        << "service state " << ServiceState("MySql");
}

}  // namespace
