// The Apache driver against the kit's stand-in apache.exe: every command
// line byte for byte, the console title, the folder and the hidden window
// of each launch, as the stand-in recorded them.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ApacheServer.h"
#include "ServerKit.h"
#include "ServerMonitor.h"
#include "TestKit.h"

namespace {

class TestApache : public ApacheServer {
public:
    using ApacheServer::ApacheServer;
    DWORD pid() const { return process_.dwProcessId; }
};

class ApacheLaunchTest : public ServerKitTest {
protected:
    bool waitRun(const char* part, size_t count = 1)
    {
        return testkit::PumpUntil([&] { return runsWith(part).size() >= count; }, 10000);
    }

    // The running Apache has written its pid file: it can be shut down.
    bool waitServing()
    {
        return testkit::PumpUntil([this] { return testkit::FileExists(kit + "Apache\\logs\\httpd.pid"); }, 10000);
    }

    // Apache's folder as the launched program sees its current directory.
    std::string apacheCurDir() const
    {
        std::string dir = apacheDir();
        dir.pop_back();
        return dir;
    }
};

TEST_F(ApacheLaunchTest, StartRunsTheCheckThenAHiddenConsoleTitledApache2)
{
    LayOut();
    TestApache apache(kitFolder());
    DWORD code = apache.startProcess();
    ASSERT_EQ(code, 0u) << "got " << code;
    ASSERT_NE(apache.pid(), 0u);
    ASSERT_TRUE(waitRun(" -k start"));

    auto runs = apacheRuns();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_NE(runs[0].cmdLine.find(" -t"), std::string::npos) << "the check first: " << runs[0].cmdLine;
    const auto& start = runs[1];
    EXPECT_EQ(start.cmdLine, apacheDir() + "apache.exe -k start");
    EXPECT_EQ(start.title, "Apache2");
    EXPECT_EQ(start.show, SW_HIDE) << "got " << start.show;
    EXPECT_EQ(start.curDir, apacheCurDir());
    EXPECT_EQ(start.pid, apache.pid());
    ASSERT_TRUE(waitServing());
    EXPECT_TRUE(ProcessAlive(apache.pid())) << "Apache keeps running";
}

TEST_F(ApacheLaunchTest, SslStartDefinesSsl)
{
    LayOut();
    TestApache apache(kitFolder());
    apache.setSsl(true);
    EXPECT_TRUE(apache.ssl());
    ASSERT_EQ(apache.startProcess(), 0u);
    ASSERT_TRUE(waitRun(" -k start"));
    EXPECT_EQ(runsWith(" -k start")[0].cmdLine, apacheDir() + "apache.exe -k start -D SSL");
}

TEST_F(ApacheLaunchTest, StopRunsTheShutdownCommandWithTwoBlanks)
{
    LayOut();
    TestApache apache(kitFolder());
    ASSERT_EQ(apache.startProcess(), 0u);
    DWORD server = apache.pid();
    ASSERT_TRUE(waitServing());

    DWORD code = apache.stopProcess();
    EXPECT_EQ(code, 0u) << "got " << code;
    EXPECT_EQ(apache.pid(), server) << "the shutdown's process is not kept";
    ASSERT_TRUE(waitRun("-k shutdown"));
    auto stop = runsWith("-k shutdown")[0];
    EXPECT_EQ(stop.cmdLine, apacheDir() + "apache.exe  -k shutdown");
    EXPECT_EQ(stop.title, "Stopping Apache");
    EXPECT_EQ(stop.show, SW_HIDE) << "got " << stop.show;
    EXPECT_EQ(stop.curDir, apacheCurDir());
    EXPECT_EQ(runsWith(" -t").size(), 2u) << "a check before the start and one before the stop";
    EXPECT_TRUE(WaitProcessGone(server, 10000)) << "Apache ends";
}

TEST_F(ApacheLaunchTest, StartAndStopThroughTheMonitor)
{
    LayOut();
    ASSERT_NE(StartServerMonitor(), 0u);
    TestApache apache(kitFolder());
    EXPECT_EQ(apache.start(), 0u);
    EXPECT_EQ(apache.state(), StartPending);
    ASSERT_TRUE(testkit::PumpUntil([&] { return apache.state() == Running; }, 10000))
        << "state " << apache.state() << ", pid " << apache.pid() << "\n"
        << [this] {
               std::string all;
               for (const auto& r : apacheRuns())
                   all += r.cmdLine + "\n";
               return all;
           }();
    ASSERT_TRUE(waitServing());
    EXPECT_EQ(apache.stop(), 0u);
    EXPECT_EQ(apache.state(), StopPending);
    EXPECT_TRUE(testkit::PumpUntil([&] { return apache.state() == Stopped; }, 10000)) << apache.state();
    EXPECT_EQ(runsWith(" -t").size(), 2u) << "one check for a start (the launch does not repeat it), one for a stop";
}

// Without apache.exe there is no syntax test to run: the command
// interpreter's own complaint about the missing program must not come
// back as a configuration error; the launch reports "file not found".
TEST_F(ApacheLaunchTest, MissingApacheFailsWithFileNotFound)
{
    LayOut();
    ASSERT_TRUE(DeleteFileA((kit + "Apache\\apache.exe").c_str()));
    TestApache apache(kitFolder());
    static int notes;
    notes = 0;
    struct Sink {
        static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
        {
            if (msg >= 0xC000)
                ++notes;
            return DefWindowProcA(hwnd, msg, wParam, lParam);
        }
    };
    WNDCLASSA wc = {};
    wc.lpfnWndProc = Sink::proc;
    wc.lpszClassName = "ServersMissingApacheSink";
    RegisterClassA(&wc);
    HWND sink = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    apache.setNotifyWindow(sink);

    SetLastError(0xdead);
    DWORD code = apache.startProcess();
    EXPECT_EQ(code, (DWORD)ERROR_FILE_NOT_FOUND) << "got " << code;
    EXPECT_EQ(apache.pid(), 0u);
    SetLastError(0xdead);
    code = apache.stopProcess();
    EXPECT_EQ(code, (DWORD)ERROR_FILE_NOT_FOUND) << "got " << code;
    testkit::PumpFor(100);
    EXPECT_EQ(notes, 0) << "no ConfigError";
    EXPECT_FALSE(testkit::FileExists(apacheDir() + "chkap.bat"));
    DestroyWindow(sink);
}

}  // namespace
