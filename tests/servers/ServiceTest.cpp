// Service registration and removal of both drivers against Wine's service
// control manager, with the stand-ins' own install and remove commands.
//
// The drivers wait for the install or removal command to end (bounded) and
// then judge by its result and the service manager: the service exists, or
// is gone. Another program's service of the same name is left alone
// (without administrator rights: OrchestrationTest).
#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
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
    using Driver::Driver;
    SC_HANDLE handle() const { return this->service_; }
    using Driver::quoteImagePath;
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

    // installService on a system without the service: true, with the
    // service registered and its handle kept.
    template <class Driver>
    void InstallFresh(Exposed<Driver>& driver, const char* name)
    {
        EXPECT_TRUE(driver.installService());
        EXPECT_NE(driver.handle(), nullptr);
        EXPECT_TRUE(ServiceExists(name));
    }
};

TEST_F(ServiceTest, ApacheInstallsAndRemovesItsService)
{
    LayOut();
    Exposed<ApacheServer> apache(kitFolder());
    InstallFresh(apache, "Apache");
    auto runs = apacheRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].cmdLine, apacheDir() + "apache.exe -k install");
    EXPECT_EQ(runs[0].show, SW_HIDE) << "got " << runs[0].show;
    EXPECT_EQ(runs[0].curDir, CurrentDir());

    EXPECT_TRUE(apache.uninstallService());
    EXPECT_EQ(apache.handle(), nullptr);
    EXPECT_FALSE(ServiceExists("Apache"));
    runs = apacheRuns();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].cmdLine, apacheDir() + "apache.exe -k uninstall");
    EXPECT_EQ(runs[1].show, SW_HIDE) << "got " << runs[1].show;
}

// The kit's own service, left registered by an earlier run, is taken up
// as it is: its command (which would fail, "already installed") is not run.
TEST_F(ServiceTest, TheKitsOwnServiceLeftRegisteredIsTakenUp)
{
    LayOut();
    DWORD exitCode = 99;
    ASSERT_TRUE(testkit::RunProcess(kit + "Apache\\apache.exe -k install", &exitCode));
    ASSERT_EQ(exitCode, 0u);
    Exposed<ApacheServer> apache(kitFolder());
    EXPECT_TRUE(apache.installService());
    EXPECT_NE(apache.handle(), nullptr);
    EXPECT_EQ(apacheRuns().size(), 1u);
    EXPECT_TRUE(apache.uninstallService());
    EXPECT_FALSE(ServiceExists("Apache"));
}

// A service named as the kit's that runs another program: the switch is
// refused with its program named; it is never started, stopped,
// rewritten or removed, and no command of the kit runs for it.
template <class Driver>
void ExpectForeignServiceLeftAlone(const char* name, const char* kit,
                                   const std::function<std::vector<kitrecord::Record>()>& runs)
{
    SCOPED_TRACE(name);
    std::string program = testkit::BinDir() + "servers_checkstub.exe";
    std::string image = "\"" + program + "\" --service";
    ASSERT_TRUE(testkit::CreateServiceNamed(name, image)) << GetLastError();
    {
        Exposed<Driver> driver(kit);
        EXPECT_FALSE(driver.installService());
        EXPECT_EQ(driver.serviceProblem(), ServiceForeign);
        EXPECT_EQ(0, _stricmp(driver.foreignProgram(), program.c_str())) << driver.foreignProgram();
        ASSERT_TRUE(driver.setServiceMode(true));
        EXPECT_EQ(driver.handle(), nullptr);
        EXPECT_EQ(driver.start(), static_cast<DWORD>(ERROR_SERVICE_EXISTS));
        EXPECT_TRUE(driver.uninstallService()) << "nothing of the kit's to remove";
        EXPECT_EQ(driver.serviceProblem(), ServiceForeign);
    }
    testkit::PumpFor(300);
    EXPECT_EQ(testkit::ServiceImagePath(name), image);
    EXPECT_EQ(testkit::ServiceState(name), static_cast<DWORD>(SERVICE_STOPPED));
    for (const auto& run : runs())  // Apache's syntax test may run, no service command
        EXPECT_TRUE(run.cmdLine.find("install") == std::string::npos && run.cmdLine.find("remove") == std::string::npos)
            << run.cmdLine;
    testkit::RemoveServiceIfPresent(name);
}

TEST_F(ServiceTest, AnotherProgramsServiceOfTheSameNameIsLeftAlone)
{
    LayOut();
    AddMySqlBuilds({allMySqlBuilds, allMySqlBuilds + 4});
    ExpectForeignServiceLeftAlone<ApacheServer>("Apache", kitFolder(), [this] { return apacheRuns(); });
    ExpectForeignServiceLeftAlone<MySqlServer>("MySql", kitFolder(), [this] { return mySqlRuns(); });
}

