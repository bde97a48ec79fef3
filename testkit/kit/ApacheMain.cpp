// Stand-in for the kit's apache.exe. Paths are relative to the program's
// folder, as Apache's server root: conf\httpd.conf and logs\httpd.pid.
//
//   apache -k start [-D NAME ...]
//       Checks the configuration (an invalid one is reported and the start
//       refused, exit 1), refuses to start while the pid file names a live
//       instance ("httpd (pid N) already running", exit 1), then creates the
//       events "ap<pid>_shutdown" and "ap<pid>_restart", listens on the
//       port of httpd.conf (ApacheHttp.h; a port it cannot bind ends it
//       with exit 1, the error in logs\error.log), writes its pid to
//       logs\httpd.pid and serves until the shutdown event is signalled (or
//       its console is closed / Ctrl+C). A restart re-checks the
//       configuration and records "restart" ("restart-failed", keeping the
//       old configuration, when it is invalid); the process keeps running,
//       serving what the configuration now says on the port it now names
//       (a port it cannot bind ends it, exit 1).
//   apache -k shutdown | -k stop | -k restart
//       Reads logs\httpd.pid and signals that instance's event; shutdown
//       waits up to 10 s for the instance to end. No pid file or no live
//       instance: a message and exit 1.
//   apache -t [-D NAME ...]
//       Checks conf\httpd.conf (rule in ApacheConf.h) and writes
//       "Syntax OK" or the error text to the error output; exit 0 or 1.
//       A line "# testkit: check-delay MS" in it makes the test slow.
//   apache -k install | -k uninstall
//       Registers / removes the service "Apache" whose image path is
//       "<this program>" -k runservice.
//   apache -k runservice
//       The service: the same server as -k start under the service control
//       manager; it also ends on the shutdown event.
//
// Run as httpd.exe it is Apache 2.x, following the rules of Apache 2.4's
// Windows server (server/mpm/winnt/mpm_winnt.c): the server root is the
// folder above its bin\ folder (conf\httpd.conf, logs\ there); the
// configuration is checked by 2.x's rule (Port and the other directives
// 2.x dropped are refused) and it listens on the port of the first Listen
// line only.
//   httpd [-D NAME]
//       The server in its console: this process is the parent and a child
//       (the same program, environment AP_PARENT_PID) serves. The parent
//       makes the auto-reset events "ap<pid>_shutdown" and "ap<pid>_restart",
//       writes logs\httpd.pid and waits; setting the first stops both
//       processes, the second starts a new child on the configuration read
//       again. Ctrl+C / Ctrl+Break stop it too.
//   httpd -k install | -k runservice [-n NAME]
//       Registers the service NAME ("Apache2.4" without -n) / runs as it.
//   httpd -k start | stop | shutdown | restart | uninstall | config [-n NAME]
//       Every other -k is about the installed service NAME, whoever
//       installed it: without it, "No installed service named ..." and
//       exit 2; stop and shutdown stop it, restart sends it Apache's
//       restart control, start starts it, uninstall removes it.
//
// Messages end lines with "\r\n". A wrong argument: usage text, exit 1.
#include "ApacheHttp.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ApacheConf.h"
#include "KitCommon.h"
#include "KitService.h"
#include "record.h"

namespace {

// Run as httpd.exe: Apache 2.x's personality.
bool Apache2()
{
    return !_stricmp(kit::ProgramName().c_str(), "httpd.exe");
}

// Apache 1.3's own folder; for 2.x the folder above bin\.
std::string ServerRoot()
{
    std::string dir = kit::ProgramDir();
    if (Apache2() && dir.size() > 4 && !_stricmp(dir.substr(dir.size() - 4).c_str(), "bin\\"))
        dir.erase(dir.size() - 4);
    return dir;
}

const char* DefaultServiceName()
{
    return Apache2() ? "Apache2.4" : "Apache";
}

const char* Version()
{
    return Apache2() ? "Apache/2.4" : "Apache/1.3";
}

std::string ConfPath()
{
    return ServerRoot() + "conf\\httpd.conf";
}

std::string LogsDir()
{
    return ServerRoot() + "logs\\";
}

std::string PidPath()
{
    return LogsDir() + "httpd.pid";
}

std::string EventName(DWORD pid, const char* kind)
{
    char name[64];
    snprintf(name, sizeof name, "ap%lu_%s", pid, kind);
    return name;
}

// The pid in logs\httpd.pid; 0 when there is no readable pid.
DWORD ReadPidFile()
{
    std::string text;
    if (!kit::ReadWholeFile(PidPath(), &text, 64))
        return 0;
    char* end = nullptr;
    unsigned long pid = strtoul(text.c_str(), &end, 10);
    if (end == text.c_str())
        return 0;
    return pid;
}

// A live instance holds its shutdown event; the event vanishes with it, so
// a stale pid file (crash, reused pid) never counts.
bool InstanceRuns(DWORD pid)
{
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, EventName(pid, "shutdown").c_str());
    if (!event)
        return false;
    CloseHandle(event);
    return true;
}

