// Service registration and removal of both drivers against Wine's service
// control manager, with the stand-ins' own install and remove commands.
//
// The drivers give the install command 200 ms to register the service.
// Under Wine a console program takes 150 to 300 ms from WinExec to its
// registration, so a first install may answer false although the service
// appears a moment later; the tests therefore check that the answer agrees
// with the handle the driver holds, and prove the true and false answers
// each with a case whose outcome does not hang on that race.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "ApacheServer.h"
#include "KitLayout.h"
#include "MySqlServer.h"
#include "ServerKit.h"
#include "TestKit.h"

namespace {

// A driver whose service handle the test can see.
template <class Driver>
class Exposed : public Driver {
public:
    SC_HANDLE handle() const { return this->service_; }
};

class ServiceTest : public ServerKitTest {
protected:
    void SetUp() override
    {
        ServerKitTest::SetUp();
        testkit::RemoveServiceIfPresent("Apache");
        testkit::RemoveServiceIfPresent("MySql");
    }

    std::string CurrentDir()
    {
        char dir[MAX_PATH] = "";
        GetCurrentDirectoryA(sizeof dir, dir);
        return dir;
    }

    // installService on a system without the service: its answer agrees
    // with the handle it kept, and the service ends up registered.
    template <class Driver>
    void InstallFresh(Exposed<Driver>& driver, const char* name)
    {
        bool answer = driver.installService();
        EXPECT_EQ(answer, driver.handle() != nullptr) << "answer " << answer;
        EXPECT_TRUE(testkit::PumpUntil([name] { return ServiceExists(name); }, 10000));
    }
};

TEST_F(ServiceTest, ApacheInstallsAndRemovesItsService)
{
    LayOut();
    Exposed<ApacheServer> apache;
    InstallFresh(apache, "Apache");
    auto runs = apacheRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].cmdLine, apacheDir() + "apache.exe -k install");
    EXPECT_EQ(runs[0].show, SW_HIDE) << "got " << runs[0].show;
    EXPECT_EQ(runs[0].curDir, CurrentDir());

    EXPECT_TRUE(apache.uninstallService());
    EXPECT_EQ(apache.handle(), nullptr);
    EXPECT_TRUE(testkit::PumpUntil([] { return !ServiceExists("Apache"); }, 10000));
    runs = apacheRuns();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].cmdLine, apacheDir() + "apache.exe -k uninstall");
    EXPECT_EQ(runs[1].show, SW_HIDE) << "got " << runs[1].show;
}

TEST_F(ServiceTest, InstallAnswersTrueWhenTheServiceOpensAfterIt)
{
    LayOut();
    // Registered beforehand: the driver's own command then fails ("already
    // installed"), but it was launched and the service opens.
    DWORD exitCode = 99;
    ASSERT_TRUE(testkit::RunProcess(kit + "Apache\\apache.exe -k install", &exitCode));
    ASSERT_EQ(exitCode, 0u);
    Exposed<ApacheServer> apache;
    ASSERT_NE(apache.handle(), nullptr) << "opened at construction";
    EXPECT_TRUE(apache.installService());
    EXPECT_NE(apache.handle(), nullptr);
    EXPECT_EQ(apacheRuns().size(), 2u);
}

TEST_F(ServiceTest, InstallAnswersFalseWhenNoServiceAppears)
{
    LayOut();
    // A program that runs but registers nothing.
    ASSERT_TRUE(CopyFileA((testkit::BinDir() + "servers_checkstub.exe").c_str(),
                          (kit + "MySql\\bin\\mysqld-nt.exe").c_str(), FALSE));
    Exposed<MySqlServer> mysql;
    EXPECT_FALSE(mysql.installService());
    EXPECT_EQ(mysql.handle(), nullptr);
    ASSERT_TRUE(testkit::PumpUntil([this] { return !mySqlRuns().empty(); }, 10000));
    EXPECT_EQ(mySqlRuns()[0].cmdLine, mySqlBin() + "mysqld-nt.exe --install");
}

