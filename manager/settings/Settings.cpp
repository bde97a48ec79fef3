#include "Settings.h"

#include <windows.h>
#include <cstdio>
#include <cstring>

#include "ServiceControl.h"
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

void WriteFlag(const char* key, bool flag)
{
    WritePrivateProfileStringA(Section, key, flag ? "Y" : "N", settingsPath);
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

ManagerSettings::ManagerSettings()
{
    LoadSettings();
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
    if (ServiceControl::isNtFamily())
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

    if (ServiceControl::isNtFamily())
        QueryFlag(key, "StartAsServices", &StartAsServices);
    RegCloseKey(key);
}

void ManagerSettings::SaveSettings()
{
    WriteFlag("AutoStartServers", AutoStartServers);
    WriteFlag("AutoStartTarvane", AutoStartTarvane);
    WriteFlag("AutoReloadConf", AutoReloadConf);
    WritePrivateProfileStringA(MySqlSection, "MySqlArguments", MySqlArguments, settingsPath);
    WriteFlag("ExpertMode", ExpertMode);
    WriteFlag("CheckVersion", CheckVersion);
    // Services exist on the NT family only; elsewhere the file's value is
    // left as it is.
    if (ServiceControl::isNtFamily())
        WriteFlag("StartAsServices", StartAsServices);
    WriteFlag("ShowAlways", ShowAlways);
    char number[16];
    snprintf(number, sizeof number, "%d", ExpandPos);
    WritePrivateProfileStringA(Section, "ExpandPos", number, settingsPath);
    // The Windows 95 family keeps profile writes in a cache: flush it.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, settingsPath);

    // The settings now live in the file: the older key goes for good.
    HKEY key;
    if (RegOpenKeyA(HKEY_CURRENT_USER, ManagerKey, &key) == ERROR_SUCCESS) {
        RegDeleteKeyA(key, "Configuration");
        RegCloseKey(key);
    }

    SaveRunEntry();
}

// Start with Windows: the value named after the application in the
// machine-wide Run key holds the executable's full path in quotes (a path
// with blanks would otherwise start its first word), or is deleted.
void ManagerSettings::SaveRunEntry()
{
    HKEY run;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RunKey, 0, KEY_ALL_ACCESS, &run) != ERROR_SUCCESS)
        return;
    char name[MaxTextLength + 1];
    lstrcpynA(name, LoadText(IDS_APP_NAME), sizeof name);
    // Without its name the entry would land in the key's default value.
    if (name[0] != '\0') {
        if (AutoStartTarvane) {
            char path[MAX_PATH];
            DWORD length = GetModuleFileNameA(GetModuleHandleA(nullptr), path, sizeof path);
            // A cut path would start nothing: write only a whole one.
            char quoted[MAX_PATH + 2];
            if (length > 0 && length < sizeof path) {
                snprintf(quoted, sizeof quoted, "\"%s\"", path);
                RegSetValueExA(run, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(quoted), length + 3);
            }
        } else {
            RegDeleteValueA(run, name);
        }
    }
    RegCloseKey(run);
}