// Reads what to serve from httpd.conf and starts serving it. False, with
// the error reported, when the file cannot be read or the port be bound.
bool StartServing(kit::HttpServer* http)
{
    kit::ApacheSite site;
    if (!kit::ReadApacheSite(ConfPath(), ServerRoot(), &site, Apache2())) {
        DWORD code = GetLastError();
        kit::PrintErr("%s: could not open document config file %s: %s\n", kit::ProgramName().c_str(),
                      kit::Slashed(ConfPath()).c_str(), kit::SystemMessage(code).c_str());
        return false;
    }
    if (!http->start(site))
        return false;
    kit::WriteErrorLog(LogsDir(), "notice",
                       std::string(Version()) + " (Win32) stand-in configured -- resuming normal operations");
    // As Apache: a missing document root is only a warning.
    DWORD attributes = GetFileAttributesA(site.documentRoot.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::string warning = "Warning: DocumentRoot [" + kit::Slashed(site.documentRoot) + "] does not exist";
        kit::PrintErr("%s\n", warning.c_str());
        kit::WriteErrorLog(LogsDir(), "warn", warning);
    }
    return true;
}

// What serves: 1.3 serves in its own process; 2.x's parent has a child
// serve (mpm_winnt.c, create_process: the same program and command line,
// AP_PARENT_PID in its environment). The real parent hands its child the
// child's exit event through the child's standard input; the stand-in
// hands down the one handle it needs and names it in the environment.
class Instance {
public:
    Instance() : http_(LogsDir()), child_(nullptr), exit_(nullptr) {}
    ~Instance() { stop(); }

    bool start()
    {
        if (!Apache2())
            return StartServing(&http_);
        SECURITY_ATTRIBUTES handedDown = {sizeof handedDown, nullptr, TRUE};
        exit_ = CreateEventA(&handedDown, TRUE, FALSE, nullptr);
        char value[32];
        snprintf(value, sizeof value, "%lu", GetCurrentProcessId());
        SetEnvironmentVariableA("AP_PARENT_PID", value);
        snprintf(value, sizeof value, "%llu", (unsigned long long)(ULONG_PTR)exit_);
        SetEnvironmentVariableA("TVKIT_CHILD_EXIT", value);
        std::string line = GetCommandLineA();
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION created = {};
        BOOL made = exit_ && CreateProcessA(kit::ProgramPath().c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                                            nullptr, &startup, &created);
        DWORD code = GetLastError();
        SetEnvironmentVariableA("AP_PARENT_PID", nullptr);
        SetEnvironmentVariableA("TVKIT_CHILD_EXIT", nullptr);
        if (!made) {
            kit::PrintErr("%s: cannot create the child process: %s (%lu)\n", kit::ProgramName().c_str(),
                          kit::SystemMessage(code).c_str(), code);
            return false;
        }
        CloseHandle(created.hThread);
        child_ = created.hProcess;
        return true;
    }

    // The child is told to end and waited for (mpm_winnt.c, master_main:
    // the parent sets its child's exit event and waits for it).
    void stop()
    {
        http_.stop();
        if (child_) {
            SetEvent(exit_);
            if (WaitForSingleObject(child_, 30000) != WAIT_OBJECT_0)
                TerminateProcess(child_, 1);
            CloseHandle(child_);
            child_ = nullptr;
        }
        if (exit_)
            CloseHandle(exit_);
        exit_ = nullptr;
    }

    // 2.x: the serving child's process (null for 1.3).
    HANDLE child() const { return child_; }

private:
    kit::HttpServer http_;
    HANDLE child_;
    HANDLE exit_;
};

