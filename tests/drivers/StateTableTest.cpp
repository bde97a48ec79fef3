// The driver's state table with real processes and the real 700 ms
// monitor: ticks run only while the test dispatches messages, so each step
// below is settled before the next tick can see it.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "DriverTestKit.h"
#include "TestKit.h"

using namespace drivertest;

namespace {

class StateTableTest : public DriverTest {
protected:
    // Launches the driver's program and waits for the monitor's Running.
    void startRunning(TestServer* server)
    {
        ASSERT_EQ(server->start(), 0u);
        ASSERT_EQ(server->state(), StartPending) << "got " << server->state();
        ASSERT_NE(server->pid(), 0u);
        ASSERT_TRUE(pumpUntilState(server, Running)) << "state " << server->state();
    }
};

}  // namespace

TEST_F(StateTableTest, LaunchRunStopWithoutNotification)
{
    TestServer* server = makeServer(UniqueName("TvLaunch").c_str());
    EXPECT_EQ(server->state(), Stopped);
    startRunning(server);
    DWORD pid = server->pid();
    EXPECT_EQ(server->startCalls, 1) << "got " << server->startCalls;
    EXPECT_EQ(server->checkCalls, 1) << "got " << server->checkCalls;
    EXPECT_TRUE(server->isRunning());
    EXPECT_TRUE(ProcessAlive(pid));

    server->setRestartPending(true);
    EXPECT_EQ(server->stop(), 0u);
    EXPECT_EQ(server->state(), StopPending) << "got " << server->state();
    EXPECT_FALSE(server->restartPending());  // every stop clears it
    EXPECT_EQ(server->stopCalls, 1);
    EXPECT_TRUE(pumpUntilState(server, Stopped)) << "state " << server->state();
    EXPECT_EQ(server->pid(), 0u) << "process record zeroed, got " << server->pid();
    EXPECT_FALSE(ProcessAlive(pid));
    testkit::PumpFor(800);
    EXPECT_TRUE(sink.notes.empty()) << "got " << sink.notes.size() << " notifications";
}

TEST_F(StateTableTest, LaunchesKeepNoHandles)
{
    // A launch keeps its process handle only while the server lives: start
    // and stop cycles must not leave process or thread handles behind. (Wine's
    // GetProcessHandleCount answers 0, so the test looks at where new
    // handles land: the handle table hands out its lowest free slots.)
    TestServer* server = makeServer(UniqueName("TvHandles").c_str());
    auto cycle = [&] {
        startRunning(server);
        ASSERT_EQ(server->stop(), 0u);
        ASSERT_TRUE(pumpUntilState(server, Stopped));
    };
    // The highest of 32 fresh handles: free slots below it are filled first.
    auto nextHandle = [] {
        HANDLE probes[32];
        ULONG_PTR highest = 0;
        for (HANDLE& probe : probes) {
            probe = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            if (reinterpret_cast<ULONG_PTR>(probe) > highest)
                highest = reinterpret_cast<ULONG_PTR>(probe);
        }
        for (HANDLE probe : probes)
            CloseHandle(probe);
        return highest;
    };
    cycle();  // first-use handles of the system
    ULONG_PTR before = nextHandle();
    for (int i = 0; i < 4; ++i)
        cycle();
    ULONG_PTR after = nextHandle();
    // Handle values step by 4. Four launches leaking their two handles
    // each would move the highest by 8 slots; allow 3 for other work.
    EXPECT_LT(after, before + 4 * 4)
        << "highest handle before " << before << ", after 4 launches " << after;
}

TEST_F(StateTableTest, AdoptsRunningProgramByNameWhateverItsCase)
{
    std::string dir = testkit::MakeTempDir("adopt");
    tempDirs.push_back(dir);
    std::string name = UniqueName("TvAdopt");
    std::string upper = name;
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    // The program's file name is in capitals, the driver's name is not.
    std::string exe = CopyProgram(IdleExe(), dir, upper + ".EXE");
    ASSERT_FALSE(exe.empty());
    DWORD running = launch("\"" + exe + "\"");
    ASSERT_NE(running, 0u);

    TestServer* server = makeServer(name.c_str());
    EXPECT_EQ(server->start(), 0u);
    EXPECT_EQ(server->state(), StartPending);
    EXPECT_EQ(server->startCalls, 0) << "nothing launched, got " << server->startCalls;
    EXPECT_EQ(server->pid(), running) << "got " << server->pid();
    EXPECT_TRUE(pumpUntilState(server, Running));

    // The adopted program ends by itself: reported like any other.
    KillProcess(running);
    EXPECT_TRUE(pumpUntilState(server, Stopped));
    testkit::PumpFor(100);
    ASSERT_EQ(sink.notes.size(), 1u);
    EXPECT_EQ(sink.notes[0].message, server->messageId());
    EXPECT_EQ(sink.notes[0].code, (WPARAM)UnexpectedEnd);
    EXPECT_EQ(sink.notes[0].lParam, 0);
}

