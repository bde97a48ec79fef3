// Stand-in for the kit's MySQL server; built as mysqld-nt.exe, mysqld.exe,
// mysqld-opt.exe and mysqld-shareware.exe from this one source.
//
//   mysqld [--basedir=DIR] [--any-option[=value] | -x ...]
//       Runs until the named event "MySqlShutdown" is signalled (or the
//       console is closed / Ctrl+C). The server creates that event,
//       manual-reset and not signalled; a second server finds it existing
//       and refuses to start, as a real server finds its port taken. The
//       arguments are not interpreted beyond checking their form (every
//       argument is an option starting with '-'); the record line keeps
//       the whole command line.
//   mysqld --install     registers the service "MySql" running this program
//   mysqld --remove      removes it (stopping it first)
//   mysqld --run-service what the service's image path runs: the same
//                        server under the service control manager; it ends
//                        on the stop control or on "MySqlShutdown".
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

// Runs one server until MySqlShutdown or stopEvent (may be null) is
// signalled. Returns 0 after a normal end, 1 when it could not start.
DWORD Serve(HANDLE stopEvent)
{
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
        return 1;
    }
    if (stopEvent)
        kit::ServiceReady();
    else
        kit::EndOnConsoleClose(shutdownEvent);
    kit::PrintOut("%s: ready for connections (pid %lu)\n", kit::ProgramName().c_str(), GetCurrentProcessId());

    HANDLE waits[2] = {shutdownEvent, stopEvent};
    WaitForMultipleObjects(stopEvent ? 2 : 1, waits, FALSE, INFINITE);

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
