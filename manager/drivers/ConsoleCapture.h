// The first lines a hidden server writes to its console before its own log
// opens (a missing file, a bad option, a loader complaint): its standard
// output and error go to a pipe that the manager's message loop drains for
// every server, so the server does not wait on a full pipe, and only the
// first bytes are kept.
#pragma once

#include <windows.h>

// Bytes kept of one launch's console output.
const int ConsoleKeepBytes = 2048;

// One launch's capture, made around the launch (Launch.h):
//   ConsoleCapture capture;
//   capture.prepare();
//   launch.output = capture.output(); launch.inherit = capture.inherits();
//   LaunchHidden(launch, ...);
//   capture.attach(pid);
// Without attach (the launch failed) the pipe is closed again.
class ConsoleCapture {
public:
    ConsoleCapture();
    ~ConsoleCapture();
    // Makes a new pipe for the program's standard output and error; false,
    // and no output, when no pipe could be made or every capture slot is
    // still being drained.
    bool prepare();
    // The pipe's end the program writes to (null: none), and whether the
    // launch must let the program inherit it.
    HANDLE output() const { return childEnd_; }
    BOOL inherits() const { return childEnd_ != nullptr; }
    // Hands the pipe over to be drained, for the process `pid`.
    void attach(DWORD pid);

private:
    int slot_;
    HANDLE childEnd_;  // inheritable write end
    HANDLE readEnd_;
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;
};

// Looks into every open pipe when a look is due (DrainConsoles is called
// before each wait of the message loop, and by the monitor's tick); the
// time in ms until the loop's next look: 0 while output comes, then
// growing; INFINITE when no pipe is open or the tick's looks suffice.
DWORD DrainConsoles();

// The first lines with more than blanks that process `pid` wrote to its
// console (what its pipe holds is taken first), oldest first, each cut to
// lineSize - 1 characters; their count (0: nothing, or no capture of pid).
int CapturedConsoleLines(DWORD pid, char* lines, int lineSize, int maxLines);
