// What the manager's process holds, read from outside for the benchmark
// programs.
#pragma once

#include <windows.h>

#include <string>

namespace e2e {

// What a process holds, read from outside through its handle (which needs
// PROCESS_QUERY_INFORMATION and PROCESS_VM_READ).
struct Usage {
    // GetProcessHandleCount; where that gives 0 (Wine 8 does, for every
    // process), the process's entries in the system's handle table.
    DWORD handles = 0;
    bool handlesFromTable = false;
    // GetGuiResources; both 0 where it is a stub (Wine 8).
    DWORD gdiObjects = 0;
    DWORD userObjects = 0;
    // The process's windows, top-level and children (part of its USER
    // objects, seen whatever GetGuiResources gives).
    DWORD windows = 0;
    // Private bytes: PagefileUsage, which Windows sets equal to
    // PrivateUsage; Wine fills only the former (anonymous resident memory
    // and swap of the process).
    SIZE_T privateBytes = 0;
    // User and kernel time so far: GetProcessTimes; on Wine, which gives a
    // fixed 10 ms there for every process, the Unix process's times.
    double cpuMs = 0;
    bool cpuFromUnix = false;
};
// commandLineMark: a text of the process's command line (its folder), by
// which Wine's Unix process is found, together with the program's name.
Usage ReadUsage(HANDLE process, const std::string& commandLineMark, const char* program = "tarvane.exe");

}  // namespace e2e
