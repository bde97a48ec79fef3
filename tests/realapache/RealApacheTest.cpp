// The manager on a kit with the real Apache 2.4 (64-bit, built from
// Debian's sources by scripts/setup.sh) beside the stand-in MySQL, driven
// from outside as a user does: start and the page served by the server's
// child process, the syntax test in the server's own words, stop, a
// restart on a new Listen port, quit, logoff, a console server started
// before the manager, and service mode (RealApache.h says how the real
// server runs).
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "RealApache.h"
#include "TestKit.h"

using testkit::PumpUntil;

namespace {

const int servicesBox = 1019, applyButton = 1029;
const DWORD serverWaitMs = 60000;  // a loaded machine; the server needs about 1 s

class RealApache : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testkit::FileExists(realapache::ServerDir() + "bin\\httpd.exe"))
            GTEST_SKIP() << "no real Apache built at '" << realapache::ServerDir()
                         << "' (TARVANE_REAL_APACHE): scripts/setup.sh builds it";
        kit.reset(new realapache::RealKit("realap"));
        ASSERT_EQ("", kit->problem());
        port = kit->run.kit.port();
    }
    void TearDown() override
    {
        if (kit && kit->run.window && HasFailure())
            std::printf("%s", Status().c_str());
        kit.reset();
    }
    void Open()
    {
        ASSERT_TRUE(kit->run.launch()) << "no manager window";
        std::printf("manager: %s\n", kit->run.manager());
    }
    std::string Status()
    {
        std::string all = "status \"" + kit->run.text(1027) + "\" \"" + kit->run.text(1026) + "\"\nTarvane.log:\n" +
                          kit->run.log() + "\nerror.log:\n" + kit->errorLog();
        for (const auto& p : kit->servers())
            all += "running httpd.exe " + std::to_string(p.pid) + " (parent " + std::to_string(p.parent) + ")\n";
        return all;
    }
    // "Started", the page served, and the server's two processes: the
    // parent and its child.
    void ExpectServing(const char* what, int on)
    {
        EXPECT_TRUE(kit->run.waitStatus("Started", serverWaitMs)) << what << "\n" << Status();
        EXPECT_TRUE(kit->serves(on, serverWaitMs)) << what << "\n" << Status();
        auto servers = kit->servers();
        ASSERT_EQ(2u, servers.size()) << what << "\n" << Status();
        EXPECT_TRUE(servers[0].parent == servers[1].pid || servers[1].parent == servers[0].pid) << Status();
    }
    void ExpectGone(const char* what, int on)
    {
        EXPECT_TRUE(kit->waitGone(on, serverWaitMs)) << what << "\n" << Status();
        kit->endServers();  // what a failed stop left, for the next step
    }

    std::unique_ptr<realapache::RealKit> kit;
    int port = 0;
};

}  // namespace

TEST_F(RealApache, StartStopRestartOnANewPortAndQuit)
{
    // The manager restarts a server whose configuration changed.
    WritePrivateProfileStringA("Tarvane", "AutoReloadConf", "Y", (kit->run.kit.root() + "Tarvane.ini").c_str());
    Open();
    ASSERT_TRUE(kit->run.waitStatus("Stopped")) << Status();
    ASSERT_TRUE(kit->run.run("/start"));
    ExpectServing("/start", port);

    ASSERT_TRUE(kit->run.run("/stop"));
    ExpectGone("/stop", port);
    EXPECT_TRUE(kit->run.waitStatus("Stopped", serverWaitMs)) << Status();

    // httpd.conf written while the server runs: the manager restarts it,
    // and it serves on the new port only.
    ASSERT_TRUE(kit->run.run("/start"));
    ExpectServing("/start again", port);
    int moved = testkit::FreeTcpPort();
    ASSERT_TRUE(kit->writeConf(moved));
    EXPECT_TRUE(kit->serves(moved, serverWaitMs)) << "restart on port " << moved << "\n" << Status();
    EXPECT_TRUE(PumpUntil([&] { return !testkit::PortAnswers(port); }, serverWaitMs)) << Status();

    ASSERT_TRUE(kit->run.run("/quit"));
    EXPECT_TRUE(kit->run.ended(serverWaitMs));
    ExpectGone("/quit", moved);
}

