// Launching the kit's stand-in programs the way the manager does, and
// reading what they wrote.
#pragma once

#include <windows.h>

#include <string>

namespace standin {

struct Launch {
    std::string title;          // lpTitle; empty: none
    bool useShowWindow = true;  // STARTF_USESHOWWINDOW with wShowWindow = show
    WORD show = SW_HIDE;
    bool newConsole = true;     // CREATE_NEW_CONSOLE
    std::string curDir;         // empty: inherited
};

// CreateProcessA(nullptr, cmdLine, ...) with the given startup details;
// returns the process information (hProcess null on failure, then
// *error holds GetLastError()). The caller closes the handles.
PROCESS_INFORMATION Start(const std::string& cmdLine, const Launch& how, DWORD* error = nullptr);

// Runs a program hidden in a new console with its standard output and
// error redirected to files, up to its end (at most timeoutMs, then it is
// terminated and false returned).
struct Result {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;
    std::string err;
};
bool RunCaptured(const std::string& cmdLine, Result* result, const std::string& curDir = "",
                 DWORD timeoutMs = 20000);

// Sends a control to a service; true when accepted.
bool ControlServiceNamed(const char* name, DWORD control);

// Starts a service; returns the error code (0 on success).
DWORD StartServiceNamed(const char* name);

// True while a process is alive.
bool Alive(HANDLE process);

// Quoted full path for a command line.
std::string Quoted(const std::string& path);

// Sends `request` as is to 127.0.0.1:port, ends sending and reads the
// answer up to the server's close (at most 10 s). False when no
// connection could be made; *error then holds WSAGetLastError().
bool HttpExchange(int port, const std::string& request, std::string* response, int* error = nullptr);

}  // namespace standin
