// Probes that tell the user why a server did not come up: which program
// holds its port, and the last lines of its error log.
#pragma once

#include <windows.h>

// Longest line ReadLogTail gives back, in characters (plus a terminator).
const int LogTailLineSize = 256;

// The process listening on TCP `port` on any local address (IPv4, then
// IPv6), from the system's table of listeners: its executable file name
// ("skype.exe", cut to programSize - 1 characters; empty when the process
// list does not show it or the id is 0, which Wine gives for every owner)
// and its process id. False when nobody listens
// there, or where the system has no such table (the 95 family, NT 4,
// 2000 before SP1, XP before SP2): `program` is then empty and *pid 0.
bool FindPortHolder(int port, char* program, int programSize, DWORD* pid);

// The last at most maxLines lines of a text file that hold more than
// blanks, oldest first, each cut to 255 characters; lines end with LF or
// CR LF. Only the file's last 8 KB are read, through a handle that lets
// other programs go on writing, renaming or deleting the file; a line that
// begins before them is left out. Returns the count: 0 for a missing,
// unreadable or empty file.
int ReadLogTail(const char* path, char lines[][LogTailLineSize], int maxLines);
