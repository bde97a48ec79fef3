// Why a server did not come up: the holder of its port, from the system's
// table of TCP listeners, and the tail of its error log.
#include "Diagnostics.h"

#include <iprtrmib.h>
#include <stdlib.h>
#include <string.h>

#include "ServiceControl.h"

namespace {

// GetExtendedTcpTable exists from XP SP2 (and 2000 SP1) on: it is looked up
// at run time so that the manager still starts everywhere else.
typedef DWORD(WINAPI* ExtendedTcpTableFn)(void*, DWORD*, BOOL, ULONG, TCP_TABLE_CLASS, ULONG);

const ULONG FamilyIpv4 = 2;   // AF_INET
const ULONG FamilyIpv6 = 23;  // AF_INET6

// The table's ports are in network byte order in the low 16 bits.
int HostPort(DWORD networkPort)
{
    return static_cast<int>(((networkPort & 0xFF) << 8) | ((networkPort >> 8) & 0xFF));
}

// Fetches the listener table of one address family into a buffer the
// caller frees; null when there is none. The table may grow between the
// size query and the read: a few tries.
void* ListenerTable(ExtendedTcpTableFn getTable, ULONG family)
{
    DWORD size = 0;
    void* table = nullptr;
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD result = getTable(table, &size, FALSE, family, TCP_TABLE_OWNER_PID_LISTENER, 0);
        if (result == NO_ERROR && table)
            return table;
        free(table);
        table = nullptr;
        if (result != ERROR_INSUFFICIENT_BUFFER && result != NO_ERROR)
            return nullptr;
        if (size == 0)
            return nullptr;
        size += 16 * sizeof(MIB_TCP6ROW_OWNER_PID);  // room for a few newcomers
        table = malloc(size);
        if (!table)
            return nullptr;
    }
    free(table);
    return nullptr;
}

// The owner of a listener on `port` in the table of one family; 0 when none.
bool FindListener(ExtendedTcpTableFn getTable, ULONG family, int port, DWORD* owner)
{
    void* table = ListenerTable(getTable, family);
    if (!table)
        return false;
    bool found = false;
    if (family == FamilyIpv4) {
        const MIB_TCPTABLE_OWNER_PID* rows = static_cast<MIB_TCPTABLE_OWNER_PID*>(table);
        for (DWORD i = 0; i < rows->dwNumEntries && !found; ++i) {
            if (HostPort(rows->table[i].dwLocalPort) == port) {
                *owner = rows->table[i].dwOwningPid;
                found = true;
            }
        }
    } else {
        const MIB_TCP6TABLE_OWNER_PID* rows = static_cast<MIB_TCP6TABLE_OWNER_PID*>(table);
        for (DWORD i = 0; i < rows->dwNumEntries && !found; ++i) {
            if (HostPort(rows->table[i].dwLocalPort) == port) {
                *owner = rows->table[i].dwOwningPid;
                found = true;
            }
        }
    }
    free(table);
    return found;
}

bool IsBlankLine(const char* begin, const char* end)
{
    for (; begin < end; ++begin)
        if (*begin != ' ' && *begin != '\t' && *begin != '\r')
            return false;
    return true;
}

// How much of a log's end is read: three lines of a usual log fit many
// times over, and a huge log costs no more than a small one.
const DWORD TailBytes = 8192;

}  // namespace

bool FindPortHolder(int port, char* program, int programSize, DWORD* pid)
{
    if (program && programSize > 0)
        program[0] = '\0';
    if (pid)
        *pid = 0;
    if (port <= 0 || port > 65535)
        return false;

    HMODULE module = LoadLibraryA("iphlpapi.dll");
    if (!module)
        return false;
    ExtendedTcpTableFn getTable =
        reinterpret_cast<ExtendedTcpTableFn>(GetProcAddress(module, "GetExtendedTcpTable"));
    DWORD owner = 0;
    bool found = getTable && (FindListener(getTable, FamilyIpv4, port, &owner) ||
                              FindListener(getTable, FamilyIpv6, port, &owner));
    FreeLibrary(module);
    if (!found)
        return false;

    if (pid)
        *pid = owner;
    // Process id 0 means the system did not say who owns the port.
    if (owner != 0 && program && programSize > 0) {
        ServiceControl::acquire();
        ServiceControl::processName(owner, program, programSize);
        ServiceControl::release();
    }
    return true;
}

int ReadLogTail(const char* path, char lines[][LogTailLineSize], int maxLines)
{
    if (!path || !lines || maxLines <= 0)
        return 0;
    const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file = CreateFileA(path, GENERIC_READ, shareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    // The 95 family knows no FILE_SHARE_DELETE and refuses the whole call.
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER)
        file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;

    char text[TailBytes];
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    DWORD wanted = (high != 0 || size > TailBytes) ? TailBytes : size;
    DWORD got = 0;
    bool fromStart = wanted == size && high == 0;
    if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        wanted = 0;
    if (wanted > 0 && SetFilePointer(file, -static_cast<LONG>(wanted), nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
        wanted = 0;
    if (wanted > 0 && !ReadFile(file, text, wanted, &got, nullptr))
        got = 0;
    CloseHandle(file);

    // Walk the lines from the end backwards, keeping the last maxLines.
    const char* begin = text;
    const char* end = text + got;
    if (!fromStart) {
        // The first bytes read are the end of a line that began earlier.
        const char* firstBreak = static_cast<const char*>(memchr(text, '\n', got));
        begin = firstBreak ? firstBreak + 1 : end;
    }
    int count = 0;
    const char* lineEnd = end;
    while (lineEnd > begin && count < maxLines) {
        const char* lineStart = lineEnd;
        while (lineStart > begin && lineStart[-1] != '\n')
            --lineStart;
        const char* textEnd = lineEnd;
        if (textEnd > lineStart && textEnd[-1] == '\r')
            --textEnd;
        if (!IsBlankLine(lineStart, textEnd)) {
            size_t length = static_cast<size_t>(textEnd - lineStart);
            if (length > LogTailLineSize - 1)
                length = LogTailLineSize - 1;
            // Filled from the last place towards the first, moved down below.
            char* line = lines[maxLines - 1 - count];
            memcpy(line, lineStart, length);
            line[length] = '\0';
            ++count;
        }
        lineEnd = lineStart > begin ? lineStart - 1 : begin;  // before the line's LF
    }
    if (count < maxLines)
        memmove(lines[0], lines[maxLines - count], sizeof lines[0] * count);
    return count;
}
