// The one way the programs start another program: hidden, through
// CreateProcessA.
#pragma once

#include <windows.h>

struct HiddenLaunch {
    // The executable; null: the command line's first word, as the system
    // looks it up.
    const char* program;
    // The command line, writable as CreateProcessA wants it.
    char* commandLine;
    // The working folder; null: the caller's.
    const char* directory;
    // CREATE_NEW_CONSOLE (a console of its own, hidden), CREATE_NO_WINDOW
    // (a console without window, for what is read from its output) or 0.
    DWORD creation;
    // A new console's title; null: the program's path.
    const char* title;
    // The program's standard output and error (its input is none); null:
    // its own.
    HANDLE output;
    // Whether the program inherits the inheritable handles (output is one).
    BOOL inherit;
};

// Starts the program with its first window hidden (STARTF_USESHOWWINDOW,
// SW_HIDE). Returns 0 or the system's error. *process (null: closed) gets
// the process handle, *pid (may be null) its id; both stay untouched when
// the launch fails.
DWORD LaunchHidden(const HiddenLaunch& launch, HANDLE* process, DWORD* pid);
