#include "BenchUsage.h"

#include <psapi.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "TestKit.h"

namespace e2e {

namespace {

// SystemExtendedHandleInformation (64) of NtQuerySystemInformation.
struct HandleEntry {
    PVOID object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG access;
    USHORT backTrace;
    USHORT typeIndex;
    ULONG attributes;
    ULONG reserved;
};
struct HandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};
typedef LONG(NTAPI* QuerySystemInformation)(ULONG, PVOID, ULONG, PULONG);

DWORD HandlesInTable(DWORD pid)
{
    QuerySystemInformation query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return 0;
    std::vector<char> buffer(1 << 16);
    ULONG needed = 0;
    LONG status;
    while ((status = query(64, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
               static_cast<LONG>(0xC0000004) &&  // STATUS_INFO_LENGTH_MISMATCH
           buffer.size() < (64u << 20))
        buffer.resize(buffer.size() * 2);
    if (status != 0)
        return 0;
    const HandleTable* table = reinterpret_cast<const HandleTable*>(buffer.data());
    DWORD n = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i)
        n += table->entries[i].processId == pid;
    return n;
}

BOOL CALLBACK CountChild(HWND, LPARAM count)
{
    ++*reinterpret_cast<DWORD*>(count);
    return TRUE;
}

struct WindowCount {
    DWORD pid;
    DWORD count;
};

BOOL CALLBACK CountWindows(HWND window, LPARAM lParam)
{
    WindowCount* c = reinterpret_cast<WindowCount*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == c->pid) {
        ++c->count;
        EnumChildWindows(window, CountChild, reinterpret_cast<LPARAM>(&c->count));
    }
    return TRUE;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

// Wine runs every Windows process as a Unix process whose command line is
// the Windows one; Linux's process files are on drive Z:. The user and
// system times of the one whose command line holds both marks, in ms;
// negative when there is none.
double UnixCpuMs(const std::string& mark, const char* program)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA("Z:\\proc\\*", &entry);
    if (find == INVALID_HANDLE_VALUE)
        return -1;
    double ms = -1;
    do {
        if (!isdigit(static_cast<unsigned char>(entry.cFileName[0])))
            continue;
        std::string dir = std::string("Z:\\proc\\") + entry.cFileName + "\\", command, stat;
        testkit::ReadFileBytes(dir + "cmdline", &command);
        command = Lower(command);
        if (command.find(Lower(mark)) == std::string::npos || command.find(program) == std::string::npos ||
            !testkit::ReadFileBytes(dir + "stat", &stat) || stat.rfind(')') == std::string::npos)
            continue;
        // After "(name) ": state, then fields 4 to 13, then utime and stime
        // in clock ticks (100 a second).
        const char* field = stat.c_str() + stat.rfind(')') + 2;
        for (int i = 0; i < 11 && field; ++i) {
            field = strchr(field, ' ');
            field = field ? field + 1 : nullptr;
        }
        unsigned long long user = 0, system = 0;
        if (field && sscanf(field, "%llu %llu", &user, &system) == 2)
            ms = (user + system) * 10.0;
        break;
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return ms;
}

}  // namespace

Usage ReadUsage(HANDLE process, const std::string& commandLineMark, const char* program)
{
    Usage usage;
    GetProcessHandleCount(process, &usage.handles);
    if (!usage.handles) {
        usage.handles = HandlesInTable(GetProcessId(process));
        usage.handlesFromTable = true;
    }
    usage.gdiObjects = GetGuiResources(process, GR_GDIOBJECTS);
    usage.userObjects = GetGuiResources(process, GR_USEROBJECTS);
    WindowCount windows = {GetProcessId(process), 0};
    EnumWindows(CountWindows, reinterpret_cast<LPARAM>(&windows));
    usage.windows = windows.count;
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(process, &memory, sizeof memory))
        usage.privateBytes = memory.PagefileUsage;
    FILETIME created, exited, kernel, user;
    if (GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        ULARGE_INTEGER k = {{kernel.dwLowDateTime, kernel.dwHighDateTime}};
        ULARGE_INTEGER u = {{user.dwLowDateTime, user.dwHighDateTime}};
        usage.cpuMs = (k.QuadPart + u.QuadPart) / 10000.0;
    }
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")) {
        usage.cpuMs = UnixCpuMs(commandLineMark, Lower(program).c_str());
        usage.cpuFromUnix = true;
    }
    return usage;
}

}  // namespace e2e
