// Drivers in service mode against Wine's real service control manager,
// with a minimal service program of the tests (TvService.exe).
#include <windows.h>

#include <gtest/gtest.h>

#include "DriverTestKit.h"
#include "KitLayout.h"
#include "TestKit.h"

using namespace drivertest;

namespace {

class ServiceModeTest : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_TRUE(scm != nullptr) << "error " << GetLastError();
    }

    void TearDown() override
    {
        servers.clear();  // the drivers close their handles first
        for (const std::string& name : installed)
            removeService(name);
        if (scm)
            CloseServiceHandle(scm);
        DriverTest::TearDown();
    }

    // Registers TvService.exe as a demand-start service; returns its name.
    std::string installService(const char* extraArgs = "")
    {
        std::string name = UniqueName("TvSvc");
        std::string binary = "\"" + testkit::BinDir() + "TvService.exe\" " + name + " " + extraArgs;
        SC_HANDLE service = CreateServiceA(scm, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                           binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        EXPECT_TRUE(service != nullptr) << "CreateService error " << GetLastError();
        if (service) {
            installed.push_back(name);
            CloseServiceHandle(service);
        }
        return name;
    }

    DWORD serviceState(const std::string& name)
    {
        SC_HANDLE service = OpenServiceA(scm, name.c_str(), SERVICE_QUERY_STATUS);
        SERVICE_STATUS status = {};
        if (service) {
            QueryServiceStatus(service, &status);
            CloseServiceHandle(service);
        }
        return status.dwCurrentState;
    }

    bool control(const std::string& name, DWORD code)
    {
        SC_HANDLE service = OpenServiceA(scm, name.c_str(), SERVICE_ALL_ACCESS);
        SERVICE_STATUS status;
        bool ok = service && ControlService(service, code, &status);
        if (service)
            CloseServiceHandle(service);
        return ok;
    }

    bool startByTest(const std::string& name)
    {
        SC_HANDLE service = OpenServiceA(scm, name.c_str(), SERVICE_ALL_ACCESS);
        bool ok = service && StartServiceA(service, 0, nullptr);
        if (service)
            CloseServiceHandle(service);
        return ok;
    }

    void removeService(const std::string& name) { testkit::RemoveServiceIfPresent(name.c_str()); }

    TestServer* makeServiceServer(const std::string& name)
    {
        TestServer* server = makeServer(name.c_str());
        EXPECT_TRUE(server->setServiceMode(true));
        return server;
    }

    SC_HANDLE scm = nullptr;
    std::vector<std::string> installed;
};

}  // namespace

TEST_F(ServiceModeTest, StartRunStopFollowTheService)
{
    std::string name = installService();
    TestServer* server = makeServiceServer(name);
    ASSERT_TRUE(server->service() != nullptr) << "opened at construction";

    EXPECT_EQ(server->start(), 0u);
    EXPECT_EQ(server->state(), StartPending);
    EXPECT_EQ(server->startCalls, 0) << "no process launched";
    EXPECT_EQ(server->pid(), 0u) << "no process search either";
    EXPECT_TRUE(pumpUntilState(server, Running)) << "state " << server->state();
    EXPECT_EQ(serviceState(name), (DWORD)SERVICE_RUNNING);

    server->setRestartPending(true);
    EXPECT_EQ(server->stop(), 0u);
    EXPECT_EQ(server->state(), StopPending);
    EXPECT_FALSE(server->restartPending());
    EXPECT_EQ(server->stopCalls, 0) << "the service is stopped, not the process";
    EXPECT_TRUE(pumpUntilState(server, Stopped)) << "state " << server->state();
    EXPECT_EQ(serviceState(name), (DWORD)SERVICE_STOPPED);
    testkit::PumpFor(800);
    EXPECT_TRUE(sink.notes.empty()) << "got " << sink.notes.size() << " notifications";
}

TEST_F(ServiceModeTest, StatusMapsPendingAndPausedStates)
{
    std::string name = installService("--start-delay 2500 --stop-delay 2500");
    TestServer* server = makeServiceServer(name);
    ASSERT_TRUE(server->service() != nullptr);

    // Started behind the driver's back: the monitor follows the service.
    ASSERT_TRUE(startByTest(name)) << "error " << GetLastError();
    EXPECT_TRUE(pumpUntilState(server, StartPending, 2000)) << "SERVICE_START_PENDING, got " << server->state();
    EXPECT_TRUE(pumpUntilState(server, Running, 5000)) << "SERVICE_RUNNING, got " << server->state();

    ASSERT_TRUE(control(name, SERVICE_CONTROL_PAUSE)) << "error " << GetLastError();
    EXPECT_TRUE(pumpUntilState(server, StartPending, 1500)) << "SERVICE_PAUSED, got " << server->state();
    EXPECT_EQ(serviceState(name), (DWORD)SERVICE_PAUSED);
    ASSERT_TRUE(control(name, SERVICE_CONTROL_CONTINUE)) << "error " << GetLastError();
    EXPECT_TRUE(pumpUntilState(server, Running, 1500)) << "got " << server->state();

    EXPECT_EQ(server->stop(), 0u);
    EXPECT_EQ(server->state(), StopPending);
    testkit::PumpFor(1200);  // at least one tick inside the stop delay
    EXPECT_EQ(server->state(), StopPending) << "SERVICE_STOP_PENDING, got " << server->state();
    EXPECT_TRUE(pumpUntilState(server, Stopped, 5000)) << "got " << server->state();
    EXPECT_TRUE(sink.notes.empty());
}

