// Process-wide access to the service control manager and the process
// snapshot functions, plus a few stateless probes of the system.
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

    static SC_HANDLE openService(const char* name);
    static bool startService(SC_HANDLE service);
    static bool stopService(SC_HANDLE service);

    // First process (snapshot order) whose executable's file name is one
    // of `names` (file names without folder, letters a-z compared without
    // case) and, where the system tells the executable's full path, lies
    // below `folder` (null or empty: anywhere); passes over what
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

    static bool isNtFamily();
    static bool isWindowsXp();
    static bool isAdministrator();

    // Last-write time of a file opened for no access with shared reading
    // only; false and 0 when it cannot be read.
    static bool fileWriteTime(const char* path, FILETIME* time);
};
