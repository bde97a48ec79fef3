// Process-wide access to the service control manager and the toolhelp
// process functions, and the stateless probes of the system.
#include "ServiceControl.h"

#include <tlhelp32.h>
#include <string.h>

#ifndef _WIN64
static_assert(sizeof(PROCESSENTRY32) == 296, "PROCESSENTRY32 is 296 bytes on 32-bit Windows");
static_assert(sizeof(OSVERSIONINFOEXA) == 156, "OSVERSIONINFOEXA is 156 bytes");
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is 148 bytes");
#endif

namespace {

// The toolhelp functions do not exist on Windows NT 4: they are looked up
// by name so that the program still starts there.
typedef HANDLE(WINAPI* SnapshotFn)(DWORD, DWORD);
typedef BOOL(WINAPI* ProcessEntryFn)(HANDLE, PROCESSENTRY32*);

LONG refCount;
SC_HANDLE serviceManager;
HMODULE kernelModule;
SnapshotFn createSnapshot;
ProcessEntryFn processFirst;
ProcessEntryFn processNext;

bool adminComputed;
bool adminAnswer;

// Only a to z are folded; other letters are compared as they are.
void upperAscii(char* text)
{
    for (; *text; ++text)
        if (*text >= 'a' && *text <= 'z')
            *text = static_cast<char>(*text - 'a' + 'A');
}

// The file name of an executable entry: the 95 family gives the full path.
const char* fileNameOf(const char* exePath)
{
    const char* slash = strrchr(exePath, '\\');
    return slash ? slash + 1 : exePath;
}

// Whether a matching entry is one of the driver's own helpers; upperName
// is the entry's executable name already in capitals.
bool excluded(const PROCESSENTRY32& entry, const char* upperName, const ProcessExclusion* exclusion)
{
    if (!exclusion)
        return false;
    for (int i = 0; i < exclusion->helperCount; ++i) {
        DWORD helper = exclusion->helpers[i];
        if (helper && (entry.th32ProcessID == helper || entry.th32ParentProcessID == helper))
            return true;
    }
    const char* file = fileNameOf(upperName);
    for (int i = 0; i < exclusion->nameCount; ++i) {
        char name[MAX_PATH];
        lstrcpynA(name, exclusion->names[i], sizeof name);
        upperAscii(name);
        if (strcmp(file, name) == 0)
            return true;
    }
    return false;
}

}  // namespace

void ServiceControl::acquire()
{
    if (refCount++ != 0)
        return;
    serviceManager = OpenSCManagerA(nullptr, nullptr, 0xF003F);  // SC_MANAGER_ALL_ACCESS
    kernelModule = LoadLibraryA("Kernel32.DLL");
    if (kernelModule) {
        createSnapshot = reinterpret_cast<SnapshotFn>(GetProcAddress(kernelModule, "CreateToolhelp32Snapshot"));
        processFirst = reinterpret_cast<ProcessEntryFn>(GetProcAddress(kernelModule, "Process32First"));
        processNext = reinterpret_cast<ProcessEntryFn>(GetProcAddress(kernelModule, "Process32Next"));
    }
}

void ServiceControl::release()
{
    // An unbalanced release must not drive the count below zero: the next
    // acquire would then not open anything.
    if (refCount == 0 || --refCount != 0)
        return;
    if (serviceManager) {
        CloseServiceHandle(serviceManager);
        serviceManager = nullptr;
    }
    if (kernelModule) {
        FreeLibrary(kernelModule);
        kernelModule = nullptr;
    }
    createSnapshot = nullptr;
    processFirst = nullptr;
    processNext = nullptr;
}

SC_HANDLE ServiceControl::openService(const char* name)
{
    if (!serviceManager || !name)
        return nullptr;
    return OpenServiceA(serviceManager, name, 0xF01FF);  // SERVICE_ALL_ACCESS
}

bool ServiceControl::startService(SC_HANDLE service)
{
    if (!service)
        return false;
    if (StartServiceA(service, 0, nullptr))
        return true;
    return GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
}

bool ServiceControl::stopService(SC_HANDLE service)
{
    if (!service)
        return false;
    SERVICE_STATUS status;
    if (ControlService(service, SERVICE_CONTROL_STOP, &status))
        return true;
    return GetLastError() == ERROR_SERVICE_NOT_ACTIVE;
}