TEST_F(ServiceTest, InstallAnswersFalseWhenNoServiceAppears)
{
    LayOut();
    // A program that runs but registers nothing.
    ASSERT_TRUE(CopyFileA((testkit::BinDir() + "servers_checkstub.exe").c_str(),
                          (kit + "MySql\\bin\\mysqld-nt.exe").c_str(), FALSE));
    Exposed<MySqlServer> mysql(kitFolder());
    EXPECT_FALSE(mysql.installService());
    EXPECT_EQ(mysql.handle(), nullptr);
    ASSERT_TRUE(testkit::PumpUntil([this] { return !mySqlRuns().empty(); }, 10000));
    EXPECT_EQ(mySqlRuns()[0].cmdLine, "\"" + mySqlBin() + "mysqld-nt.exe\" --install MySql");
}

TEST_F(ServiceTest, InstallWithoutTheProgramFails)
{
    LayOut();
    Exposed<MySqlServer> mysql(kitFolder());
    EXPECT_FALSE(mysql.installService()) << "no mysqld is there";
    testkit::PumpFor(500);
    EXPECT_FALSE(ServiceExists("MySql"));
    EXPECT_TRUE(mySqlRuns().empty());
}

// The service command runs the executable chosen for process mode; an
// image path registered bare is written again in quotes.
TEST_F(ServiceTest, MySqlInstallsWithTheChosenBuildAndQuotesABareImagePath)
{
    LayOut();
    AddMySqlBuilds({"mysqld.exe"});
    Exposed<MySqlServer> mysql(kitFolder());
    InstallFresh(mysql, "MySql");
    ASSERT_EQ(mySqlRuns().size(), 1u);
    EXPECT_EQ(mySqlRuns()[0].cmdLine, "\"" + mySqlBin() + "mysqld.exe\" --install MySql");

    // As MySQL 8 registers itself: "<path>\\mysqld.exe MySql", bare.
    std::string bare = kit + "MySql\\bin\\mysqld.exe MySql";
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, "MySql", SERVICE_ALL_ACCESS);
    ASSERT_TRUE(ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                     bare.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    ASSERT_EQ(testkit::ServiceImagePath("MySql"), bare);
    EXPECT_TRUE(mysql.quoteImagePath());
    EXPECT_EQ(testkit::ServiceImagePath("MySql"), "\"" + kit + "MySql\\bin\\mysqld.exe\" MySql");
    // Quoted already: left as it is.
    EXPECT_TRUE(mysql.quoteImagePath());
    EXPECT_EQ(testkit::ServiceImagePath("MySql"), "\"" + kit + "MySql\\bin\\mysqld.exe\" MySql");
    EXPECT_TRUE(mysql.uninstallService());
    EXPECT_FALSE(ServiceExists("MySql"));
}

TEST_F(ServiceTest, ApacheServiceModeStartsTheService)
{
    LayOut();
    Exposed<ApacheServer> apache(kitFolder());
    InstallFresh(apache, "Apache");
    ASSERT_TRUE(apache.setServiceMode(true));
    // start opens the service by name when the install left no handle.
    EXPECT_EQ(apache.start(), 0u);
    EXPECT_EQ(apache.state(), StartPending);
    ASSERT_TRUE(testkit::PumpUntil([] { return testkit::ServiceState("Apache") == SERVICE_RUNNING; }, 15000))
        << "service state " << testkit::ServiceState("Apache");
}

TEST_F(ServiceTest, MySqlInstallsAndRemovesItsServiceWithTheNtBuild)
{
    LayOut();
    AddMySqlBuilds({allMySqlBuilds, allMySqlBuilds + 4});
    Exposed<MySqlServer> mysql(kitFolder());
    InstallFresh(mysql, "MySql");
    auto runs = mySqlRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].cmdLine, "\"" + mySqlBin() + "mysqld-nt.exe\" --install MySql");
    EXPECT_EQ(runs[0].show, SW_HIDE) << "got " << runs[0].show;
    EXPECT_EQ(runs[0].curDir, CurrentDir());

    EXPECT_TRUE(mysql.uninstallService());
    EXPECT_EQ(mysql.handle(), nullptr);
    EXPECT_FALSE(ServiceExists("MySql"));
    runs = mySqlRuns();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].cmdLine, "\"" + mySqlBin() + "mysqld-nt.exe\" --remove MySql");
    EXPECT_EQ(runs[1].show, SW_HIDE) << "got " << runs[1].show;
}

}  // namespace
