// Stateless questions to the system that both programs ask. One helper a
// file (or a pair that belongs together): a program links only those it
// calls.
#pragma once

#include <windows.h>
#include <stddef.h>

// The system's text for an error code, in the user's language where the
// system has it, cut to size - 1 characters; "error N" and false when the
// system has no text. Its line end is taken off unless keepLineEnd.
bool SystemErrorText(DWORD code, char* out, size_t size, bool keepLineEnd = false);
// GetLastError, or `otherwise` when it holds no error.
DWORD LastErrorOr(DWORD otherwise);

// The screen's dots per inch (vertical); 96 when the screen does not say.
int ScreenDpi();

// Windows NT, 2000, XP and later, as against the 95 family.
bool IsNtFamily();
// Windows XP (NT 5.1).
bool IsWindowsXp();
// Whether the process runs with the Administrators group in effect (a
// limited token of an administrator does not count); asked once, the
// answer kept for the run.
bool IsAdministrator();

// Last-write time of a file, opened for no access with shared reading
// only; false and 0 when it cannot be read.
bool FileWriteTime(const char* path, FILETIME* time);
