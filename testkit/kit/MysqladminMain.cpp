// Stand-in for the kit's mysqladmin.exe.
//
//   mysqladmin [-u USER | -uUSER | --user=USER] [-p... | --password=...]
//              [-h localhost | --host=localhost] COMMAND ...
//   COMMAND: shutdown  sends the server the shutdown command (signals its
//                      port, kitrecord::kMysqldPortEvent) and waits up to
//                      5 s for the server to end;
//            ping      tells whether a server runs.
//
// Root's password is the text of the file mysqld.password beside the
// program (no file: no password). As the real mysqladmin is refused by the
// server, a wrong password (or none where one is set) gives "Access
// denied" and exit code 1 before any command runs; ping answers "alive"
// even then, as the real one does (mysqladmin.cc: an access error means
// the server runs).
//
// Exit code 0 when every command succeeded; 1 when no server runs, the
// server did not end, access was denied, or an argument is wrong (with a
// message on stderr).
//
// For tests that need a mysqladmin that lingers after its work: a file
// mysqladmin.delay beside the program holding a number of milliseconds
// makes it wait that long before it ends.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "KitCommon.h"
#include "record.h"

namespace {

const char* const kShutdownEventName = kitrecord::kMysqldPortEvent;

int Usage(const char* problem)
{
    kit::PrintErr("%s: %s\n"
                  "Usage: %s [-u USER] [-p[PASSWORD]] [-h localhost] shutdown|ping ...\n",
                  kit::ProgramName().c_str(), problem, kit::ProgramName().c_str());
    return 1;
}

int NoServer()
{
    kit::PrintErr("%s: connect to server at 'localhost' failed\n"
                  "error: 'Can't connect to MySQL server on 'localhost' (10061)'\n"
                  "Check that mysqld is running (no event %s exists).\n",
                  kit::ProgramName().c_str(), kShutdownEventName);
    return 1;
}

bool ServerRuns()
{
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, kShutdownEventName);
    if (!event)
        return false;
    CloseHandle(event);
    return true;
}

int Shutdown()
{
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, kShutdownEventName);
    if (!event)
        return NoServer();
    BOOL set = SetEvent(event);
    CloseHandle(event);
    if (!set) {
        DWORD error = GetLastError();
        kit::PrintErr("%s: cannot signal %s: %s (%lu)\n", kit::ProgramName().c_str(), kShutdownEventName,
                      kit::SystemMessage(error).c_str(), error);
        return 1;
    }
    // The event disappears when the server, its only other holder, ends.
    DWORD start = GetTickCount();
    while (ServerRuns()) {
        if (GetTickCount() - start > 5000) {
            kit::PrintErr("%s: the server did not end within 5 seconds\n", kit::ProgramName().c_str());
            return 1;
        }
        Sleep(50);
    }
    return 0;
}

}  // namespace

// The error the real client prints when the server refuses the login.
int AccessDenied(bool withPassword)
{
    kit::PrintErr("%s: connect to server at 'localhost' failed\n"
                  "error: 'Access denied for user 'root'@'localhost' (using password: %s)'\n",
                  kit::ProgramName().c_str(), withPassword ? "YES" : "NO");
    return 1;
}

static int Run(int argc, char** argv)
{
    std::string password;
    bool passwordGiven = false;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const char* arg = argv[i];
        if (!strcmp(arg, "-u") || !strcmp(arg, "-h")) {
            if (i + 1 >= argc)
                return Usage("option requires an argument");
            if (!strcmp(arg, "-h") && _stricmp(argv[i + 1], "localhost") && strcmp(argv[i + 1], "127.0.0.1"))
                return Usage("only the local server (localhost) can be reached");
            ++i;
        } else if (!strncmp(arg, "-p", 2) || !strncmp(arg, "--password", 10)) {
            // -pTEXT, --password=TEXT; a bare -p would ask on the console,
            // which a hidden run cannot answer: taken as empty.
            const char* value = arg[1] == 'p' ? arg + 2 : strchr(arg, '=') ? strchr(arg, '=') + 1 : "";
            password = value;
            passwordGiven = *value != '\0';
        } else if (!strncmp(arg, "-u", 2) || !strncmp(arg, "--user=", 7)) {
            if (!strcmp(arg, "--user="))
                return Usage("option '--user' requires an argument");
        } else if (!strncmp(arg, "--host=", 7)) {
            if (_stricmp(arg + 7, "localhost") && strcmp(arg + 7, "127.0.0.1"))
                return Usage("only the local server (localhost) can be reached");
        } else {
            char problem[300];
            snprintf(problem, sizeof problem, "unknown option '%s'", arg);
            return Usage(problem);
        }
    }
    if (i >= argc)
        return Usage("no command given");
    for (int k = i; k < argc; ++k) {
        if (strcmp(argv[k], "shutdown") && strcmp(argv[k], "ping")) {
            char problem[300];
            snprintf(problem, sizeof problem, "Unknown command: '%s'", argv[k]);
            return Usage(problem);
        }
    }
    std::string rootPassword;
    kit::ReadWholeFile(kit::ProgramDir() + "mysqld.password", &rootPassword, 256);
    bool denied = ServerRuns() && password != rootPassword;
    for (; i < argc; ++i) {
        if (!strcmp(argv[i], "ping") && denied) {
            kit::PrintOut("mysqld is alive\n");
        } else if (denied) {
            return AccessDenied(passwordGiven);
        } else if (!strcmp(argv[i], "ping")) {
            if (!ServerRuns())
                return NoServer();
            kit::PrintOut("mysqld is alive\n");
        } else if (Shutdown() != 0) {
            return 1;
        }
    }
    return 0;
}

int main(int argc, char** argv)
{
    kit::Record(kitrecord::kEventRun);
    int code = Run(argc, argv);
    std::string delay;
    if (kit::ReadWholeFile(kit::ProgramDir() + "mysqladmin.delay", &delay, 32))
        Sleep(strtoul(delay.c_str(), nullptr, 10));
    return code;
}
