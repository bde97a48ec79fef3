// Process-wide access to the service control manager and the toolhelp
// process functions.
#include "ServiceControl.h"

#include <tlhelp32.h>
#include <stdio.h>
#include <string.h>

#ifndef _WIN64
static_assert(sizeof(PROCESSENTRY32) == 296, "PROCESSENTRY32 is 296 bytes on 32-bit Windows");
#endif

namespace {

// The toolhelp functions do not exist on Windows NT 4: they are looked up
// by name so that the program still starts there.
typedef HANDLE(WINAPI* SnapshotFn)(DWORD, DWORD);
typedef BOOL(WINAPI* ProcessEntryFn)(HANDLE, PROCESSENTRY32*);
typedef BOOL(WINAPI* ModuleEntryFn)(HANDLE, MODULEENTRY32*);
// Windows Vista and later; it also names a 64-bit program to a 32-bit one.
typedef BOOL(WINAPI* ImageNameFn)(HANDLE, DWORD, LPSTR, PDWORD);

LONG refCount;
SC_HANDLE serviceManager;
HMODULE kernelModule;
SnapshotFn createSnapshot;
ProcessEntryFn processFirst;
ProcessEntryFn processNext;
ModuleEntryFn moduleFirst;
ImageNameFn imageName;

// Only a to z are folded; other letters are compared as they are.
void UpperAscii(char* text)
{
    for (; *text; ++text)
        if (*text >= 'a' && *text <= 'z')
            *text = static_cast<char>(*text - 'a' + 'A');
}

// The file name of an executable entry: the 95 family gives the full path.
const char* FileNameOf(const char* exePath)
{
    const char* slash = strrchr(exePath, '\\');
    return slash ? slash + 1 : exePath;
}

// Whether a matching entry is one of the driver's own helpers; upperName
// is the entry's executable name already in capitals.
bool Excluded(const PROCESSENTRY32& entry, const char* upperName, const ProcessExclusion* exclusion)
{
    if (!exclusion)
        return false;
    for (int i = 0; i < exclusion->helperCount; ++i) {
        DWORD helper = exclusion->helpers[i];
        if (helper && (entry.th32ProcessID == helper || entry.th32ParentProcessID == helper))
            return true;
    }
    const char* file = FileNameOf(upperName);
    for (int i = 0; i < exclusion->nameCount; ++i) {
        char name[MAX_PATH];
        lstrcpynA(name, exclusion->names[i], sizeof name);
        UpperAscii(name);
        if (strcmp(file, name) == 0)
            return true;
    }
    return false;
}

// Whether the entry's executable file name is one of names.
bool NameListed(const char* upperFile, const char* const* names, int nameCount)
{
    for (int i = 0; i < nameCount; ++i) {
        if (!names[i])
            continue;
        char name[MAX_PATH];
        lstrcpynA(name, names[i], sizeof name);
        UpperAscii(name);
        if (strcmp(upperFile, name) == 0)
            return true;
    }
    return false;
}

// A path in its short form where the file exists (the install directory
// is kept in that form), else as given; then in capitals.
void Comparable(const char* path, char* out, int size)
{
    if (!GetShortPathNameA(path, out, size) || !*out)
        lstrcpynA(out, path, size);
    UpperAscii(out);
}

}  // namespace