TEST_F(StateTableTest, ProgramEndingBeforeFirstTickFallsBackToStoppedSilently)
{
    TestServer* server = makeServer(UniqueName("TvShort").c_str());
    EXPECT_EQ(server->start(), 0u);
    DWORD pid = server->pid();
    ASSERT_NE(pid, 0u);
    // Let the program end before any tick runs (no message is dispatched).
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    ASSERT_TRUE(process != nullptr);
    SetEvent(server->stopEvent);
    EXPECT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0);
    CloseHandle(process);
    EXPECT_EQ(server->state(), StartPending);

    EXPECT_TRUE(pumpUntilState(server, Stopped, 2000)) << "state " << server->state();
    testkit::PumpFor(100);
    EXPECT_TRUE(sink.notes.empty()) << "got " << sink.notes.size() << " notifications";
}

TEST_F(StateTableTest, FailedLaunchReturnsSystemCodeThenStopped)
{
    TestServer* server = makeServer(UniqueName("TvMissing").c_str());
    server->commandLine = testkit::BinDir() + "TvNoSuchProgram.exe";
    EXPECT_EQ(server->start(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(server->state(), StartPending);
    EXPECT_EQ(server->pid(), 0u);
    EXPECT_TRUE(pumpUntilState(server, Stopped, 2000)) << "state " << server->state();
    EXPECT_TRUE(sink.notes.empty());
}

TEST_F(StateTableTest, KillWhileRunningReportsUnexpectedEnd)
{
    TestServer* server = makeServer(UniqueName("TvKill").c_str());
    startRunning(server);
    ASSERT_TRUE(KillProcess(server->pid()));
    EXPECT_TRUE(pumpUntilState(server, Stopped));
    testkit::PumpFor(800);
    ASSERT_EQ(sink.notes.size(), 1u) << "exactly one report";
    EXPECT_EQ(sink.notes[0].message, server->messageId());
    EXPECT_EQ(sink.notes[0].code, (WPARAM)UnexpectedEnd) << "got " << sink.notes[0].code;
    EXPECT_EQ(sink.notes[0].lParam, 0) << "got " << sink.notes[0].lParam;
    EXPECT_EQ(server->pid(), 0u);
}

TEST_F(StateTableTest, KillWithRestartPendingIsNotReported)
{
    TestServer* server = makeServer(UniqueName("TvKillRp").c_str());
    startRunning(server);
    server->setRestartPending(true);
    ASSERT_TRUE(KillProcess(server->pid()));
    EXPECT_TRUE(pumpUntilState(server, Stopped));
    testkit::PumpFor(800);
    EXPECT_TRUE(sink.notes.empty()) << "got " << sink.notes.size() << " notifications";
    EXPECT_TRUE(server->restartPending());  // left for the window to restart
}

TEST_F(StateTableTest, KillWithoutNotifyWindowPostsNothing)
{
    TestServer* server = makeServer(UniqueName("TvKillNw").c_str());
    server->setNotifyWindow(nullptr);
    startRunning(server);
    ASSERT_TRUE(KillProcess(server->pid()));
    // The tick is called directly: a post to no window would land in this
    // thread's queue as a thread message, and pumping would hide it.
    MonitorTick(nullptr, 0, 0, 0);
    EXPECT_EQ(server->state(), Stopped) << "got " << server->state();
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, (HWND)-1, 0, 0, PM_REMOVE)) << "thread message " << msg.message;
    EXPECT_TRUE(sink.notes.empty());
}

TEST_F(StateTableTest, StopPendingHoldsWhileProcessLives)
{
    TestServer* server = makeServer(UniqueName("TvHold").c_str());
    startRunning(server);
    server->stopSignals = false;  // the shutdown request is not obeyed
    EXPECT_EQ(server->stop(), 0u);
    EXPECT_EQ(server->state(), StopPending);
    testkit::PumpFor(2200);  // three ticks
    EXPECT_EQ(server->state(), StopPending) << "got " << server->state();
    EXPECT_TRUE(ProcessAlive(server->pid()));

    SetEvent(server->stopEvent);
    EXPECT_TRUE(pumpUntilState(server, Stopped));
    testkit::PumpFor(100);
    EXPECT_TRUE(sink.notes.empty()) << "got " << sink.notes.size() << " notifications";
}

