#include "Settings.h"

#include <windows.h>
#include <cstdio>
#include <cstring>

#include "InstallDir.h"
#include "System.h"
#include "Texts.h"
#include "resource.h"

namespace {

char settingsPath[MAX_PATH];
char logPath[MAX_PATH];

const char* const Section = "Tarvane";
const char* const MySqlSection = "MySql";
const char* const ManagerKey = "Software\\Tarvane";
const char* const FallbackKey = "Software\\Tarvane\\Configuration";
const char* const RunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// A flag of the settings file is set exactly when its value begins with an
// uppercase Y; a missing key reads as not set.
bool ReadFlag(const char* key)
{
    char value[100];
    GetPrivateProfileStringA(Section, key, "", value, sizeof value, settingsPath);
    return value[0] == 'Y';
}

// The first error of a save's writes (0: none).
DWORD saveError;

void WriteValue(const char* section, const char* key, const char* value)
{
    if (!WritePrivateProfileStringA(section, key, value, settingsPath) && !saveError)
        saveError = LastErrorOr(ERROR_WRITE_FAULT);
}

void WriteFlag(const char* key, bool flag)
{
    WriteValue(Section, key, flag ? "Y" : "N");
}

// Sets the Run entry `name` to `data` (null: deletes it) in root's Run
// key; 0 or the error. A value that is not there counts as deleted.
LONG WriteRunValue(HKEY root, const char* name, const char* data)
{
    HKEY run;
    if (!data) {
        // Read first: a user may read the machine's key, not write it.
        if (RegOpenKeyExA(root, RunKey, 0, KEY_QUERY_VALUE, &run) != ERROR_SUCCESS)
            return ERROR_SUCCESS;
        bool present = RegQueryValueExA(run, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        RegCloseKey(run);
        if (!present)
            return ERROR_SUCCESS;
    }
    LONG result = RegCreateKeyExA(root, RunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &run, nullptr);
    if (result != ERROR_SUCCESS)
        return result;
    result = data ? RegSetValueExA(run, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                                   static_cast<DWORD>(strlen(data) + 1))
                  : RegDeleteValueA(run, name);
    RegCloseKey(run);
    return result;
}

// A 4-byte flag of the fallback key; the field keeps its value when the
// query fails.
void QueryFlag(HKEY key, const char* name, bool* flag)
{
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS)
        *flag = value != 0;
}

}  // namespace

const char* SettingsPath()
{
    return settingsPath;
}

const char* LogPath()
{
    return logPath;
}

ManagerSettings::ManagerSettings() : runError_(0), writeError_(0)
{
    LoadSettings();
    ProbeSettingsFile();
}