// 2.x's child (AP_PARENT_PID set): serves until its parent sets its exit
// event. The console's Ctrl+C is the parent's to act on (the real child
// ignores it too). A port it cannot serve on ends it with 3, as the real
// child's APEXIT_CHILDINIT.
int ChildMain()
{
    SetConsoleCtrlHandler(nullptr, TRUE);
    const char* named = getenv("TVKIT_CHILD_EXIT");
    HANDLE exitEvent = named ? (HANDLE)(ULONG_PTR)strtoull(named, nullptr, 10) : nullptr;
    if (!exitEvent)
        return 3;
    kit::HttpServer http(LogsDir());
    if (!StartServing(&http))
        return 3;
    WaitForSingleObject(exitEvent, INFINITE);
    http.stop();
    return 0;
}

// Runs one instance until it is told to end; stopEvent (the service's stop
// control) may be null. Returns 0 after a normal end, 1 when it could not
// start or could not listen after a restart.
DWORD Serve(HANDLE stopEvent)
{
    std::string error;
    if (!kit::CheckApacheConfig(ConfPath(), &error, Apache2())) {
        kit::PrintErr("%s", error.c_str());
        return 1;
    }
    DWORD other = ReadPidFile();
    if (other && InstanceRuns(other)) {
        kit::PrintErr("httpd (pid %lu) already running\n", other);
        return 1;
    }

    // A slow configuration (the check-delay line) holds the parent up
    // before it makes its events, as reading a long one would.
    if (Apache2())
        Sleep(kit::CheckDelayMs(ConfPath()));
    DWORD pid = GetCurrentProcessId();
    // 2.x: winnt_post_config makes both events auto-reset (setting one
    // wakes the parent once); 1.3's shutdown event stays set.
    HANDLE shutdownEvent = CreateEventA(nullptr, !Apache2(), FALSE, EventName(pid, "shutdown").c_str());
    HANDLE restartEvent = CreateEventA(nullptr, FALSE, FALSE, EventName(pid, "restart").c_str());
    if (!shutdownEvent || !restartEvent) {
        DWORD code = GetLastError();
        kit::PrintErr("%s: cannot create the events of pid %lu: %s (%lu)\n", kit::ProgramName().c_str(), pid,
                      kit::SystemMessage(code).c_str(), code);
        return 1;
    }

    CreateDirectoryA(LogsDir().c_str(), nullptr);
    Instance server;
    if (!server.start()) {
        CloseHandle(shutdownEvent);
        CloseHandle(restartEvent);
        return 1;
    }
    char pidText[32];
    int pidLen = snprintf(pidText, sizeof pidText, "%lu\r\n", pid);
    HANDLE pidFile = CreateFileA(PidPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    bool pidOk = pidFile != INVALID_HANDLE_VALUE && WriteFile(pidFile, pidText, pidLen, &written, nullptr) &&
                 written == (DWORD)pidLen;
    DWORD code = GetLastError();
    if (pidFile != INVALID_HANDLE_VALUE)
        CloseHandle(pidFile);
    if (!pidOk) {
        kit::PrintErr("%s: cannot write the pid file %s: %s (%lu)\n", kit::ProgramName().c_str(),
                      PidPath().c_str(), kit::SystemMessage(code).c_str(), code);
        CloseHandle(shutdownEvent);
        CloseHandle(restartEvent);
        return 1;
    }

    if (stopEvent) {
        kit::OnServiceRestart(restartEvent);
        kit::ServiceReady();
    } else
        kit::EndOnConsoleClose(shutdownEvent);
    kit::PrintOut("%s (Win32) stand-in running (pid %lu)...\n", Version(), pid);

    // For tests of a stop that does not end: a file apache.stubborn or
    // httpd.stubborn beside the program makes a server in its console
    // ignore its events (it ends only when its processes are ended).
    std::string stubborn = kit::ProgramDir() + (Apache2() ? "httpd.stubborn" : "apache.stubborn");
    if (!stopEvent && GetFileAttributesA(stubborn.c_str()) != INVALID_FILE_ATTRIBUTES)
        WaitForSingleObject(GetCurrentProcess(), INFINITE);

    DWORD result = 0;
    for (;;) {
        // 2.x's parent also watches its child: one that ends by itself
        // ends the stand-in with 1 (the real parent starts a new child
        // unless the child failed at its start).
        HANDLE waits[4] = {shutdownEvent, restartEvent};
        DWORD count = 2;
        DWORD childAt = 0;
        if (server.child()) {
            childAt = count;
            waits[count++] = server.child();
        }
        if (stopEvent)
            waits[count++] = stopEvent;
        DWORD which = WaitForMultipleObjects(count, waits, FALSE, INFINITE);
        if (childAt && which == WAIT_OBJECT_0 + childAt) {
            kit::PrintErr("%s: the child process ended\n", kit::ProgramName().c_str());
            result = 1;
            break;
        }
        if (which != WAIT_OBJECT_0 + 1)
            break;
        if (kit::CheckApacheConfig(ConfPath(), &error, Apache2())) {
            kit::PrintOut("Restarting: configuration re-read.\n");
            kit::Record(kitrecord::kEventRestart);
            kit::WriteErrorLog(LogsDir(), "notice", "Parent: Received restart signal -- Restarting the server.");
            server.stop();
            if (!server.start()) {
                result = 1;
                break;
            }
        } else {
            kit::PrintErr("%sRestart refused; the previous configuration stays in use.\n", error.c_str());
            kit::Record(kitrecord::kEventRestartFailed);
        }
    }

    server.stop();
    if (stopEvent)
        kit::OnServiceRestart(nullptr);
    if (result == 0)
        kit::WriteErrorLog(LogsDir(), "notice", "Parent: Received shutdown signal -- Shutting down the server.");
    kit::PrintOut("Apache shut down.\n");
    if (ReadPidFile() == pid)
        DeleteFileA(PidPath().c_str());
    kit::Record(kitrecord::kEventEnd);
    kit::EndOnConsoleClose(nullptr);
    CloseHandle(restartEvent);
    CloseHandle(shutdownEvent);
    return result;
}

// -k shutdown / -k restart: signal the instance named by the pid file.
int Signal(bool shutdown)
{
    DWORD pid = ReadPidFile();
    if (!pid) {
        kit::PrintErr("%s: no pid in %s: Apache is not running\n", kit::ProgramName().c_str(), PidPath().c_str());
        return 1;
    }
    std::string name = EventName(pid, shutdown ? "shutdown" : "restart");
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str());
    if (!event) {
        kit::PrintErr("%s: Apache (pid %lu) is not running: the event %s does not exist\n",
                      kit::ProgramName().c_str(), pid, name.c_str());
        return 1;
    }
    // Opened before signalling, so the wait below cannot miss the end.
    HANDLE process = shutdown ? OpenProcess(SYNCHRONIZE, FALSE, pid) : nullptr;
    BOOL set = SetEvent(event);
    CloseHandle(event);
    if (!set) {
        DWORD code = GetLastError();
        kit::PrintErr("%s: cannot signal %s: %s (%lu)\n", kit::ProgramName().c_str(), name.c_str(),
                      kit::SystemMessage(code).c_str(), code);
        if (process)
            CloseHandle(process);
        return 1;
    }
    kit::PrintErr("The Apache server (pid %lu) is %s.\n", pid, shutdown ? "shutting down" : "restarting");
    if (process) {
        DWORD wait = WaitForSingleObject(process, 10000);
        CloseHandle(process);
        if (wait != WAIT_OBJECT_0) {
            kit::PrintErr("%s: Apache (pid %lu) did not end within 10 seconds\n", kit::ProgramName().c_str(), pid);
            return 1;
        }
    }
    return 0;
}