TEST_F(StateTableTest, StartAndStopRefusedInPendingStates)
{
    TestServer* server = makeServer(UniqueName("TvRefuse").c_str());
    ASSERT_EQ(server->start(), 0u);
    DWORD pid = server->pid();
    // StartPending: a second start launches nothing, stop does nothing.
    EXPECT_EQ(server->start(), 0u);
    EXPECT_EQ(server->startCalls, 1);
    EXPECT_EQ(server->checkCalls, 1) << "no check when not Stopped";
    server->setRestartPending(true);
    EXPECT_EQ(server->stop(), 0u);
    EXPECT_EQ(server->stopCalls, 0);
    EXPECT_EQ(server->state(), StartPending);
    EXPECT_FALSE(server->restartPending()) << "cleared even when nothing was done";
    EXPECT_EQ(server->pid(), pid);

    ASSERT_TRUE(pumpUntilState(server, Running));
    EXPECT_EQ(server->start(), 0u);  // Running: nothing
    EXPECT_EQ(server->startCalls, 1);

    server->stopSignals = false;
    EXPECT_EQ(server->stop(), 0u);
    ASSERT_EQ(server->state(), StopPending);
    // StopPending: neither start nor stop does anything.
    EXPECT_EQ(server->start(), 0u);
    EXPECT_EQ(server->stop(), 0u);
    EXPECT_EQ(server->startCalls, 1);
    EXPECT_EQ(server->stopCalls, 1);
    EXPECT_EQ(server->state(), StopPending);
}

TEST_F(StateTableTest, FailedStopKeepsRunningAndReturnsCode)
{
    TestServer* server = makeServer(UniqueName("TvStopFail").c_str());
    startRunning(server);
    server->stopCode = 1;
    server->setRestartPending(true);
    EXPECT_EQ(server->stop(), 1u);
    EXPECT_EQ(server->state(), Running) << "got " << server->state();
    EXPECT_FALSE(server->restartPending());
    testkit::PumpFor(800);
    EXPECT_EQ(server->state(), Running);
}

TEST_F(StateTableTest, RefusedCheckMakesStartDoNothing)
{
    TestServer* server = makeServer(UniqueName("TvCheck").c_str());
    server->checkAnswer = false;
    EXPECT_EQ(server->start(), 0u);
    EXPECT_EQ(server->state(), Stopped);
    EXPECT_EQ(server->checkCalls, 1);
    EXPECT_EQ(server->startCalls, 0);
}

TEST_F(StateTableTest, ServiceModeChangesOnlyWhileStopped)
{
    TestServer* server = makeServer(UniqueName("TvMode").c_str());
    EXPECT_TRUE(server->setServiceMode(true));
    EXPECT_TRUE(server->serviceMode());
    EXPECT_TRUE(server->setServiceMode(false));
    EXPECT_FALSE(server->serviceMode());
    startRunning(server);
    EXPECT_FALSE(server->setServiceMode(true));
    EXPECT_FALSE(server->serviceMode());
    server->stopSignals = false;
    server->stop();
    EXPECT_FALSE(server->setServiceMode(true));
    SetEvent(server->stopEvent);
    ASSERT_TRUE(pumpUntilState(server, Stopped));
    EXPECT_TRUE(server->setServiceMode(true));
}

// A thread timer runs inside the nested loop of a message box: the tick
// that turns the driver Running happens while the box is up.
namespace {
TestServer* modalServer;
bool runningSeenInBox;
UINT_PTR closerTimer;
DWORD boxOpened;

void CALLBACK closeBox(HWND, UINT, UINT_PTR, DWORD)
{
    if (testkit::MessageBoxes(GetCurrentProcessId(), "TvModalLoop").empty())
        return;
    if (modalServer->isRunning())
        runningSeenInBox = true;
    if (runningSeenInBox || GetTickCount() - boxOpened > 10000)
        testkit::AnswerMessageBox(IDOK, GetCurrentProcessId(), "TvModalLoop");
}
}  // namespace

TEST_F(StateTableTest, TicksRunInsideMessageBoxLoop)
{
    modalServer = makeServer(UniqueName("TvModal").c_str());
    ASSERT_EQ(modalServer->start(), 0u);
    ASSERT_EQ(modalServer->state(), StartPending);
    runningSeenInBox = false;
    boxOpened = GetTickCount();
    closerTimer = SetTimer(nullptr, 0, 50, closeBox);
    MessageBoxA(nullptr, "The monitor must tick in here.", "TvModalLoop", MB_OK);
    KillTimer(nullptr, closerTimer);
    EXPECT_TRUE(runningSeenInBox) << "state " << modalServer->state();
}

