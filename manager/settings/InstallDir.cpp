#include "InstallDir.h"

#include <windows.h>
#include <cstring>

namespace {

char installDirCache[MAX_PATH];

// The "Path" value written by the installer; false when it is missing, not
// a string, empty or too long for a path.
bool ReadPathValue(char* dir, DWORD size)
{
    HKEY key;
    if (RegOpenKeyA(HKEY_CURRENT_USER, "Software\\Tarvane\\", &key) != ERROR_SUCCESS)
        return false;
    char value[MAX_PATH + 1];
    DWORD type = 0;
    DWORD length = MAX_PATH;
    LONG result = RegQueryValueExA(key, "Path", nullptr, &type, reinterpret_cast<BYTE*>(value), &length);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ)
        return false;
    // The stored data need not carry its terminator.
    value[length < MAX_PATH ? length : MAX_PATH] = '\0';
    if (value[0] == '\0' || strlen(value) >= size)
        return false;
    strcpy(dir, value);
    return true;
}

// The folder of the running executable, with its trailing backslash.
void ExecutableFolder(char* dir, DWORD size)
{
    char path[MAX_PATH] = "";
    DWORD length = GetModuleFileNameA(GetModuleHandleA(nullptr), path, sizeof path);
    if (length >= sizeof path)
        length = 0;  // cut: no reliable folder
    path[length] = '\0';
    char* name = strrchr(path, '\\');
    char* other = strrchr(path, '/');
    if (other > name)
        name = other;
    if (name)
        name[1] = '\0';
    else
        path[0] = '\0';
    lstrcpynA(dir, path, size);
}

}  // namespace

const char* GetInstallDir()
{
    if (installDirCache[0] != '\0')
        return installDirCache;

    if (!ReadPathValue(installDirCache, sizeof installDirCache))
        ExecutableFolder(installDirCache, sizeof installDirCache);

    // The short form lets the directory stand unquoted in command lines. A
    // folder that does not exist has none: the long form is kept then.
    char shortDir[MAX_PATH];
    DWORD length = GetShortPathNameA(installDirCache, shortDir, sizeof shortDir);
    if (length > 0 && length < sizeof shortDir)
        strcpy(installDirCache, shortDir);
    return installDirCache;
}
