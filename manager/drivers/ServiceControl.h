// Process-wide access to the service control manager and the process
// snapshot functions, plus a few stateless probes of the system.
#pragma once

#include <windows.h>

class ServiceControl {
public:
    // Reference counted: the first acquire opens the service manager and
    // looks up the toolhelp functions, the last release closes them.
    static void acquire();
    static void release();

    static SC_HANDLE openService(const char* name);
    static bool startService(SC_HANDLE service);
    static bool stopService(SC_HANDLE service);

    // First process (snapshot order) whose executable name contains text,
    // letters a-z compared without case. Leaves *pid alone when false.
    static bool findProcess(const char* text, DWORD* pid);

    static bool isNtFamily();
    static bool isWindowsXp();
    static bool isAdministrator();

    // Last-write time of a file opened for no access with shared reading
    // only; false and 0 when it cannot be read.
    static bool fileWriteTime(const char* path, FILETIME* time);
};
