// The holder of a port in words, from the TCP listener table, the service
// manager, and the system's excluded port ranges.
#include "PortDiagnosis.h"

#include <winsock.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "Launch.h"
#include "ServiceControl.h"
#include "Texts.h"
#include "resource.h"

namespace {

typedef BOOL(WINAPI* EnumServicesExFn)(SC_HANDLE, SC_ENUM_TYPE, DWORD, DWORD, BYTE*, DWORD, DWORD*, DWORD*, DWORD*,
                                       const char*);

// Calls `visit` for every running Win32 service; false when the list is
// refused. EnumServicesStatusExA exists from Windows 2000 on: it is looked
// up at run time.
template <typename Visit>
bool ForEachRunningService(Visit visit)
{
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    EnumServicesExFn enumerate =
        advapi ? reinterpret_cast<EnumServicesExFn>(GetProcAddress(advapi, "EnumServicesStatusExA")) : nullptr;
    if (!enumerate)
        return false;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    if (!manager)
        return false;
    DWORD needed = 0, count = 0, resume = 0;
    enumerate(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_ACTIVE, nullptr, 0, &needed, &count, &resume,
              nullptr);
    bool listed = false;
    for (int attempt = 0; attempt < 3 && !listed && needed; ++attempt) {
        DWORD size = needed + 4096;  // services may start meanwhile
        BYTE* buffer = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, size));
        if (!buffer)
            break;
        resume = 0;
        if (enumerate(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_ACTIVE, buffer, size, &needed, &count,
                      &resume, nullptr)) {
            const ENUM_SERVICE_STATUS_PROCESSA* services = reinterpret_cast<ENUM_SERVICE_STATUS_PROCESSA*>(buffer);
            for (DWORD i = 0; i < count; ++i)
                visit(services[i]);
            listed = true;
        }
        HeapFree(GetProcessHeap(), 0, buffer);
        if (!listed && GetLastError() != ERROR_MORE_DATA)
            break;
    }
    CloseServiceHandle(manager);
    return listed;
}

void AppendName(char* names, int size, const char* name)
{
    size_t used = strlen(names);
    if (static_cast<int>(used) >= size - 1)
        return;
    snprintf(names + used, static_cast<size_t>(size) - used, "%s%s", used ? ", " : "", name);
}

// "ReportServer" and "ReportServer$INSTANCE": the service name up to "$".
bool SameServiceName(const char* service, const char* usual)
{
    size_t length = strlen(usual);
    return _strnicmp(service, usual, length) == 0 && (service[length] == '\0' || service[length] == '$');
}

}  // namespace

bool ServicesOfProcess(DWORD pid, char* names, int size)
{
    if (!names || size <= 0)
        return false;
    names[0] = '\0';
    if (!pid)
        return false;
    ForEachRunningService([&](const ENUM_SERVICE_STATUS_PROCESSA& service) {
        if (service.ServiceStatusProcess.dwProcessId == pid)
            AppendName(names, size, service.lpDisplayName);
    });
    return names[0] != '\0';
}

bool HttpSysServices(char* names, int size)
{
    // The services that register URLs with HTTP.sys on a web port.
    static const char* const usual[] = {"W3SVC",   "WAS",         "ReportServer", "SQLServerReportingServices",
                                        "PBIRS",   "MsDepSvc",    "PeerDistSvc",  "WMSvc",
                                        nullptr};
    if (!names || size <= 0)
        return false;
    names[0] = '\0';
    ForEachRunningService([&](const ENUM_SERVICE_STATUS_PROCESSA& service) {
        for (const char* const* name = usual; *name; ++name)
            if (SameServiceName(service.lpServiceName, *name))
                AppendName(names, size, service.lpDisplayName);
    });
    return names[0] != '\0';
}