bool ServiceControl::findProcess(const char* text, DWORD* pid)
{
    return findProcess(text, pid, nullptr);
}

bool ServiceControl::findProcess(const char* text, DWORD* pid, const ProcessExclusion* exclusion)
{
    if (!createSnapshot || !processFirst || !processNext || !text || !*text || !pid)
        return false;
    HANDLE snapshot = createSnapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE || !snapshot)
        return false;

    bool found = false;
    PROCESSENTRY32 entry;
    ZeroMemory(&entry, sizeof entry);
    entry.dwSize = sizeof entry;
    if (processFirst(snapshot, &entry)) {
        char wanted[MAX_PATH];
        lstrcpynA(wanted, text, sizeof wanted);
        upperAscii(wanted);
        do {
            char exeName[sizeof entry.szExeFile + 1];
            lstrcpynA(exeName, entry.szExeFile, sizeof exeName);
            upperAscii(exeName);
            if (strstr(exeName, wanted) && !excluded(entry, exeName, exclusion)) {
                *pid = entry.th32ProcessID;
                found = true;
                break;
            }
            entry.dwSize = sizeof entry;
        } while (processNext(snapshot, &entry));
    }
    CloseHandle(snapshot);
    return found;
}

bool ServiceControl::processName(DWORD pid, char* name, int nameSize)
{
    if (!name || nameSize <= 0)
        return false;
    name[0] = '\0';
    if (!createSnapshot || !processFirst || !processNext)
        return false;
    HANDLE snapshot = createSnapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE || !snapshot)
        return false;

    bool found = false;
    PROCESSENTRY32 entry;
    ZeroMemory(&entry, sizeof entry);
    entry.dwSize = sizeof entry;
    for (BOOL more = processFirst(snapshot, &entry); more && !found; more = processNext(snapshot, &entry)) {
        if (entry.th32ProcessID == pid) {
            lstrcpynA(name, fileNameOf(entry.szExeFile), nameSize);
            found = true;
        }
        entry.dwSize = sizeof entry;
    }
    CloseHandle(snapshot);
    return found;
}

bool ServiceControl::isNtFamily()
{
    return (GetVersion() & 0x80000000u) == 0;
}

bool ServiceControl::isWindowsXp()
{
    OSVERSIONINFOEXA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) {
        // Windows NT 4 before SP6 and the 95 family know only the basic record.
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info)))
            return false;
    }
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion == 5 && info.dwMinorVersion == 1;
}

bool ServiceControl::isAdministrator()
{
    if (adminComputed)
        return adminAnswer;

    HANDLE token = nullptr;
    bool haveToken = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token) != 0;
    if (!haveToken && GetLastError() == ERROR_NO_TOKEN)
        haveToken = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) != 0;

    if (haveToken) {
        DWORD size = 0;
        if (GetTokenInformation(token, TokenGroups, nullptr, 0, &size) ||
            GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
            TOKEN_GROUPS* groups = static_cast<TOKEN_GROUPS*>(LocalAlloc(LMEM_FIXED, size ? size : 1));
            if (groups) {
                if (GetTokenInformation(token, TokenGroups, groups, size, &size)) {
                    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
                    PSID admins = nullptr;
                    if (AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                                 DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins)) {
                        for (DWORD i = 0; i < groups->GroupCount; ++i) {
                            if (EqualSid(groups->Groups[i].Sid, admins)) {
                                adminAnswer = true;
                                break;
                            }
                        }
                        FreeSid(admins);
                    }
                }
                LocalFree(groups);
            }
        }
        CloseHandle(token);
    }
    adminComputed = true;
    return adminAnswer;
}

bool ServiceControl::fileWriteTime(const char* path, FILETIME* time)
{
    if (!time)
        return false;
    HANDLE file = path ? CreateFileA(path, 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)
                       : INVALID_HANDLE_VALUE;
    time->dwLowDateTime = 0;
    time->dwHighDateTime = 0;
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = GetFileTime(file, nullptr, nullptr, time) != 0;
    if (!ok) {
        time->dwLowDateTime = 0;
        time->dwHighDateTime = 0;
    }
    CloseHandle(file);
    return ok;
}
