// The first lines a hidden server writes to its console before its own log
// opens (a missing file, a bad option, a loader complaint): its standard
// output and error go to a pipe that a thread of the manager drains, so
// the server never waits on a full pipe, and only the first bytes are
// kept.
#pragma once

#include <windows.h>

// Bytes kept of one launch's console output.
const int consoleKeepBytes = 2048;

// One launch's capture, made around CreateProcessA:
//   ConsoleCapture capture;
//   capture.prepare(&startup);
//   CreateProcessA(..., capture.inherits(), ...);
//   capture.attach(pid);
// Without attach (the launch failed) the pipe is closed again.
class ConsoleCapture {
public:
    ConsoleCapture();
    ~ConsoleCapture();
    // Points the record's standard output and error at a new pipe; false,
    // with the record as it was, when no pipe could be made or every
    // capture slot is still being drained.
    bool prepare(STARTUPINFOA* startup);
    // Whether the launch must let the program inherit the pipe's end.
    BOOL inherits() const { return childEnd_ != nullptr; }
    // Hands the pipe to a draining thread for the process `pid`.
    void attach(DWORD pid);

private:
    int slot_;
    HANDLE childEnd_;  // inheritable write end
    HANDLE readEnd_;
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;
};

// The first lines with more than blanks that process `pid` wrote to its
// console (as far as they are drained yet), oldest first, each cut to
// lineSize - 1 characters; their count (0: nothing, or no capture of pid).
int CapturedConsoleLines(DWORD pid, char* lines, int lineSize, int maxLines);