TEST_F(ServiceTest, InstallWithoutTheProgramFails)
{
    LayOut();
    AddMySqlBuilds({"mysqld.exe"});
    Exposed<MySqlServer> mysql;
    EXPECT_FALSE(mysql.installService()) << "mysqld-nt.exe is missing";
    testkit::PumpFor(500);
    EXPECT_FALSE(ServiceExists("MySql"));
    EXPECT_TRUE(mySqlRuns().empty());
}

TEST_F(ServiceTest, ApacheServiceModeStartsAndRestartStopsWithRestartPending)
{
    LayOut();
    Exposed<ApacheServer> apache;
    InstallFresh(apache, "Apache");
    ASSERT_TRUE(apache.setServiceMode(true));
    // start opens the service by name when the install left no handle.
    EXPECT_EQ(apache.start(), 0u);
    EXPECT_EQ(apache.state(), StartPending);
    ASSERT_TRUE(testkit::PumpUntil([] { return testkit::ServiceState("Apache") == SERVICE_RUNNING; }, 15000))
        << "service state " << testkit::ServiceState("Apache");

    EXPECT_EQ(apache.restart(), 0u);
    EXPECT_TRUE(apache.restartPending());
    EXPECT_TRUE(testkit::PumpUntil([] { return testkit::ServiceState("Apache") == SERVICE_STOPPED; }, 15000))
        << "service state " << testkit::ServiceState("Apache");
}

TEST_F(ServiceTest, MySqlInstallsAndRemovesItsServiceWithTheNtBuild)
{
    LayOut();
    AddMySqlBuilds({allMySqlBuilds, allMySqlBuilds + 4});
    Exposed<MySqlServer> mysql;
    InstallFresh(mysql, "MySql");
    auto runs = mySqlRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].cmdLine, mySqlBin() + "mysqld-nt.exe --install");
    EXPECT_EQ(runs[0].show, SW_HIDE) << "got " << runs[0].show;
    EXPECT_EQ(runs[0].curDir, CurrentDir());

    EXPECT_TRUE(mysql.uninstallService());
    EXPECT_EQ(mysql.handle(), nullptr);
    EXPECT_TRUE(testkit::PumpUntil([] { return !ServiceExists("MySql"); }, 10000));
    runs = mySqlRuns();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].cmdLine, mySqlBin() + "mysqld-nt.exe --remove");
    EXPECT_EQ(runs[1].show, SW_HIDE) << "got " << runs[1].show;
}

TEST_F(ServiceTest, MySqlRestartInServiceMode)
{
    LayOut();
    AddMySqlBuilds({allMySqlBuilds, allMySqlBuilds + 4});
    Exposed<MySqlServer> mysql;
    ASSERT_TRUE(mysql.setServiceMode(true));
    // No service: the stop control cannot be sent.
    EXPECT_EQ(mysql.restart(), 0u);
    EXPECT_TRUE(mysql.restartPending());

    InstallFresh(mysql, "MySql");
    mysql.setRestartPending(false);
    EXPECT_EQ(mysql.start(), 0u);
    ASSERT_NE(mysql.handle(), nullptr);
    ASSERT_TRUE(testkit::PumpUntil([] { return testkit::ServiceState("MySql") == SERVICE_RUNNING; }, 15000))
        << "service state " << testkit::ServiceState("MySql");

    // A running service accepts the stop control.
    EXPECT_EQ(mysql.restart(), 1u);
    EXPECT_TRUE(mysql.restartPending());
    EXPECT_TRUE(testkit::PumpUntil([] { return testkit::ServiceState("MySql") == SERVICE_STOPPED; }, 15000))
        << "service state " << testkit::ServiceState("MySql");

    // A stopped service counts as stopped: accepted as well.
    mysql.setRestartPending(false);
    EXPECT_EQ(mysql.restart(), 1u);
    EXPECT_TRUE(mysql.restartPending());
}

}  // namespace
