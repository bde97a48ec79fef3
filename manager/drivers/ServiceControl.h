// Process-wide access to the service control manager and the process
// snapshot functions (the stateless probes of the system are in System.h).
#pragma once

#include <windows.h>

// What a process search passes over: the programs a driver runs for its
// own purposes (a syntax test, a shutdown tool), which must never be taken
// for the server itself. Either list may be empty (null, count 0).
struct ProcessExclusion {
    // Executable file names without folder ("mysqladmin.exe"), letters
    // a-z compared without case.
    const char* const* names;
    int nameCount;
    // Process ids the driver launched as helpers; a process is passed over
    // when its own id or its parent's id is one of them. Ids of 0 are
    // unused places.
    const DWORD* helpers;
    int helperCount;
};

class ServiceControl {
public:
    // Reference counted: the first acquire opens the service manager and
    // looks up the toolhelp functions, the last release closes them.
    static void acquire();
    static void release();

    // The rights a service is opened with: each operation asks for what
    // it needs, so that a user without administrator rights can still
    // read the status (and, where the service allows it, start and stop).
    enum ServiceAccess {
        ServiceStatus,    // status and configuration: the monitor, checks
        ServiceCommands,  // the above, start and stop
        ServiceAll,       // everything: install (the image path) and remove
    };
    // The service manager is opened to connect only (SC_MANAGER_CONNECT).
    static SC_HANDLE openService(const char* name, ServiceAccess access = ServiceCommands);
    static bool startService(SC_HANDLE service);
    static bool stopService(SC_HANDLE service);
    // The program a service runs (from its image path, without quotes or
    // arguments); false and an empty text when it cannot be read.
    static bool serviceProgram(SC_HANDLE service, char* program, int size);
    // The program at the head of an image path or command line: the text
    // in the quotes it begins with, else up to the ".exe" followed by a
    // blank or the end, else its first word.
    static void imageProgram(const char* image, char* program, int size);

    // A process opened to be waited for and asked about:
    // PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE where the system has
    // that right (Vista and later), PROCESS_QUERY_INFORMATION | SYNCHRONIZE
    // before (without SYNCHRONIZE when only asked about); null when refused.
    static HANDLE openProcess(DWORD pid, bool synchronize = true);

    // First process (snapshot order) whose executable's file name is one
    // of `names` (file names without folder, letters a-z compared without
    // case) and lies below `folder` (null or empty: anywhere; a process
    // whose path the system does not tell, one of another user for
    // instance, is never taken for one below a folder); passes over what
    // `exclusion` names (null: nothing). Leaves *pid alone when false.
    static bool findProcess(const char* const* names, int nameCount, const char* folder, DWORD* pid,
                            const ProcessExclusion* exclusion = nullptr);
    // One file name, anywhere.
    static bool findProcess(const char* name, DWORD* pid);
    // The full path of a running process's executable, as far as the
    // system tells it (QueryFullProcessImageName where it exists, else the
    // process's first module); false and an empty text otherwise.
    static bool processPath(DWORD pid, char* path, int pathSize);
    // Whether path lies below folder (both compared in their long form,
    // letters a-z without case).
    static bool pathBelow(const char* path, const char* folder);
    // The executable file name (no folder) of the running process pid; an
    // empty text and false when the snapshot does not list it. parent (may
    // be null) gets the id of the process that created it.
    static bool processName(DWORD pid, char* name, int nameSize, DWORD* parent = nullptr);

    // The ids of the running processes whose parent is pid and whose
    // executable's file name is `name` (at most `capacity`); their count.
    static int childProcesses(DWORD pid, const char* name, DWORD* children, int capacity);
};
