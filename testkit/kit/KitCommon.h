// Small helpers shared by the stand-in programs of the kit.
#pragma once

#include <windows.h>

#include <string>

namespace kit {

// Full path of the running program, its folder (with a trailing
// backslash) and its file name ("apache.exe").
std::string ProgramPath();
std::string ProgramDir();
std::string ProgramName();

// printf-style output to the standard error or output handle. Line feeds
// become "\r\n" (what a Windows console program's text-mode output gives),
// and the whole text goes out in one WriteFile, so it works alike on a
// console, a pipe and a file redirected by cmd ("2> file").
void PrintErr(const char* format, ...) __attribute__((format(printf, 1, 2)));
void PrintOut(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The system's text for an error code, without its line end.
std::string SystemMessage(DWORD code);

// Appends this process's line for `event` to the record file (record.h).
void Record(const char* event);

// Reads a whole (small) file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string* text, DWORD limit = 1 << 20);

// Has Ctrl+C, Ctrl+Break and the closing of the console signal `event` (a
// server's end event) instead of ending the process. Null lets go of the
// event again (the handler stays and then does nothing).
void EndOnConsoleClose(HANDLE event);

}  // namespace kit