TEST_F(ServiceModeTest, PauseAndContinuePendingAreStartPending)
{
    std::string name = installService("--pause-delay 2500");
    TestServer* server = makeServiceServer(name);
    ASSERT_EQ(server->start(), 0u);
    ASSERT_TRUE(pumpUntilState(server, Running));

    ASSERT_TRUE(control(name, SERVICE_CONTROL_PAUSE)) << "error " << GetLastError();
    EXPECT_TRUE(pumpUntilState(server, StartPending, 2000)) << "got " << server->state();
    EXPECT_EQ(serviceState(name), (DWORD)SERVICE_PAUSE_PENDING) << "got " << serviceState(name);
    ASSERT_TRUE(testkit::PumpUntil([&] { return serviceState(name) == SERVICE_PAUSED; }, 5000));

    ASSERT_TRUE(control(name, SERVICE_CONTROL_CONTINUE)) << "error " << GetLastError();
    testkit::PumpFor(1200);  // at least one tick inside the continue delay
    EXPECT_EQ(serviceState(name), (DWORD)SERVICE_CONTINUE_PENDING) << "got " << serviceState(name);
    EXPECT_EQ(server->state(), StartPending) << "got " << server->state();
    EXPECT_TRUE(pumpUntilState(server, Running, 5000)) << "got " << server->state();
    EXPECT_TRUE(sink.notes.empty());
}

TEST_F(ServiceModeTest, ServiceEndingByItselfIsNotReported)
{
    std::string name = installService();
    TestServer* server = makeServiceServer(name);
    ASSERT_EQ(server->start(), 0u);
    ASSERT_TRUE(pumpUntilState(server, Running));
    ASSERT_TRUE(control(name, SERVICE_CONTROL_STOP));
    EXPECT_TRUE(pumpUntilState(server, Stopped));
    testkit::PumpFor(800);
    EXPECT_TRUE(sink.notes.empty()) << "got " << sink.notes.size() << " notifications";
}

TEST_F(ServiceModeTest, AlreadyRunningAndNotActiveCountAsSuccess)
{
    std::string name = installService();
    SC_HANDLE service = ServiceControl::openService(name.c_str());
    ASSERT_TRUE(service != nullptr);

    SetLastError(0xdeadbeef);
    EXPECT_TRUE(ServiceControl::stopService(service)) << "not active, error " << GetLastError();
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_NOT_ACTIVE) << "got " << GetLastError();

    ASSERT_TRUE(ServiceControl::startService(service));
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(ServiceControl::startService(service)) << "already running";
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SERVICE_ALREADY_RUNNING) << "got " << GetLastError();

    // A driver whose service already runs goes Running at the next tick.
    TestServer* server = makeServiceServer(name);
    EXPECT_EQ(server->start(), 0u);
    EXPECT_TRUE(pumpUntilState(server, Running));

    EXPECT_TRUE(ServiceControl::stopService(service));
    EXPECT_TRUE(pumpUntilState(server, Stopped));
    CloseServiceHandle(service);
}

// No such service: the start says why (the caller turns the code into the
// system's text); nothing is launched instead.
TEST_F(ServiceModeTest, WithoutServiceTheStartSaysSo)
{
    TestServer* server = makeServiceServer(UniqueName("TvNoSvc"));
    ASSERT_TRUE(server->service() == nullptr);
    EXPECT_EQ(server->start(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(server->state(), StartPending);
    EXPECT_EQ(server->startCalls, 0);
    EXPECT_TRUE(server->service() == nullptr);
    // Process id 0 on the process path: Stopped, silently.
    EXPECT_TRUE(pumpUntilState(server, Stopped, 2000)) << "got " << server->state();
    testkit::PumpFor(100);
    EXPECT_TRUE(sink.notes.empty());
}

TEST_F(ServiceModeTest, ServiceInstalledAfterConstructionIsOpenedAtStart)
{
    std::string name = UniqueName("TvLate");
    TestServer* server = makeServiceServer(name);
    ASSERT_TRUE(server->service() == nullptr);

    std::string binary = "\"" + testkit::BinDir() + "TvService.exe\" " + name;
    SC_HANDLE created = CreateServiceA(scm, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, binary.c_str(), nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    ASSERT_TRUE(created != nullptr) << "error " << GetLastError();
    installed.push_back(name);
    CloseServiceHandle(created);

    EXPECT_EQ(server->start(), 0u);
    EXPECT_TRUE(server->service() != nullptr);
    EXPECT_TRUE(pumpUntilState(server, Running));
}

TEST_F(ServiceModeTest, ReopenAndCloseService)
{
    std::string name = installService();
    TestServer* server = makeServer(name.c_str());
    ASSERT_TRUE(server->service() != nullptr);

    DWORD before = GetTickCount();
    EXPECT_TRUE(server->reopenService());
    EXPECT_GE(GetTickCount() - before, 190u) << "waits 200 ms";
    EXPECT_TRUE(server->service() != nullptr);

    EXPECT_TRUE(server->closeService());
    EXPECT_TRUE(server->service() == nullptr);
    EXPECT_TRUE(server->closeService()) << "nothing to close";

    removeService(name);
    installed.clear();
    EXPECT_FALSE(server->reopenService()) << "the service is gone";
    EXPECT_TRUE(server->service() == nullptr);
}