void ServiceControl::acquire()
{
    if (refCount++ != 0)
        return;
    // Connecting is granted to every user; the rights that matter are
    // asked of each service.
    serviceManager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    kernelModule = LoadLibraryA("Kernel32.DLL");
    if (kernelModule) {
        createSnapshot = reinterpret_cast<SnapshotFn>(GetProcAddress(kernelModule, "CreateToolhelp32Snapshot"));
        processFirst = reinterpret_cast<ProcessEntryFn>(GetProcAddress(kernelModule, "Process32First"));
        processNext = reinterpret_cast<ProcessEntryFn>(GetProcAddress(kernelModule, "Process32Next"));
        moduleFirst = reinterpret_cast<ModuleEntryFn>(GetProcAddress(kernelModule, "Module32First"));
        imageName = reinterpret_cast<ImageNameFn>(GetProcAddress(kernelModule, "QueryFullProcessImageNameA"));
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
    moduleFirst = nullptr;
    imageName = nullptr;
}

SC_HANDLE ServiceControl::openService(const char* name, ServiceAccess access)
{
    if (!serviceManager || !name) {
        SetLastError(serviceManager ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
        return nullptr;
    }
    static const DWORD rights[] = {
        SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG,
        SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | SERVICE_START | SERVICE_STOP,
        SERVICE_ALL_ACCESS,
    };
    return OpenServiceA(serviceManager, name, rights[access]);
}

void ServiceControl::imageProgram(const char* image, char* program, int size)
{
    const char* from = image ? image : "";
    while (*from == ' ')
        ++from;
    int length = 0;
    if (*from == '"') {
        ++from;
        while (from[length] && from[length] != '"')
            ++length;
    } else {
        // A bare path may hold blanks: it ends after ".exe".
        for (const char* at = from; *at && !length; ++at)
            if (_strnicmp(at, ".exe", 4) == 0 && (at[4] == '\0' || at[4] == ' '))
                length = static_cast<int>(at + 4 - from);
        if (!length)
            while (from[length] && from[length] != ' ')
                ++length;
    }
    snprintf(program, size, "%.*s", length, from);
}

bool ServiceControl::serviceProgram(SC_HANDLE service, char* program, int size)
{
    if (!program || size <= 0)
        return false;
    program[0] = '\0';
    DWORD needed = 0;
    if (!service || (!QueryServiceConfigA(service, nullptr, 0, &needed) && GetLastError() != ERROR_INSUFFICIENT_BUFFER))
        return false;
    QUERY_SERVICE_CONFIGA* config = static_cast<QUERY_SERVICE_CONFIGA*>(LocalAlloc(LMEM_FIXED, needed ? needed : 1));
    if (!config)
        return false;
    if (QueryServiceConfigA(service, config, needed, &needed) && config->lpBinaryPathName)
        imageProgram(config->lpBinaryPathName, program, size);
    LocalFree(config);
    return program[0] != '\0';
}

HANDLE ServiceControl::openProcess(DWORD pid, bool synchronize)
{
    // PROCESS_QUERY_LIMITED_INFORMATION is granted for more processes (a
    // service's, another user's) but is not known before Vista.
    bool limited = LOBYTE(LOWORD(GetVersion())) >= 6;
    return OpenProcess((synchronize ? SYNCHRONIZE : 0) | (limited ? 0x1000 : PROCESS_QUERY_INFORMATION), FALSE, pid);
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

bool ServiceControl::findProcess(const char* name, DWORD* pid)
{
    return findProcess(&name, 1, nullptr, pid);
}

bool ServiceControl::findProcess(const char* const* names, int nameCount, const char* folder, DWORD* pid,
                                 const ProcessExclusion* exclusion)
{
    if (!createSnapshot || !processFirst || !processNext || !names || nameCount <= 0 || !pid)
        return false;
    HANDLE snapshot = createSnapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE || !snapshot)
        return false;

    bool found = false;
    PROCESSENTRY32 entry;
    ZeroMemory(&entry, sizeof entry);
    entry.dwSize = sizeof entry;
    if (processFirst(snapshot, &entry)) {
        do {
            char exeName[sizeof entry.szExeFile + 1];
            lstrcpynA(exeName, entry.szExeFile, sizeof exeName);
            UpperAscii(exeName);
            // The 95 family gives the full path, the NT family the file name.
            if (NameListed(FileNameOf(exeName), names, nameCount) && !Excluded(entry, exeName, exclusion)) {
                char path[MAX_PATH];
                bool known = strchr(entry.szExeFile, '\\') ? lstrcpynA(path, entry.szExeFile, sizeof path) != nullptr
                                                            : processPath(entry.th32ProcessID, path, sizeof path);
                // A program of the same name elsewhere is not the kit's
                // server, nor is one whose path cannot be read (another
                // user's, a service of another installation).
                if (!folder || !*folder || (known && pathBelow(path, folder))) {
                    *pid = entry.th32ProcessID;
                    found = true;
                    break;
                }
            }
            entry.dwSize = sizeof entry;
        } while (processNext(snapshot, &entry));
    }
    CloseHandle(snapshot);
    return found;
}

bool ServiceControl::processPath(DWORD pid, char* path, int pathSize)
{
    if (!path || pathSize <= 0)
        return false;
    path[0] = '\0';
    if (imageName) {
        // PROCESS_QUERY_LIMITED_INFORMATION (Vista and later) is granted
        // for more processes than the full query right.
        HANDLE process = openProcess(pid, false);
        if (process) {
            DWORD size = static_cast<DWORD>(pathSize);
            BOOL ok = imageName(process, 0, path, &size);
            CloseHandle(process);
            if (ok && path[0])
                return true;
        }
        // Refused (another user's process): a module list would be too.
        path[0] = '\0';
        return false;
    }
    // Before Vista: the first module of the process is its executable.
    if (!createSnapshot || !moduleFirst)
        return false;
    HANDLE snapshot = createSnapshot(TH32CS_SNAPMODULE, pid);
    if (snapshot == INVALID_HANDLE_VALUE || !snapshot)
        return false;
    MODULEENTRY32 module;
    ZeroMemory(&module, sizeof module);
    module.dwSize = sizeof module;
    bool ok = moduleFirst(snapshot, &module) && module.szExePath[0];
    if (ok)
        lstrcpynA(path, module.szExePath, pathSize);
    CloseHandle(snapshot);
    return ok;
}

bool ServiceControl::pathBelow(const char* path, const char* folder)
{
    if (!path || !folder || !*folder)
        return false;
    char p[MAX_PATH];
    char f[MAX_PATH];
    Comparable(path, p, sizeof p);
    Comparable(folder, f, sizeof f);
    size_t length = strlen(f);
    // "C:\KIT" must not take "C:\KIT2\..." for its own.
    if (length && f[length - 1] != '\\' && p[length] != '\\')
        return false;
    return strncmp(p, f, length) == 0;
}

bool ServiceControl::processName(DWORD pid, char* name, int nameSize, DWORD* parent)
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
            lstrcpynA(name, FileNameOf(entry.szExeFile), nameSize);
            if (parent)
                *parent = entry.th32ParentProcessID;
            found = true;
        }
        entry.dwSize = sizeof entry;
    }
    CloseHandle(snapshot);
    return found;
}

int ServiceControl::childProcesses(DWORD pid, const char* name, DWORD* children, int capacity)
{
    if (!createSnapshot || !processFirst || !processNext || !name || !children)
        return 0;
    HANDLE snapshot = createSnapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE || !snapshot)
        return 0;
    char wanted[MAX_PATH];
    lstrcpynA(wanted, name, sizeof wanted);
    UpperAscii(wanted);
    int count = 0;
    PROCESSENTRY32 entry;
    ZeroMemory(&entry, sizeof entry);
    entry.dwSize = sizeof entry;
    for (BOOL more = processFirst(snapshot, &entry); more && count < capacity; more = processNext(snapshot, &entry)) {
        char exeName[sizeof entry.szExeFile + 1];
        lstrcpynA(exeName, entry.szExeFile, sizeof exeName);
        UpperAscii(exeName);
        if (entry.th32ParentProcessID == pid && entry.th32ProcessID != pid && strcmp(FileNameOf(exeName), wanted) == 0)
            children[count++] = entry.th32ProcessID;
        entry.dwSize = sizeof entry;
    }
    CloseHandle(snapshot);
    return count;
}
