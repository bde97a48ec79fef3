// Stand-in for the kit's MySQL server; built as mysqld-nt.exe, mysqld.exe,
// mysqld-opt.exe and mysqld-shareware.exe from this one source.
//
//   mysqld [--basedir=DIR] [--any-option[=value] | -x ...]
//       Runs until the named event "MySqlShutdown" is signalled (or the
//       console is closed / Ctrl+C). The server creates that event,
//       manual-reset and not signalled; a second server finds it existing
//       and refuses to start, as a real server finds its port taken.
//       mysqld.exe, the name MySQL 5.1 and later ship, also creates the
//       event those servers end on, "mysqld<pid>_shutdown" with its own
//       process id, and records "pid-shutdown" before its end when that
//       event ended it. The
//       arguments are not interpreted beyond checking their form (every
//       argument is an option starting with '-'); the record line keeps
//       the whole command line.
//   mysqld --install [MySql]  registers the service "MySql" running this
//                        program (a server name other than MySql is refused)
//   mysqld --remove [MySql]   removes it (stopping it first)
//   mysqld --run-service what the service's image path runs: the same
//                        server under the service control manager; it ends
//                        on the stop control or on "MySqlShutdown".
//
// For tests of a stop that does not end: a file mysqld.stubborn beside the
// program makes a server that is not a service ignore its shutdown events
// (it ends only when its process is ended).
//
// Exit code 0 after a normal end, 1 for a wrong argument or a failure.
#include <windows.h>

#include <cstring>

#include "KitCommon.h"
#include "KitService.h"
#include "record.h"

namespace {

const char kServiceName[] = "MySql";
const char kShutdownEventName[] = "MySqlShutdown";

// The event MySQL 5.1 and later end on: only mysqld.exe creates it.
HANDLE CreatePidEvent()
{
    if (_stricmp(kit::ProgramName().c_str(), "mysqld.exe") != 0)
        return nullptr;
    char name[40];
    snprintf(name, sizeof name, "mysqld%lu_shutdown", GetCurrentProcessId());
    return CreateEventA(nullptr, TRUE, FALSE, name);
}

// Runs one server until MySqlShutdown or stopEvent (may be null) is
// signalled. Returns 0 after a normal end, 1 when it could not start.
DWORD Serve(HANDLE stopEvent)
{
    // Made first: a caller that sees MySqlShutdown finds it too.
    HANDLE pidEvent = CreatePidEvent();
    HANDLE shutdownEvent = CreateEventA(nullptr, TRUE, FALSE, kShutdownEventName);
    if (!shutdownEvent || GetLastError() == ERROR_ALREADY_EXISTS) {
        DWORD error = shutdownEvent ? ERROR_ALREADY_EXISTS : GetLastError();
        if (error == ERROR_ALREADY_EXISTS)
            kit::PrintErr("%s: Can't start server: another mysqld is already running (the event %s exists)\n",
                          kit::ProgramName().c_str(), kShutdownEventName);
        else
            kit::PrintErr("%s: Can't create the event %s: %s (%lu)\n", kit::ProgramName().c_str(),
                          kShutdownEventName, kit::SystemMessage(error).c_str(), error);
        if (shutdownEvent)
            CloseHandle(shutdownEvent);
        if (pidEvent)
            CloseHandle(pidEvent);
        return 1;
    }
    if (stopEvent)
        kit::ServiceReady();
    else
        kit::EndOnConsoleClose(shutdownEvent);
    kit::PrintOut("%s: ready for connections (pid %lu)\n", kit::ProgramName().c_str(), GetCurrentProcessId());

    if (!stopEvent && GetFileAttributesA((kit::ProgramDir() + "mysqld.stubborn").c_str()) != INVALID_FILE_ATTRIBUTES)
        WaitForSingleObject(GetCurrentProcess(), INFINITE);
    HANDLE waits[3] = {shutdownEvent, stopEvent ? stopEvent : pidEvent, pidEvent};
    DWORD count = 1 + (stopEvent != nullptr) + (pidEvent != nullptr);
    DWORD which = WaitForMultipleObjects(count, waits, FALSE, INFINITE);
    if (pidEvent && which < count && waits[which] == pidEvent)
        kit::Record(kitrecord::kEventPidShutdown);
    if (pidEvent)
        CloseHandle(pidEvent);

    kit::PrintOut("%s: Shutdown complete\n", kit::ProgramName().c_str());
    kit::Record(kitrecord::kEventEnd);
    kit::EndOnConsoleClose(nullptr);
    CloseHandle(shutdownEvent);
    return 0;
}

int Usage(const char* problem)
{
    kit::PrintErr("%s: %s\n"
                  "Usage: %s [--basedir=DIR] [--option[=value] ...]\n"
                  "       %s --install | --remove\n",
                  kit::ProgramName().c_str(), problem, kit::ProgramName().c_str(), kit::ProgramName().c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    kit::Record(kitrecord::kEventRun);

    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        bool service = !strcmp(arg, "--install") || !strcmp(arg, "--remove") || !strcmp(arg, "--run-service");
        // "--install MySql": the service's name after the switch.
        bool named = (argc == 3 && i == 1 && (!strcmp(arg, "--install") || !strcmp(arg, "--remove")));
        if (named) {
            if (strcmp(argv[2], kServiceName) != 0) {
                char problem[300];
                snprintf(problem, sizeof problem, "service name '%s' is not %s", argv[2], kServiceName);
                return Usage(problem);
            }
            break;
        }
        if (service && argc != 2) {
            char problem[300];
            snprintf(problem, sizeof problem, "'%s' must be the only argument", arg);
            return Usage(problem);
        }
        if (arg[0] != '-' || arg[1] == '\0' || !strcmp(arg, "--")) {
            char problem[300];
            snprintf(problem, sizeof problem, "Too many arguments (first extra is '%s').", arg);
            return Usage(problem);
        }
        if (!strcmp(arg, "--basedir") || !strcmp(arg, "--basedir=")) {
            return Usage("option '--basedir' requires an argument (--basedir=DIR)");
        }
    }

    if (argc == 3)
        argc = 2;  // the service name, checked above
    if (argc == 2 && !strcmp(argv[1], "--install")) {
        std::string image = "\"" + kit::ProgramPath() + "\" --run-service";
        return kit::InstallService(kServiceName, image);
    }
    if (argc == 2 && !strcmp(argv[1], "--remove"))
        return kit::RemoveService(kServiceName);
    if (argc == 2 && !strcmp(argv[1], "--run-service"))
        return kit::RunAsService(kServiceName, Serve);

    return (int)Serve(nullptr);
}