bool PortBindRefused(int port)
{
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (probe == INVALID_SOCKET)
        return false;
    sockaddr_in address;
    ZeroMemory(&address, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    bool refused = bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == SOCKET_ERROR &&
                   WSAGetLastError() == WSAEACCES;
    closesocket(probe);
    return refused;
}

bool FindExcludedRange(const char* text, int port, unsigned* first, unsigned* last)
{
    if (!text)
        return false;
    const char* line = text;
    while (*line) {
        const char* end = strchr(line, '\n');
        if (!end)
            end = line + strlen(line);
        // A range line: two numbers, then at most a "*" (administered).
        char* after = nullptr;
        const char* at = line;
        while (at < end && (*at == ' ' || *at == '\t'))
            ++at;
        unsigned long low = (at < end && *at >= '0' && *at <= '9') ? strtoul(at, &after, 10) : 0;
        if (after && after < end && (*after == ' ' || *after == '\t')) {
            char* afterHigh = nullptr;
            unsigned long high = strtoul(after, &afterHigh, 10);
            if (afterHigh != after && low && high >= low && high <= 65535 && static_cast<unsigned long>(port) >= low &&
                static_cast<unsigned long>(port) <= high) {
                *first = static_cast<unsigned>(low);
                *last = static_cast<unsigned>(high);
                return true;
            }
        }
        line = *end ? end + 1 : end;
    }
    return false;
}

namespace {

// Runs netsh hidden with `arguments` and reads what it prints (cut to
// size - 1 bytes); false when it did not run or end within 3 s. netsh
// answers in a fraction of a second; a hung one is left alone rather
// than waited for.
bool RunNetsh(const char* arguments, char* text, int size)
{
    char folder[MAX_PATH];
    char path[MAX_PATH];
    text[0] = '\0';
    if (!GetTempPathA(sizeof folder, folder) || !GetTempFileNameA(folder, "tvn", 0, path))
        return false;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_TEMPORARY, nullptr);
    bool ended = false;
    if (output != INVALID_HANDLE_VALUE) {
        char line[160];
        snprintf(line, sizeof line, "netsh.exe %s", arguments);
        HiddenLaunch launch = {nullptr, line, nullptr, CREATE_NO_WINDOW, nullptr, output, TRUE};
        HANDLE process = nullptr;
        DWORD error = LaunchHidden(launch, &process, nullptr);
        CloseHandle(output);
        if (!error) {
            ended = WaitForSingleObject(process, 3000) == WAIT_OBJECT_0;
            CloseHandle(process);
        }
    }
    HANDLE input = ended ? CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                         : INVALID_HANDLE_VALUE;
    if (input != INVALID_HANDLE_VALUE) {
        DWORD got = 0;
        if (!ReadFile(input, text, static_cast<DWORD>(size - 1), &got, nullptr))
            got = 0;
        text[got] = '\0';
        CloseHandle(input);
    }
    DeleteFileA(path);
    return ended;
}

// The port of a URL prefix such as "HTTP://+:80/ReportServer/" (0: none).
int UrlPort(const char* url, const char* end)
{
    const char* host = url;
    while (host + 2 < end && !(host[0] == '/' && host[1] == '/'))
        ++host;
    host += 2;
    const char* colon = nullptr;
    for (const char* at = host; at < end && *at != '/'; ++at)
        if (*at == ':')
            colon = at;  // the last one: an IPv6 host has its own
    return colon ? atoi(colon + 1) : 0;
}

}  // namespace

bool ExcludedRangeOf(int port, unsigned* first, unsigned* last)
{
    // Asked only when a bind was refused: the buffer lives for the call.
    const int size = 16384;
    char* text = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size));
    bool found = text && RunNetsh("int ipv4 show excludedportrange protocol=tcp", text, size) &&
                 FindExcludedRange(text, port, first, last);
    if (text)
        HeapFree(GetProcessHeap(), 0, text);
    return found;
}

