// A start adopts a server that already runs, but never a program the driver
// ran itself for another purpose and that still runs: a syntax test that
// gave no verdict in time, mysqladmin lingering after a shutdown. Both races
// are made with slow stand-ins.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ApacheServer.h"
#include "ImportHook.h"
#include "KitLayout.h"
#include "MySqlServer.h"
#include "ServerKit.h"
#include "ServerMonitor.h"
#include "TestKit.h"

namespace {

template <class Driver>
class Inspected : public Driver {
public:
    using Driver::Driver;
    DWORD pid() const { return this->process_.dwProcessId; }
};

int unexpectedEnds;

LRESULT CALLBACK countEnds(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= 0xC000 && wParam == UnexpectedEnd)
        ++unexpectedEnds;
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

class AdoptionTest : public ServerKitTest {
protected:
    void SetUp() override
    {
        ServerKitTest::SetUp();
        ASSERT_NE(StartServerMonitor(), 0u);
        WNDCLASSA wc = {};
        wc.lpfnWndProc = countEnds;
        wc.lpszClassName = "ServersEndCounter";
        RegisterClassA(&wc);
        sink = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        unexpectedEnds = 0;
    }
    void TearDown() override
    {
        DestroyWindow(sink);
        ServerKitTest::TearDown();
    }

    // The recorded runs of a kit folder whose command line holds `part`.
    static std::vector<kitrecord::Record> runsWith(const std::vector<kitrecord::Record>& runs, const char* part)
    {
        std::vector<kitrecord::Record> out;
        for (const auto& r : runs)
            if (r.cmdLine.find(part) != std::string::npos)
                out.push_back(r);
        return out;
    }

    // The server keeps running once every helper has ended, and nothing
    // is reported.
    template <class Driver>
    void expectServerOutlives(const Driver& driver, const std::vector<kitrecord::Record>& helpers)
    {
        for (const auto& helper : helpers)
            EXPECT_TRUE(WaitProcessGone(helper.pid, 10000)) << helper.cmdLine;
        testkit::PumpFor(1000);
        EXPECT_EQ(driver.state(), Running) << "got " << driver.state();
        EXPECT_TRUE(ProcessAlive(driver.pid()));
        EXPECT_EQ(unexpectedEnds, 0);
    }

    HWND sink = nullptr;
};

}  // namespace

TEST_F(AdoptionTest, ApacheStartPassesOverItsSlowSyntaxTest)
{
    LayOut();
    WriteHttpdConf("ServerRoot \"" + kit + "Apache\"\nPort " + std::to_string(testkit::FreeTcpPort()) +
                   "\n# testkit: check-delay 3000\n");
    Inspected<ApacheServer> apache(kitFolder());
    apache.setNotifyWindow(sink);

    // The check waits up to its bound: no verdict, valid; the test that
    // has not ended is ended, and never taken for the server.
    apache.setCheckLimit(1000);
    EXPECT_EQ(apache.start(), 0u);
    ASSERT_TRUE(testkit::PumpUntil([&] { return !runsWith(apacheRuns(), " -t").empty(); }, 5000));
    auto tests = runsWith(apacheRuns(), " -t");
    EXPECT_TRUE(testkit::WaitProcessGone(tests[0].pid, 5000)) << "the slow syntax test was ended";
    EXPECT_NE(apache.pid(), tests[0].pid) << "the syntax test was adopted";
    ASSERT_TRUE(testkit::PumpUntil([&] { return !runsWith(apacheRuns(), " -k start").empty(); }, 10000));
    EXPECT_EQ(runsWith(apacheRuns(), " -k start")[0].pid, apache.pid());
    ASSERT_TRUE(testkit::PumpUntil([&] { return apache.state() == Running; }, 5000)) << apache.state();
    expectServerOutlives(apache, runsWith(apacheRuns(), " -t"));
}

TEST_F(AdoptionTest, MySqlStartAfterStopPassesOverMysqladmin)
{
    LayOut();
    AddMySqlBuilds({"mysqld-nt.exe"});
    ASSERT_TRUE(testkit::WriteFileBytes(kit + "MySql\\bin\\mysqladmin.delay", "3000"));
    Inspected<MySqlServer> mysql(kitFolder());
    mysql.setNotifyWindow(sink);
    // No server runs, so there is no event: the stop runs mysqladmin,
    // which lingers.
    EXPECT_EQ(mysql.stopProcess(), 0u);
    ASSERT_TRUE(testkit::PumpUntil([&] { return !runsWith(mySqlRuns(), "mysqladmin").empty(); }, 10000));
    auto admin = runsWith(mySqlRuns(), "mysqladmin");
    ASSERT_TRUE(ProcessAlive(admin[0].pid)) << "mysqladmin still runs";

    EXPECT_EQ(mysql.start(), 0u);
    EXPECT_NE(mysql.pid(), admin[0].pid) << "mysqladmin was adopted";
    ASSERT_TRUE(testkit::PumpUntil([&] { return runsWith(mySqlRuns(), "mysqld-nt.exe\" --basedir").size() == 1; },
                                   10000))
        << "a new server is launched";
    EXPECT_EQ(runsWith(mySqlRuns(), "mysqld-nt.exe\" --basedir")[0].pid, mysql.pid());
    ASSERT_TRUE(testkit::PumpUntil([&] { return mysql.state() == Running; }, 5000)) << mysql.state();
    expectServerOutlives(mysql, admin);
}

// Wine runs every program as an administrator: a server of another user
// (a service of another installation), whose process this user may not
// open, is simulated by refusing OpenProcess with ERROR_ACCESS_DENIED.
void* realOpenProcess;
DWORD refusedPid;
HANDLE WINAPI RefusingOpenProcess(DWORD access, BOOL inherit, DWORD pid)
{
    if (pid == refusedPid) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return reinterpret_cast<decltype(&OpenProcess)>(realOpenProcess)(access, inherit, pid);
}

// A running mysqld whose path cannot be read is not taken for the kit's:
// the driver launches its own, which finds the port taken and ends.
TEST_F(AdoptionTest, MySqlStartNeverAdoptsAServerWhosePathCannotBeRead)
{
    LayOut();
    AddMySqlBuilds({"mysqld-nt.exe"});
    STARTUPINFOA si = {sizeof si};
    PROCESS_INFORMATION other = {};
    std::string line = "\"" + kit + "MySql\\bin\\mysqld-nt.exe\"";
    ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                               &other));
    CloseHandle(other.hThread);
    ASSERT_TRUE(testkit::PumpUntil([&] { return mySqlRuns().size() == 1; }, 10000));
    refusedPid = other.dwProcessId;
    ASSERT_GT(testkit::HookImport("OpenProcess", (void*)RefusingOpenProcess, &realOpenProcess), 0);
    {
        Inspected<MySqlServer> mysql(kitFolder());
        mysql.setNotifyWindow(sink);
        EXPECT_EQ(mysql.start(), 0u);
        EXPECT_NE(mysql.pid(), other.dwProcessId) << "adopted";
        EXPECT_TRUE(testkit::PumpUntil([&] { return mysql.state() == Stopped; }, 10000)) << mysql.state();
        EXPECT_EQ(mySqlRuns().size(), 2u);
    }
    testkit::HookImport("OpenProcess", realOpenProcess, &realOpenProcess);
    TerminateProcess(other.hProcess, 1);
    WaitForSingleObject(other.hProcess, 10000);
    CloseHandle(other.hProcess);
}