TEST(StateDecisions, ProcessAndServiceTables)
{
    // Process mode: from the state, whether the process lives and
    // restartPending, the new state and whether the end is reported.
    const struct {
        ServerState from;
        bool alive, restartPending;
        ServerState to;
        bool report;
    } process[] = {
        {StartPending, true, false, Running, false},  {StartPending, false, false, Stopped, false},
        {Running, true, false, Running, false},       {Running, false, false, Stopped, true},
        {Running, false, true, Stopped, false},       {StopPending, true, false, StopPending, false},
        {StopPending, false, false, Stopped, false},  {Stopped, false, true, Stopped, false},
        {Stopped, true, false, Running, false},
    };
    for (const auto& row : process) {
        ProcessVerdict verdict = SettleProcessState(row.from, row.alive, row.restartPending);
        EXPECT_EQ(verdict.state, row.to) << row.from << " alive " << row.alive;
        EXPECT_EQ(verdict.reportEnd, row.report) << row.from << " alive " << row.alive;
    }
    const struct {
        DWORD status;
        ServerState to;
    } service[] = {
        {SERVICE_STOPPED, Stopped},           {SERVICE_START_PENDING, StartPending},
        {SERVICE_STOP_PENDING, StopPending},  {SERVICE_RUNNING, Running},
        {SERVICE_CONTINUE_PENDING, StartPending}, {SERVICE_PAUSE_PENDING, StartPending},
        {SERVICE_PAUSED, StartPending},       {0, StopPending},
        {8, StopPending},
    };
    for (const auto& row : service)
        EXPECT_EQ(SettleServiceState(StopPending, row.status), row.to) << "status " << row.status;
}

namespace {

// Dispatches only the monitor's requests for a pass and the sink's
// notifications, never the monitor's timer: what happens then is the work
// of the waits on the processes and of the requests of start and stop.
bool PumpWakesUntil(HWND sink, const std::function<bool()>& cond, DWORD timeoutMs = 5000)
{
    DWORD start = GetTickCount();
    while (!cond() && GetTickCount() - start < timeoutMs) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_POSTMESSAGE);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, WM_APP, WM_APP, PM_REMOVE) ||
               PeekMessageA(&msg, sink, 0xC000, 0xFFFF, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    return cond();
}

}  // namespace

TEST_F(StateTableTest, StartAndEndSeenAtOnceWithoutTheTimer)
{
    TestServer* server = makeServer(UniqueName("TvAtOnce").c_str());
    ASSERT_EQ(server->start(), 0u);
    EXPECT_TRUE(PumpWakesUntil(sink.hwnd(), [&] { return server->state() == Running; }))
        << "state " << server->state();
    // The message loop's wait sees the end and runs the pass at once.
    ASSERT_TRUE(KillProcess(server->pid()));
    EXPECT_TRUE(WaitForMessageOrServerEnd(5000));
    EXPECT_EQ(server->state(), Stopped);
    EXPECT_FALSE(server->processHandle());
    EXPECT_TRUE(PumpWakesUntil(sink.hwnd(), [&] { return sink.count(server->messageId(), UnexpectedEnd) == 1; }));
    // Every change was told as it happened, old and new state together.
    std::vector<LPARAM> told;
    for (const Note& note : sink.changes)
        told.push_back(note.lParam);
    EXPECT_EQ(told, (std::vector<LPARAM>{MAKELPARAM(Stopped, StartPending), MAKELPARAM(StartPending, Running),
                                          MAKELPARAM(Running, Stopped)}));
}

TEST_F(StateTableTest, EndedProcessIsGoneWhateverItsIdNowNames)
{
    // The id of an ended server may name another process later; the
    // driver's handle tells the truth. The record is given the id of a
    // process that lives (the test's own) after its program has ended.
    TestServer* server = makeServer(UniqueName("TvReused").c_str());
    startRunning(server);
    HANDLE process = server->processHandle();
    ASSERT_TRUE(process != nullptr);
    SetEvent(server->stopEvent);
    ASSERT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0);
    server->takeOverId(GetCurrentProcessId());
    EXPECT_TRUE(ProcessAlive(server->pid()));
    EXPECT_TRUE(pumpUntilState(server, Stopped)) << "state " << server->state();
    EXPECT_EQ(sink.count(server->messageId(), UnexpectedEnd), 1u);
}
