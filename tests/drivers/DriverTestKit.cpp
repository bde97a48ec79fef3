#include "DriverTestKit.h"

#include <stdio.h>

#include "TestKit.h"

namespace drivertest {

bool TestServer::checkConfig()
{
    ++checkCalls;
    if (onCheck)
        onCheck(this);
    return checkAnswer;
}

DWORD TestServer::startProcess()
{
    ++startCalls;
    if (stopEvent)
        ResetEvent(stopEvent);  // left signalled by an earlier stop
    if (asServers) {
        std::string line = commandLine;
        DWORD code = launchHidden(&line[0], nullptr, nullptr, &process_);
        launched.push_back(process_.dwProcessId);
        return code;
    }
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                        &process_))
        return GetLastError();
    launched.push_back(process_.dwProcessId);
    return 0;
}

DWORD TestServer::stopProcess()
{
    ++stopCalls;
    if (stopCode)
        return stopCode;
    if (stopSignals && stopEvent)
        SetEvent(stopEvent);
    return 0;
}

NotifySink::NotifySink()
{
    static ATOM atom;
    if (!atom) {
        WNDCLASSA wc;
        ZeroMemory(&wc, sizeof wc);
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "TvNotifySink";
        atom = RegisterClassA(&wc);
    }
    hwnd_ = CreateWindowExA(0, "TvNotifySink", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr),
                            nullptr);
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

NotifySink::~NotifySink()
{
    DestroyWindow(hwnd_);
}

size_t NotifySink::count(UINT message, WPARAM code) const
{
    size_t n = 0;
    for (const Note& note : notes)
        if (note.message == message && note.code == code)
            ++n;
    return n;
}

LRESULT CALLBACK NotifySink::proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* sink = reinterpret_cast<NotifySink*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (sink && message >= 0xC000 && message <= 0xFFFF) {
        (wParam == StateChanged ? sink->changes : sink->notes).push_back(Note{message, wParam, lParam});
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

std::string IdleExe()
{
    return testkit::BinDir() + "TvIdle.exe";
}

std::string UniqueName(const char* tag)
{
    static unsigned counter;
    char name[96];
    snprintf(name, sizeof name, "%s_%lu_%u", tag, GetCurrentProcessId(), ++counter);
    return name;
}

std::string CopyProgram(const std::string& exe, const std::string& dir, const std::string& fileName)
{
    std::string target = dir + fileName;
    if (!CopyFileA(exe.c_str(), target.c_str(), FALSE))
        return std::string();
    return target;
}

FILETIME ReadWriteTime(const std::string& path)
{
    FILETIME time = {0, 0};
    HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        GetFileTime(file, nullptr, nullptr, &time);
        CloseHandle(file);
    }
    return time;
}

bool SameTime(const FILETIME& a, const FILETIME& b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

void DriverTest::SetUp()
{
    ServiceControl::acquire();
    ASSERT_NE(StartServerMonitor(), 0u) << "SetTimer failed, error " << GetLastError();
    ASSERT_TRUE(sink.hwnd() != nullptr);
}

void DriverTest::TearDown()
{
    std::vector<DWORD> pids;
    for (auto& server : servers)
        pids.insert(pids.end(), server->launched.begin(), server->launched.end());
    servers.clear();
    for (HANDLE event : events) {
        SetEvent(event);
        CloseHandle(event);
    }
    events.clear();
    for (DWORD pid : pids)
        if (ProcessAlive(pid))
            KillProcess(pid);
    for (HANDLE process : processes) {
        if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process, 9);
            WaitForSingleObject(process, 10000);
        }
        CloseHandle(process);
    }
    processes.clear();
    for (const std::string& dir : tempDirs)
        testkit::RemoveTree(dir);
    ServiceControl::release();
}

HANDLE DriverTest::makeEvent(std::string* name)
{
    *name = UniqueName("TvStop");
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, name->c_str());
    events.push_back(event);
    return event;
}

TestServer* DriverTest::makeServer(const char* name)
{
    servers.emplace_back(new TestServer(name));
    TestServer* server = servers.back().get();
    std::string eventName;
    server->stopEvent = makeEvent(&eventName);
    server->commandLine = "\"" + IdleExe() + "\" " + eventName;
    server->setNotifyWindow(sink.hwnd());
    return server;
}

void DriverTest::forget(TestServer* server)
{
    for (auto it = servers.begin(); it != servers.end(); ++it) {
        if (it->get() == server) {
            for (DWORD pid : server->launched)
                if (ProcessAlive(pid))
                    KillProcess(pid);
            servers.erase(it);
            return;
        }
    }
}

DWORD DriverTest::launch(const std::string& cmdLine)
{
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    std::string line = cmdLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return 0;
    CloseHandle(info.hThread);
    processes.push_back(info.hProcess);
    return info.dwProcessId;
}

bool DriverTest::pumpUntilState(Server* server, ServerState state, DWORD timeoutMs)
{
    return testkit::PumpUntil([server, state] { return server->state() == state; }, timeoutMs);
}

}  // namespace drivertest