void ManagerSettings::ProbeSettingsFile()
{
    // Opened for writing without a change; a file made for the probe goes
    // again.
    HANDLE file = CreateFileA(settingsPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = GetLastError();
    writeError_ = file == INVALID_HANDLE_VALUE ? LastErrorOr(ERROR_ACCESS_DENIED) : 0;
    if (file == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(file);
    if (error != ERROR_ALREADY_EXISTS)
        DeleteFileA(settingsPath);
}

ManagerSettings::~ManagerSettings()
{
    SaveSettings();
}

void ManagerSettings::LoadSettings()
{
    snprintf(settingsPath, sizeof settingsPath, "%sTarvane.ini", GetInstallDir());
    snprintf(logPath, sizeof logPath, "%sTarvane.log", GetInstallDir());

    AutoStartServers = true;
    AutoStartTarvane = false;
    AutoReloadConf = false;
    MySqlArguments[0] = '\0';
    ExpertMode = false;
    SslMode = false;
    CheckVersion = false;
    StartAsServices = false;
    ShowAlways = true;
    ExpandPos = 1;

    // The settings file is the store once it holds AutoStartServers; before
    // the first orderly exit the settings may still be in the registry.
    if (!LoadFromFile())
        LoadFromFallbackKey();
}

bool ManagerSettings::LoadFromFile()
{
    char value[100];
    if (GetPrivateProfileStringA(Section, "AutoStartServers", "", value, sizeof value, settingsPath) == 0)
        return false;
    AutoStartServers = value[0] == 'Y';
    AutoStartTarvane = ReadFlag("AutoStartTarvane");
    AutoReloadConf = ReadFlag("AutoReloadConf");
    GetPrivateProfileStringA(MySqlSection, "MySqlArguments", "", MySqlArguments, sizeof MySqlArguments,
                             settingsPath);
    ExpertMode = ReadFlag("ExpertMode");
    CheckVersion = ReadFlag("CheckVersion");
    if (IsNtFamily())
        StartAsServices = ReadFlag("StartAsServices");
    ShowAlways = ReadFlag("ShowAlways");
    ExpandPos = GetPrivateProfileIntA(Section, "ExpandPos", 1, settingsPath);
    return true;
}

void ManagerSettings::LoadFromFallbackKey()
{
    HKEY key;
    if (RegOpenKeyA(HKEY_CURRENT_USER, FallbackKey, &key) != ERROR_SUCCESS)
        return;
    QueryFlag(key, "AutoStartServers", &AutoStartServers);
    QueryFlag(key, "AutoStartTarvane", &AutoStartTarvane);
    QueryFlag(key, "AutoReloadConf", &AutoReloadConf);
    QueryFlag(key, "ExpertMode", &ExpertMode);
    QueryFlag(key, "CheckVersion", &CheckVersion);

    // Room for the whole field; a longer value fails and leaves it empty.
    char arguments[MaxMySqlArguments + 2];
    DWORD size = MaxMySqlArguments + 1;
    if (RegQueryValueExA(key, "MySqlArguments", nullptr, nullptr, reinterpret_cast<BYTE*>(arguments), &size) ==
        ERROR_SUCCESS) {
        // The stored data need not carry its terminator.
        arguments[size <= MaxMySqlArguments + 1 ? size : MaxMySqlArguments + 1] = '\0';
        lstrcpynA(MySqlArguments, arguments, sizeof MySqlArguments);
    }

    if (IsNtFamily())
        QueryFlag(key, "StartAsServices", &StartAsServices);
    RegCloseKey(key);
}

void ManagerSettings::SaveSettings()
{
    // The Run entry first: the file then holds what it could do.
    SaveRunEntry();
    saveError = 0;
    WriteFlag("AutoStartServers", AutoStartServers);
    WriteFlag("AutoStartTarvane", AutoStartTarvane);
    WriteFlag("AutoReloadConf", AutoReloadConf);
    WriteValue(MySqlSection, "MySqlArguments", MySqlArguments);
    WriteFlag("ExpertMode", ExpertMode);
    WriteFlag("CheckVersion", CheckVersion);
    // Services exist on the NT family only; elsewhere the file's value is
    // left as it is.
    if (IsNtFamily())
        WriteFlag("StartAsServices", StartAsServices);
    WriteFlag("ShowAlways", ShowAlways);
    char number[16];
    snprintf(number, sizeof number, "%d", ExpandPos);
    WriteValue(Section, "ExpandPos", number);
    // The Windows 95 family keeps profile writes in a cache: flush it.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, settingsPath);
    writeError_ = saveError;

    // The settings now live in the file: the older key goes for good.
    HKEY key;
    if (RegOpenKeyA(HKEY_CURRENT_USER, ManagerKey, &key) == ERROR_SUCCESS) {
        RegDeleteKeyA(key, "Configuration");
        RegCloseKey(key);
    }
}
// Start with Windows: the value named after the application in the Run key
// holds the executable's full path in quotes (a path with blanks would
// otherwise start its first word). The machine's key needs administrator
// rights; the user's own is the fallback.
ManagerSettings::RunPlace ManagerSettings::SaveRunEntry()
{
    runError_ = 0;
    char name[MaxTextLength + 1];
    lstrcpynA(name, LoadText(IDS_APP_NAME), sizeof name);
    // Without its name the entry would land in the key's default value.
    if (name[0] == '\0')
        return RunNowhere;
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(GetModuleHandleA(nullptr), path, sizeof path);
    char quoted[MAX_PATH + 2];
    snprintf(quoted, sizeof quoted, "\"%s\"", path);
    // A cut path would start nothing: only a whole one is written.
    bool wanted = AutoStartTarvane && length > 0 && length < sizeof path;
    LONG machine = WriteRunValue(HKEY_LOCAL_MACHINE, name, wanted ? quoted : nullptr);
    // Written for the machine: no second entry for the user. Else, or
    // unticked, the user's key follows.
    LONG user = WriteRunValue(HKEY_CURRENT_USER, name, wanted && machine != ERROR_SUCCESS ? quoted : nullptr);
    RunPlace place = RunNowhere;
    if (wanted) {
        place = machine == ERROR_SUCCESS ? RunMachine : user == ERROR_SUCCESS ? RunUser : RunNowhere;
        if (place == RunNowhere)
            runError_ = static_cast<unsigned long>(user);
        AutoStartTarvane = place != RunNowhere;
    } else {
        // An entry that could not be removed still starts the manager.
        runError_ = static_cast<unsigned long>(machine != ERROR_SUCCESS ? machine : user);
        place = machine != ERROR_SUCCESS ? RunMachine : user != ERROR_SUCCESS ? RunUser : RunNowhere;
        AutoStartTarvane = place != RunNowhere;
    }
    return place;
}
