// Shared pieces of the driver tests: a Server whose program is the idle
// helper, a message-only window that records the drivers' notifications,
// and a fixture that cleans up every process it knows about.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Server.h"
#include "ServerMonitor.h"
#include "ServiceControl.h"
#include "TestKit.h"

namespace drivertest {

// A driver for tests: startProcess launches a real program (by default the
// idle helper waiting on stopEvent), stopProcess signals that event.
class TestServer : public Server {
public:
    // A running program is adopted by the file name "<name>.exe".
    explicit TestServer(const char* name) : Server(name), fileName(std::string(name ? name : "") + ".exe")
    {
        adoptName = fileName.c_str();
        adoptNames_ = &adoptName;
        adoptNameCount_ = 1;
    }

    std::string fileName;
    const char* adoptName;
    std::string commandLine;      // what startProcess launches
    bool asServers = false;       // launch as the drivers do (launchHidden)
    HANDLE stopEvent = nullptr;   // what stopProcess signals (not owned)
    bool checkAnswer = true;      // what checkConfig answers
    DWORD stopCode = 0;           // nonzero: stopProcess fails with it
    bool stopSignals = true;      // false: stopProcess asks nothing of the program
    int checkCalls = 0, startCalls = 0, stopCalls = 0, reloadCalls = 0;
    std::vector<DWORD> launched;  // process ids of the launches
    // Called by checkConfig before it answers (e.g. to show a message box).
    void (*onCheck)(TestServer*) = nullptr;

    bool installService() override { return false; }
    bool uninstallService() override { return false; }
    bool checkConfig() override;
    DWORD startProcess() override;
    DWORD stopProcess() override;
    DWORD reloadConfig() override
    {
        ++reloadCalls;
        return 0;
    }

    DWORD pid() const { return process_.dwProcessId; }
    // Puts another process's id into the record in place of the server's.
    void takeOverId(DWORD pid) { process_.dwProcessId = pid; }
    SC_HANDLE service() const { return service_; }
    FILETIME configTime() const { return configTime_; }
    HWND notifyWindow() const { return notifyWindow_; }
    using Server::closeService;
    using Server::reopenService;
};

struct Note {
    UINT message;
    WPARAM code;
    LPARAM lParam;
};

// A message-only window (HWND_MESSAGE) that keeps every registered message
// (0xC000 and above) it receives, in order of arrival: the reports in
// notes, the StateChanged notices apart in changes.
class NotifySink {
public:
    NotifySink();
    ~NotifySink();
    HWND hwnd() const { return hwnd_; }
    std::vector<Note> notes;
    std::vector<Note> changes;
    size_t count(UINT message, WPARAM code) const;

private:
    static LRESULT CALLBACK proc(HWND, UINT, WPARAM, LPARAM);
    HWND hwnd_;
};

std::string IdleExe();
// A name unique to this test process, e.g. "TvStop_1234_5".
std::string UniqueName(const char* tag);
// Copies a program of the build into dir under another file name.
std::string CopyProgram(const std::string& exe, const std::string& dir, const std::string& fileName);
using testkit::KillProcess;
using testkit::ProcessAlive;
// Time of the file read through a separate handle that shares everything.
FILETIME ReadWriteTime(const std::string& path);
bool SameTime(const FILETIME& a, const FILETIME& b);

// Takes the process's ServiceControl reference and installs the monitor,
// as the manager's start-up does; kills every process and signals every
// event it created; drivers made through makeServer die first.
class DriverTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A driver launching the idle helper with a fresh stop event.
    TestServer* makeServer(const char* name);
    HANDLE makeEvent(std::string* name);
    // Starts a program the tests own (not through a driver); killed at the end.
    DWORD launch(const std::string& cmdLine);
    void forget(TestServer* server);

    bool pumpUntilState(Server* server, ServerState state, DWORD timeoutMs = 5000);

    NotifySink sink;
    std::vector<std::unique_ptr<TestServer>> servers;
    std::vector<HANDLE> events;
    std::vector<HANDLE> processes;
    std::vector<std::string> tempDirs;
};

}  // namespace drivertest
