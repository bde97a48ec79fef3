// Why Apache cannot have its port, in words: the holder named with its
// service where it is one, HTTP.sys (the "System" process, pid 4) named
// with the service it listens for, or a port inside a range that Windows
// reserved and nobody holds.
#pragma once

#include <windows.h>

#include "Diagnostics.h"

// The display names of the running services that process `pid` hosts,
// joined by ", " and cut to size - 1 characters, from the service
// manager's list (enumeration rights only, which every user has); false
// when it hosts none or the list is refused.
bool ServicesOfProcess(DWORD pid, char* names, int size);

// The display names of the running services that usually have HTTP.sys
// listen for them (IIS's W3SVC and WAS, SQL Server Reporting Services, the
// Web Deployment Agent, BranchCache), joined by ", "; false when none runs.
bool HttpSysServices(char* names, int size);

// Whether binding TCP `port` on every IPv4 address fails with WSAEACCES,
// what a port in a reserved range gives (Winsock must be started).
bool PortBindRefused(int port);

// The range holding `port` in the text that
// "netsh int ipv4 show excludedportrange protocol=tcp" prints: lines of a
// first and a last port, whatever the language of the headings.
bool FindExcludedRange(const char* text, int port, unsigned* first, unsigned* last);

// The same from netsh itself, run hidden and waited for (at most 3 s);
// false when netsh is missing, says nothing, or has no such range.
bool ExcludedRangeOf(int port, unsigned* first, unsigned* last);

// The processes of the HTTP.sys request queues that registered a URL on
// `port`, from the text "netsh http show servicestate view=requestq"
// prints: queues begin at the margin, their "ID: pid" lines and URL lines
// are indented. Their count, at most maxPids.
int HttpQueueProcesses(const char* text, int port, DWORD* pids, int maxPids);

// The services (or else the programs) of those processes, from netsh
// itself, joined by ", "; false when netsh is refused (it may want an
// administrator), missing, or names nobody.
bool HttpQueueHolders(int port, char* names, int size);

// The line saying why `port` cannot be had, with the next step; 0 lines
// when nobody holds it and a bind succeeds.
int ExplainPort(int port, char lines[][LogTailLineSize], int maxLines);