int HttpQueueProcesses(const char* text, int port, DWORD* pids, int maxPids)
{
    int count = 0;
    if (!text || !pids)
        return 0;
    DWORD queuePids[16];
    int queueCount = 0;
    bool queueHoldsPort = false;
    const char* line = text;
    for (;;) {
        const char* end = line + strcspn(line, "\r\n");
        const char* at = line;
        while (at < end && (*at == ' ' || *at == '\t'))
            ++at;
        // A line of text at the margin begins the next queue (blank lines
        // do not): the last one's processes count when one of its URLs is
        // on the port.
        if ((at == line && end > line) || !*line) {
            for (int i = 0; queueHoldsPort && i < queueCount && count < maxPids; ++i)
                pids[count++] = queuePids[i];
            queueCount = 0;
            queueHoldsPort = false;
        }
        if (!*line)
            break;
        if (_strnicmp(at, "http://", 7) == 0 || _strnicmp(at, "https://", 8) == 0) {
            queueHoldsPort = queueHoldsPort || UrlPort(at, end) == port;
        } else if ((at[0] == 'I' || at[0] == 'i') && (at[1] == 'D' || at[1] == 'd')) {
            const char* colon = at + 2;
            while (colon < end && *colon == ' ')
                ++colon;
            DWORD pid = (colon < end && *colon == ':') ? strtoul(colon + 1, nullptr, 10) : 0;
            if (pid && queueCount < 16)
                queuePids[queueCount++] = pid;
        }
        line = end;
        while (*line == '\r' || *line == '\n')
            ++line;
    }
    return count;
}

bool HttpQueueHolders(int port, char* names, int size)
{
    if (!names || size <= 0)
        return false;
    names[0] = '\0';
    // Asked only for a port held by the system: the buffer lives for the
    // call.
    const int textSize = 65536;
    char* text = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, textSize));
    DWORD pids[8];
    int count = text && RunNetsh("http show servicestate view=requestq", text, textSize)
                    ? HttpQueueProcesses(text, port, pids, 8)
                    : -1;
    if (text)
        HeapFree(GetProcessHeap(), 0, text);
    if (count < 0)
        return false;
    ServiceControl::acquire();
    for (int i = 0; i < count; ++i) {
        char name[MAX_PATH] = "";
        if (!ServicesOfProcess(pids[i], name, sizeof name))
            ServiceControl::processName(pids[i], name, sizeof name);
        if (name[0])
            AppendName(names, size, name);
    }
    ServiceControl::release();
    return names[0] != '\0';
}

int ExplainPort(int port, char lines[][LogTailLineSize], int maxLines)
{
    if (!lines || maxLines <= 0)
        return 0;
    char program[MAX_PATH] = "";
    DWORD pid = 0;
    if (FindPortHolder(port, program, sizeof program, &pid)) {
        char services[160];
        if (pid == 4) {
            // The "System" process: HTTP.sys listens there for the services
            // that registered URLs with it.
            if (HttpQueueHolders(port, services, sizeof services) || HttpSysServices(services, sizeof services))
                FormatText(lines[0], LogTailLineSize, IDS_DIAG_PORT_HTTPSYS, port, services);
            else
                FormatText(lines[0], LogTailLineSize, IDS_DIAG_PORT_HTTPSYS_ANY, port);
        } else if (program[0] && ServicesOfProcess(pid, services, sizeof services)) {
            FormatText(lines[0], LogTailLineSize, IDS_DIAG_PORT_SERVICE, port, services, program,
                       static_cast<unsigned long>(pid));
        } else {
            char holder[LogTailLineSize];
            if (program[0])
                FormatText(holder, sizeof holder, IDS_PORT_HOLDER, port, program, static_cast<unsigned long>(pid));
            else
                // The system names no owner (Wine, for one, gives process id 0).
                FormatText(holder, sizeof holder, IDS_PORT_HOLDER_UNKNOWN, port);
            snprintf(lines[0], LogTailLineSize, "%s. %s", holder, LoadText(IDS_DIAG_PORT_NEXT));
        }
        return 1;
    }
    // Nobody listens, yet a bind is refused: a range Windows reserved
    // (Hyper-V, WSL and Docker take such ranges at boot).
    if (!PortBindRefused(port))
        return 0;
    unsigned first = static_cast<unsigned>(port), last = static_cast<unsigned>(port);
    ExcludedRangeOf(port, &first, &last);
    FormatText(lines[0], LogTailLineSize, IDS_DIAG_PORT_RESERVED, port, first, last);
    return 1;
}
