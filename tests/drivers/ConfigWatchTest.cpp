// The monitor's configuration watch with real file writes: change reported,
// server stopped with restartPending, and the cases that must stay quiet.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "DriverTestKit.h"
#include "TestKit.h"

using namespace drivertest;

namespace {

class ConfigWatchTest : public DriverTest {
protected:
    // A watched driver whose configuration file exists (not started).
    TestServer* makeWatched(const char* tag)
    {
        std::string dir = testkit::MakeTempDir(tag);
        tempDirs.push_back(dir);
        path = dir + "server.conf";
        EXPECT_TRUE(testkit::WriteFileBytes(path, "Port 80\n"));
        TestServer* server = makeServer(UniqueName(tag).c_str());
        server->setConfigPath(path.c_str());
        server->setWatchConfig(true);
        EXPECT_TRUE(SameTime(server->configTime(), ReadWriteTime(path))) << "setConfigPath records the time";
        return server;
    }

    void startRunning(TestServer* server)
    {
        ASSERT_EQ(server->start(), 0u);
        ASSERT_TRUE(pumpUntilState(server, Running)) << "state " << server->state();
    }

    // Rewrites the file and makes sure its time really moved.
    void rewrite(TestServer* server, const char* text)
    {
        FILETIME before = ReadWriteTime(path);
        // File times have a coarse grain on some file systems: write again
        // until the time moves.
        for (int i = 0; i < 50; ++i) {
            ASSERT_TRUE(testkit::WriteFileBytes(path, text));
            if (!SameTime(ReadWriteTime(path), before) && !SameTime(ReadWriteTime(path), server->configTime()))
                return;
            Sleep(20);
        }
        FAIL() << "the file time did not change";
    }

    size_t changes(Server* server) const { return sink.count(server->messageId(), ConfigChanged); }

    std::string path;
};

}  // namespace

TEST_F(ConfigWatchTest, WriteIsReportedAndServerStoppedForRestart)
{
    TestServer* server = makeWatched("cfgwrite");
    startRunning(server);
    testkit::PumpFor(800);
    EXPECT_TRUE(sink.notes.empty()) << "unchanged file, got " << sink.notes.size();
    DWORD firstPid = server->pid();

    rewrite(server, "Port 81\n");
    ASSERT_TRUE(testkit::PumpUntil([&] { return changes(server) == 1; }, 3000));
    ASSERT_EQ(sink.notes.size(), 1u);
    EXPECT_EQ(sink.notes[0].message, server->messageId());
    EXPECT_EQ(sink.notes[0].code, (WPARAM)ConfigChanged);
    EXPECT_EQ(sink.notes[0].lParam, 0);
    // In the same tick: check, stop, restartPending, reload, new time.
    EXPECT_EQ(server->checkCalls, 2) << "start's check and the monitor's";
    EXPECT_EQ(server->stopCalls, 1);
    // StopPending, or Stopped already: the pump that saw the report may
    // also have run the pass the stop asked for, after the program ended.
    EXPECT_NE(server->state(), Running);
    EXPECT_TRUE(server->restartPending());
    EXPECT_EQ(server->reloadCalls, 1);
    EXPECT_TRUE(SameTime(server->configTime(), ReadWriteTime(path)));

    // The process ends: Stopped without an unexpected-end report.
    EXPECT_TRUE(pumpUntilState(server, Stopped));
    EXPECT_FALSE(ProcessAlive(firstPid));
    // The window starts it again once Stopped (its own timer does this).
    ASSERT_TRUE(server->restartPending());
    EXPECT_EQ(server->start(), 0u);
    server->setRestartPending(false);
    EXPECT_TRUE(pumpUntilState(server, Running));
    EXPECT_NE(server->pid(), firstPid);
    testkit::PumpFor(1500);
    EXPECT_EQ(sink.notes.size(), 1u) << "the change is reported once";
    EXPECT_TRUE(server->isRunning());
}

TEST_F(ConfigWatchTest, RefusedCheckKeepsServerRunningUntilNextWrite)
{
    TestServer* server = makeWatched("cfgbad");
    startRunning(server);
    server->checkAnswer = false;
    rewrite(server, "Port x\n");
    ASSERT_TRUE(testkit::PumpUntil([&] { return changes(server) == 1; }, 3000));
    EXPECT_EQ(server->stopCalls, 0);
    EXPECT_FALSE(server->restartPending());
    EXPECT_EQ(server->reloadCalls, 0);
    EXPECT_TRUE(SameTime(server->configTime(), ReadWriteTime(path))) << "stored whatever the check said";
    testkit::PumpFor(1500);
    EXPECT_EQ(changes(server), 1u) << "reported once per write";
    EXPECT_TRUE(server->isRunning());

    // The correction restarts the server.
    server->checkAnswer = true;
    rewrite(server, "Port 82\n");
    ASSERT_TRUE(testkit::PumpUntil([&] { return changes(server) == 2; }, 3000));
    EXPECT_EQ(server->stopCalls, 1);
    EXPECT_TRUE(server->restartPending());
    EXPECT_TRUE(pumpUntilState(server, Stopped));
    EXPECT_EQ(sink.notes.size(), 2u);
}

