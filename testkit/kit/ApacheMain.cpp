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
// Run as httpd.exe it is Apache 2.x: the server root is the folder above
// its bin\ folder (conf\httpd.conf, logs\ there); the server runs in its
// console when started without -k ("httpd [-D NAME]"), while "-k start"
// starts the installed service, as 2.x does; the configuration is checked
// by 2.x's rule (Port and the other directives 2.x dropped are refused)
// and it listens on the port of the first Listen line only; the service
// commands take "-n NAME" and name the service "Apache2.4" without it.
//
// Messages end lines with "\r\n". A wrong argument: usage text, exit 1.
#include "ApacheHttp.h"

#include <cstdio>
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

    DWORD pid = GetCurrentProcessId();
    HANDLE shutdownEvent = CreateEventA(nullptr, TRUE, FALSE, EventName(pid, "shutdown").c_str());
    HANDLE restartEvent = CreateEventA(nullptr, FALSE, FALSE, EventName(pid, "restart").c_str());
    if (!shutdownEvent || !restartEvent) {
        DWORD code = GetLastError();
        kit::PrintErr("%s: cannot create the events of pid %lu: %s (%lu)\n", kit::ProgramName().c_str(), pid,
                      kit::SystemMessage(code).c_str(), code);
        return 1;
    }

    CreateDirectoryA(LogsDir().c_str(), nullptr);
    kit::HttpServer http(LogsDir());
    if (!StartServing(&http)) {
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

    if (stopEvent)
        kit::ServiceReady();
    else
        kit::EndOnConsoleClose(shutdownEvent);
    kit::PrintOut("%s (Win32) stand-in running (pid %lu)...\n", Version(), pid);

    DWORD result = 0;
    HANDLE waits[3] = {shutdownEvent, restartEvent, stopEvent};
    for (;;) {
        DWORD which = WaitForMultipleObjects(stopEvent ? 3 : 2, waits, FALSE, INFINITE);
        if (which != WAIT_OBJECT_0 + 1)
            break;
        if (kit::CheckApacheConfig(ConfPath(), &error, Apache2())) {
            kit::PrintOut("Restarting: configuration re-read.\n");
            kit::Record(kitrecord::kEventRestart);
            kit::WriteErrorLog(LogsDir(), "notice", "Parent: Received restart signal -- Restarting the server.");
            http.stop();
            if (!StartServing(&http)) {
                result = 1;
                break;
            }
        } else {
            kit::PrintErr("%sRestart refused; the previous configuration stays in use.\n", error.c_str());
            kit::Record(kitrecord::kEventRestartFailed);
        }
    }

    http.stop();
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

// Apache 2.x's "-k start": the installed service is started.
int StartService(const char* name)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, name, SERVICE_START) : nullptr;
    DWORD code = service && StartServiceA(service, 0, nullptr) ? 0 : GetLastError();
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);
    if (code == ERROR_SERVICE_DOES_NOT_EXIST) {
        kit::PrintErr("(OS %lu)%s  : AH00369: No installed service named \"%s\".\n", code,
                      kit::SystemMessage(code).c_str(), name);
        return 1;
    }
    if (code) {
        kit::PrintErr("(OS %lu)%s  : AH00373: %s: Failed to start the service process.\n", code,
                      kit::SystemMessage(code).c_str(), name);
        return 1;
    }
    kit::PrintErr("The '%s' service is running.\n", name);
    return 0;
}

int Usage(const char* problem)
{
    std::string name = kit::ProgramName();
    const char* start = Apache2() ? "[-D name]" : "-k start [-D name]";
    const char* control = Apache2() ? "-k start | -k shutdown | -k stop | -k restart" : "-k shutdown | -k stop | -k restart";
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
    if (!strcmp(command, "start"))
        return Apache2() ? StartService(serviceName) : (int)Serve(nullptr);
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