// Apache 2.x's -k commands other than install and runservice, about the
// installed service `name` (mpm_winnt.c, winnt_rewrite_args: they go to
// the service whoever installed it, and without it the server says so and
// exits with APEXIT_INIT, 2).
int ControlInstalledService(const char* command, const char* name)
{
    const DWORD rights = SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_USER_DEFINED_CONTROL;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, name, rights) : nullptr;
    if (!service || !strcmp(command, "uninstall") || !strcmp(command, "config")) {
        DWORD code = service ? 0 : GetLastError();
        if (service)
            CloseServiceHandle(service);
        if (manager)
            CloseServiceHandle(manager);
        if (code) {
            kit::PrintErr("(OS %lu)%s  : AH00436: No installed service named \"%s\".\n", code,
                          kit::SystemMessage(code).c_str(), name);
            return 2;
        }
        return !strcmp(command, "uninstall") ? kit::RemoveService(name) : 0;
    }
    SERVICE_STATUS status = {};
    int result = 0;
    if (!strcmp(command, "start")) {
        // service.c, mpm_service_start.
        if (!StartServiceA(service, 0, nullptr)) {
            DWORD code = GetLastError();
            kit::PrintErr("(OS %lu)%s  : AH00373: %s: Failed to start the service process.\n", code,
                          kit::SystemMessage(code).c_str(), name);
            result = 1;
        } else {
            kit::PrintErr("The '%s' service is running.\n", name);
        }
    } else if (!strcmp(command, "restart")) {
        // service.c, mpm_signal_service: a running service gets the
        // restart control (128).
        if (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING &&
            ControlService(service, 128, &status)) {
            kit::PrintErr("The '%s' service is restarting.\n", name);
        } else {
            kit::PrintErr("The '%s' service is not started.\n", name);
            result = 1;
        }
    } else {
        // stop and shutdown: the service is stopped and awaited.
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        DWORD begun = GetTickCount();
        while (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED &&
               GetTickCount() - begun < 30000)
            Sleep(100);
        bool stopped = status.dwCurrentState == SERVICE_STOPPED;
        kit::PrintErr(stopped ? "The '%s' service has stopped.\n" : "The '%s' service did not stop.\n", name);
        result = stopped ? 0 : 1;
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}

