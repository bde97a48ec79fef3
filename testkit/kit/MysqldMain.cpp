// Stand-in for the kit's MySQL server; built as mysqld-nt.exe, mysqld.exe,
// mysqld-opt.exe and mysqld-shareware.exe from this one source.
//
//   mysqld [--basedir=DIR] [--any-option[=value] | -x ...]
//       Runs until it is asked to shut down (or the console is closed /
//       Ctrl+C), as a real server of its age is asked without a client:
//         3.23 (mysqld-opt.exe, mysqld-shareware.exe): the event
//              "MySqlShutdown" (sql/mysqld.cc of 3.23 creates it by that
//              fixed name);
//         4.1 to 5.7 (mysqld-nt.exe): "MySQLShutdown<pid>", pid its own id
//              in decimal (sql/mysqld.cc of 4.1 to 5.7; MariaDB alike;
//              seen on 5.7.30);
//         8.0.17 and later (mysqld.exe): "mysqld<pid>_shutdown", made by
//              the process that was started, the monitor (seen on 8.0.29;
//              the names above do not exist there).
//       A file mysqld.version beside the program ("3.23", "5.7", "8.0")
//       sets the age whatever the name. A client's shutdown command
//       (mysqladmin) reaches it through its port, the event
//       kitrecord::kMysqldPortEvent; a second server finds the port taken
//       and refuses to start. What ended it is recorded (record.h). The
//       arguments are not interpreted beyond checking their form (every
//       argument is an option starting with '-'); the record line keeps
//       the whole command line.
//   mysqld --install [MySql]  registers the service "MySql" running this
//                        program (a server name other than MySql is refused)
//   mysqld --remove [MySql]   removes it (stopping it first)
//   mysqld --run-service what the service's image path runs: the same
//                        server under the service control manager; it ends
//                        on the stop control or as above.
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

// The age of the server this build stands for (see the top).
enum Age { Age323, Age41To57, Age80 };

Age ServerAge()
{
    std::string version;
    if (kit::ReadWholeFile(kit::ProgramDir() + "mysqld.version", &version, 32))
        return version.compare(0, 2, "8.") == 0 ? Age80 : version.compare(0, 2, "3.") == 0 ? Age323 : Age41To57;
    std::string name = kit::ProgramName();
    if (!_stricmp(name.c_str(), "mysqld.exe"))
        return Age80;
    return !_stricmp(name.c_str(), "mysqld-nt.exe") ? Age41To57 : Age323;
}

// The shutdown event of that age, and the record of an end through it.
void ShutdownEventOf(Age age, char* name, int size, const char** recordEvent)
{
    unsigned long pid = GetCurrentProcessId();
    if (age == Age80) {
        snprintf(name, size, "mysqld%lu_shutdown", pid);
        *recordEvent = kitrecord::kEventPidShutdown;
    } else if (age == Age41To57) {
        snprintf(name, size, "MySQLShutdown%lu", pid);
        *recordEvent = kitrecord::kEventOldPidShutdown;
    } else {
        snprintf(name, size, "MySqlShutdown");
        *recordEvent = kitrecord::kEventNamedShutdown;
    }
}

// Runs one server until its shutdown event, a client's shutdown or
// stopEvent (may be null) is signalled. Returns 0 after a normal end, 1
// when it could not start.
DWORD Serve(HANDLE stopEvent)
{
    char eventName[40];
    const char* endRecord = nullptr;
    ShutdownEventOf(ServerAge(), eventName, sizeof eventName, &endRecord);
    // The port first, as a real server binds it before it is ready.
    HANDLE port = CreateEventA(nullptr, TRUE, FALSE, kitrecord::kMysqldPortEvent);
    if (!port || GetLastError() == ERROR_ALREADY_EXISTS) {
        DWORD error = port ? ERROR_ALREADY_EXISTS : GetLastError();
        if (error == ERROR_ALREADY_EXISTS)
            kit::PrintErr("%s: Can't start server: Bind on TCP/IP port: another mysqld is already running\n",
                          kit::ProgramName().c_str());
        else
            kit::PrintErr("%s: Can't create the event %s: %s (%lu)\n", kit::ProgramName().c_str(),
                          kitrecord::kMysqldPortEvent, kit::SystemMessage(error).c_str(), error);
        if (port)
            CloseHandle(port);
        return 1;
    }
    HANDLE shutdownEvent = CreateEventA(nullptr, TRUE, FALSE, eventName);
    if (stopEvent)
        kit::ServiceReady();
    else
        kit::EndOnConsoleClose(port);
    kit::PrintOut("%s: ready for connections (pid %lu)\n", kit::ProgramName().c_str(), GetCurrentProcessId());

    if (!stopEvent && GetFileAttributesA((kit::ProgramDir() + "mysqld.stubborn").c_str()) != INVALID_FILE_ATTRIBUTES)
        WaitForSingleObject(GetCurrentProcess(), INFINITE);
    HANDLE waits[3] = {port, shutdownEvent, stopEvent};
    DWORD count = 2 + (stopEvent != nullptr);
    DWORD which = WaitForMultipleObjects(count, waits, FALSE, INFINITE);
    if (which == WAIT_OBJECT_0)
        kit::Record(kitrecord::kEventClientShutdown);
    else if (which == WAIT_OBJECT_0 + 1)
        kit::Record(endRecord);
    if (shutdownEvent)
        CloseHandle(shutdownEvent);

    kit::PrintOut("%s: Shutdown complete\n", kit::ProgramName().c_str());
    kit::Record(kitrecord::kEventEnd);
    kit::EndOnConsoleClose(nullptr);
    CloseHandle(port);
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