TEST_F(ConfigWatchTest, WatchOffIgnoresWritesAndKeepsOldTime)
{
    TestServer* server = makeWatched("cfgoff");
    server->setWatchConfig(false);
    FILETIME recorded = server->configTime();
    startRunning(server);
    rewrite(server, "Port 83\n");
    testkit::PumpFor(1600);
    EXPECT_TRUE(sink.notes.empty()) << "got " << sink.notes.size();
    EXPECT_TRUE(server->isRunning());
    EXPECT_TRUE(SameTime(server->configTime(), recorded));

    // Switched on later, the write is seen, since the old time was kept.
    server->setWatchConfig(true);
    EXPECT_TRUE(testkit::PumpUntil([&] { return changes(server) == 1; }, 3000));
    EXPECT_TRUE(server->restartPending());
}

TEST_F(ConfigWatchTest, WriteWhileStoppedIsReportedAtNextRunning)
{
    TestServer* server = makeWatched("cfgstopped");
    rewrite(server, "Port 84\n");
    testkit::PumpFor(1500);
    EXPECT_TRUE(sink.notes.empty()) << "not Running: nothing looked at";
    EXPECT_EQ(server->state(), Stopped);

    ASSERT_EQ(server->start(), 0u);
    ASSERT_TRUE(testkit::PumpUntil([&] { return changes(server) == 1; }, 3000));
    // It went Running and was stopped again within the same tick; a tick
    // read in the same pump as the note may have seen its end already.
    EXPECT_TRUE(server->state() == StopPending || server->state() == Stopped) << "got " << server->state();
    EXPECT_TRUE(server->restartPending());
    EXPECT_EQ(server->stopCalls, 1);
}

TEST_F(ConfigWatchTest, ZeroHalfTimeAndMissingFileAreSkipped)
{
    TestServer* server = makeWatched("cfgzero");
    FILETIME recorded = server->configTime();
    startRunning(server);

    auto setTime = [&](DWORD low, DWORD high) {
        HANDLE file =
            CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        FILETIME time = {low, high};
        ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &time)) << "error " << GetLastError();
        CloseHandle(file);
        FILETIME got = ReadWriteTime(path);
        ASSERT_TRUE(got.dwLowDateTime == low && got.dwHighDateTime == high)
            << "file system kept " << std::hex << got.dwHighDateTime << ":" << got.dwLowDateTime;
    };
    // A low half of 0 is taken for "unreadable", although the time differs.
    setTime(0, recorded.dwHighDateTime + 1);
    testkit::PumpFor(1500);
    EXPECT_TRUE(sink.notes.empty()) << "got " << sink.notes.size();
    EXPECT_TRUE(SameTime(server->configTime(), recorded));

    // A missing file neither.
    ASSERT_TRUE(DeleteFileA(path.c_str()));
    testkit::PumpFor(1500);
    EXPECT_TRUE(sink.notes.empty()) << "got " << sink.notes.size();
    EXPECT_TRUE(server->isRunning());

    // Back with an ordinary time: reported.
    ASSERT_TRUE(testkit::WriteFileBytes(path, "Port 85\n"));
    EXPECT_TRUE(testkit::PumpUntil([&] { return changes(server) == 1; }, 3000));
}

TEST_F(ConfigWatchTest, FileHeldOpenForWriting)
{
    TestServer* server = makeWatched("cfgheld");
    startRunning(server);
    HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    // Wait until the write moves the time (coarse file-system grain).
    DWORD written = 0;
    for (int i = 0; i < 50 && SameTime(ReadWriteTime(path), server->configTime()); ++i) {
        Sleep(20);
        WriteFile(writer, "#\n", 2, &written, nullptr);
    }
    ASSERT_FALSE(SameTime(ReadWriteTime(path), server->configTime()));
    // On the NT family, as under Wine, the probe's open without data access
    // is not refused while the file is held for writing, so the change is
    // seen at once. (The 95 family refuses the open: the tick skips the
    // file and the change is seen after the writer closed it.)
    EXPECT_TRUE(testkit::PumpUntil([&] { return changes(server) == 1; }, 3000));
    EXPECT_EQ(server->stopCalls, 1);
    EXPECT_TRUE(server->restartPending());
    CloseHandle(writer);
}

TEST_F(ConfigWatchTest, ChangeWithoutNotifyWindowPostsNothingButRestarts)
{
    TestServer* server = makeWatched("cfgnowin");
    server->setNotifyWindow(nullptr);
    startRunning(server);
    rewrite(server, "Port 86\n");
    MonitorTick(nullptr, 0, 0, 0);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, (HWND)-1, 0, 0, PM_REMOVE)) << "thread message " << msg.message;
    EXPECT_EQ(server->stopCalls, 1);
    EXPECT_TRUE(server->restartPending());
}