int Usage(const char* problem)
{
    std::string name = kit::ProgramName();
    const char* start = Apache2() ? "[-D name]" : "-k start [-D name]";
    const char* control = Apache2() ? "-k start | -k shutdown | -k stop | -k restart [-n service]"
                                    : "-k shutdown | -k stop | -k restart";
    kit::PrintErr("%s: %s\n"
                  "Usage: %s %s\n"
                  "       %s %s\n"
                  "       %s -k install | -k uninstall [-n service]\n"
                  "       %s -t [-D name]\n",
                  name.c_str(), problem, name.c_str(), start, name.c_str(), control, name.c_str(), name.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (Apache2() && getenv("AP_PARENT_PID"))
        return ChildMain();
    kit::Record(kitrecord::kEventRun);

    const char* command = nullptr;  // the -k word, or "-t"
    const char* serviceName = DefaultServiceName();
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!strcmp(arg, "-k") || !strcmp(arg, "-D") || !strcmp(arg, "-n")) {
            if (i + 1 >= argc) {
                char problem[64];
                snprintf(problem, sizeof problem, "option %s requires an argument", arg);
                return Usage(problem);
            }
            if (!strcmp(arg, "-k")) {
                if (command)
                    return Usage("only one -k command or -t at a time");
                command = argv[i + 1];
            }
            if (!strcmp(arg, "-n"))
                serviceName = argv[i + 1];
            ++i;
        } else if (!strcmp(arg, "-t")) {
            if (command)
                return Usage("only one -k command or -t at a time");
            command = "-t";
        } else {
            char problem[300];
            snprintf(problem, sizeof problem, "illegal option '%s'", arg);
            return Usage(problem);
        }
    }
    // Apache 2.x runs in its console without a command.
    if (!command && Apache2())
        return (int)Serve(nullptr);
    if (!command)
        return Usage("no command given (-k start, -k shutdown, -t ...)");

    if (!strcmp(command, "-t")) {
        Sleep(kit::CheckDelayMs(ConfPath()));
        std::string error;
        if (!kit::CheckApacheConfig(ConfPath(), &error, Apache2())) {
            kit::PrintErr("%s", error.c_str());
            return 1;
        }
        kit::PrintErr("Syntax OK\n");
        return 0;
    }
    bool known = !strcmp(command, "start") || !strcmp(command, "stop") || !strcmp(command, "shutdown") ||
                 !strcmp(command, "restart") || !strcmp(command, "uninstall") || !strcmp(command, "config");
    if (Apache2() && known)
        return ControlInstalledService(command, serviceName);
    if (!strcmp(command, "start"))
        return (int)Serve(nullptr);
    if (!strcmp(command, "shutdown") || !strcmp(command, "stop"))
        return Signal(true);
    if (!strcmp(command, "restart"))
        return Signal(false);
    // The image path names the service, so that the service's process
    // knows which one it is.
    if (!strcmp(command, "install"))
        return kit::InstallService(serviceName, "\"" + kit::ProgramPath() + "\" -k runservice" +
                                                    (strcmp(serviceName, DefaultServiceName())
                                                         ? std::string(" -n \"") + serviceName + "\""
                                                         : std::string()));
    if (!strcmp(command, "uninstall"))
        return kit::RemoveService(serviceName);
    if (!strcmp(command, "runservice"))
        return kit::RunAsService(serviceName, Serve);

    char problem[300];
    snprintf(problem, sizeof problem, "unknown -k command '%s'", command);
    return Usage(problem);
}