TEST_F(RealApache, SyntaxTestInTheServersOwnWords)
{
    Open();
    ASSERT_TRUE(kit->writeConf(port, "NoSuchDirective on\r\n"));
    ASSERT_TRUE(kit->run.run("/start"));
    std::string text;
    HWND box = testkit::AnswerMessageBox(IDNO, kit->run.pid, nullptr, serverWaitMs, &text);
    EXPECT_TRUE(box != nullptr) << Status();
    EXPECT_NE(std::string::npos, text.find("Invalid command 'NoSuchDirective', perhaps misspelled")) << text;
    PumpUntil([&] { return !IsWindow(box); }, 5000);
    EXPECT_TRUE(kit->run.waitStatus("Stopped")) << Status();
    EXPECT_TRUE(kit->servers().empty()) << Status();

    ASSERT_TRUE(kit->writeConf(port));
    ASSERT_TRUE(kit->run.run("/start"));
    ExpectServing("/start with a sound httpd.conf", port);
    EXPECT_TRUE(testkit::MessageBoxes(kit->run.pid).empty()) << Status();
}

TEST_F(RealApache, LogoffLeavesNoServer)
{
    Open();
    ASSERT_TRUE(kit->run.run("/start"));
    ExpectServing("/start", port);
    DWORD_PTR result = 0;
    SendMessageTimeoutA(kit->run.window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000, &result);
    SendMessageTimeoutA(kit->run.window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, serverWaitMs, &result);
    EXPECT_TRUE(kit->run.ended(serverWaitMs));
    ExpectGone("logoff", port);
}

TEST_F(RealApache, ConsoleServerStartedBeforeTheManagerIsTakenUpAndStopped)
{
    std::string line = "\"" + kit->run.kit.apacheExe() + "\"";
    HANDLE parent = testkit::StartProcess(line, kit->run.kit.apacheDir().c_str());
    ASSERT_TRUE(parent != nullptr);
    CloseHandle(parent);
    ASSERT_TRUE(kit->serves(port, serverWaitMs)) << Status();
    Open();
    ASSERT_TRUE(kit->run.waitStatus("Stopped")) << Status();
    // /start takes the running server up rather than launching another:
    // the log names one parent creating one child.
    ASSERT_TRUE(kit->run.run("/start"));
    ExpectServing("taken up", port);
    std::string log = kit->errorLog();
    EXPECT_EQ(log.find("AH00418"), log.rfind("AH00418")) << Status();
    ASSERT_TRUE(kit->run.run("/stop"));
    ExpectGone("/stop of the server taken up", port);
    EXPECT_TRUE(kit->run.waitStatus("Stopped", serverWaitMs)) << Status();
}

// Service mode through the settings page: "httpd.exe -k install -n Apache"
// registers the service, Wine's service manager starts it, the manager's
// stop stops it and leaving service mode removes it.
TEST_F(RealApache, ServiceInstalledStartedStoppedAndRemoved)
{
    Open();
    ASSERT_TRUE(kit->run.waitStatus("Stopped")) << Status();
    HWND window = kit->run.window;
    ASSERT_TRUE(IsWindowEnabled(GetDlgItem(window, servicesBox))) << "the user administers the machine";
    kit->run.click(servicesBox);
    ASSERT_TRUE(PumpUntil([&] { return IsDlgButtonChecked(window, servicesBox) == BST_CHECKED; }, 3000));
    kit->run.click(applyButton);
    EXPECT_TRUE(PumpUntil([] { return testkit::ServiceState("Apache") == SERVICE_RUNNING; }, serverWaitMs))
        << Status();
    std::string image = testkit::ServiceImagePath("Apache");
    EXPECT_NE(std::string::npos, image.find("httpd.exe\" -k runservice")) << image;
    EXPECT_EQ(0u, testkit::ServiceState("Apache2.4")) << "no service under Apache's default name";
    ExpectServing("service started", port);

    ASSERT_TRUE(kit->run.run("/stop"));
    EXPECT_TRUE(PumpUntil([] { return testkit::ServiceState("Apache") == SERVICE_STOPPED; }, serverWaitMs))
        << Status();
    ExpectGone("/stop of the service", port);

    kit->run.click(servicesBox);
    ASSERT_TRUE(PumpUntil([&] { return IsDlgButtonChecked(window, servicesBox) == BST_UNCHECKED; }, 3000));
    kit->run.click(applyButton);
    EXPECT_TRUE(PumpUntil([] { return testkit::ServiceState("Apache") == 0; }, serverWaitMs)) << Status();
}
