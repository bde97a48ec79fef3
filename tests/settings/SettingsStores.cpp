#include "SettingsStores.h"

#include <gtest/gtest.h>

#include "InstallDir.h"
#include "TestKit.h"

namespace {

const char* const ManagerKey = "Software\\Tarvane";
const char* const FallbackKey = "Software\\Tarvane\\Configuration";
const char* const RunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const HKEY RunRoots[2] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};

bool ReadValue(HKEY root, const char* keyName, const char* name, std::string* data, DWORD* type)
{
    HKEY key;
    if (RegOpenKeyExA(root, keyName, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    char buffer[4096];
    DWORD size = sizeof buffer;
    LONG result = RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return false;
    data->assign(buffer, size);
    return true;
}

void WriteValue(HKEY root, const char* keyName, const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(root, keyName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS)
        << keyName;
    EXPECT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS) << name;
    RegCloseKey(key);
}

void DeleteValue(HKEY root, const char* keyName, const char* name)
{
    HKEY key;
    if (RegOpenKeyExA(root, keyName, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, name);
        RegCloseKey(key);
    }
}

bool KeyExists(HKEY root, const char* keyName)
{
    HKEY key;
    if (RegOpenKeyExA(root, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

}  // namespace

SettingsStores::SettingsStores(const char* tag) : folder_(testkit::MakeTempDir(tag))
{
    // The prefix belongs to this build: an older key here would be a
    // leftover of a broken run, never somebody's settings.
    RegDeleteKeyA(HKEY_CURRENT_USER, FallbackKey);
    managerKeyExisted_ = KeyExists(HKEY_CURRENT_USER, ManagerKey);
    pathExisted_ = ReadValue(HKEY_CURRENT_USER, ManagerKey, "Path", &pathData_, &pathType_);
    for (int i = 0; i < 2; ++i)
        runExisted_[i] = ReadValue(RunRoots[i], RunKey, "Tarvane", &runData_[i], nullptr);
    setPath(folder_);
}

SettingsStores::~SettingsStores()
{
    RegDeleteKeyA(HKEY_CURRENT_USER, FallbackKey);
    if (pathExisted_)
        WriteValue(HKEY_CURRENT_USER, ManagerKey, "Path", pathType_, pathData_.data(), (DWORD)pathData_.size());
    else
        DeleteValue(HKEY_CURRENT_USER, ManagerKey, "Path");
    if (!managerKeyExisted_)
        RegDeleteKeyA(HKEY_CURRENT_USER, ManagerKey);
    for (int i = 0; i < 2; ++i) {
        if (runExisted_[i])
            WriteValue(RunRoots[i], RunKey, "Tarvane", REG_SZ, runData_[i].data(), (DWORD)runData_[i].size());
        else
            DeleteValue(RunRoots[i], RunKey, "Tarvane");
    }
    testkit::RemoveTree(folder_);
}

void SettingsStores::setPath(const std::string& value, DWORD type)
{
    WriteValue(HKEY_CURRENT_USER, ManagerKey, "Path", type, value.c_str(), (DWORD)value.size() + 1);
}

void SettingsStores::deletePath()
{
    DeleteValue(HKEY_CURRENT_USER, ManagerKey, "Path");
}

std::string SettingsStores::iniPath() const
{
    return std::string(GetInstallDir()) + "Tarvane.ini";
}

void SettingsStores::writeIni(const std::string& text) const
{
    ASSERT_TRUE(testkit::WriteFileBytes(iniPath(), text)) << iniPath();
}

std::string SettingsStores::iniValue(const char* section, const char* key) const
{
    char value[1024];
    GetPrivateProfileStringA(section, key, "<missing>", value, sizeof value, iniPath().c_str());
    return value;
}

std::string SettingsStores::iniKeys(const char* section) const
{
    char pairs[4096];
    DWORD length = GetPrivateProfileSectionA(section, pairs, sizeof pairs, iniPath().c_str());
    std::string keys;
    for (const char* p = pairs; p < pairs + length && *p; p += strlen(p) + 1) {
        const char* equal = strchr(p, '=');
        if (!keys.empty())
            keys += ",";
        keys += equal ? std::string(p, equal) : std::string(p);
    }
    return keys;
}

void SettingsStores::setFallbackFlag(const char* name, DWORD value)
{
    WriteValue(HKEY_CURRENT_USER, FallbackKey, name, REG_DWORD, &value, sizeof value);
}

void SettingsStores::setFallbackString(const char* name, const std::string& value)
{
    WriteValue(HKEY_CURRENT_USER, FallbackKey, name, REG_SZ, value.c_str(), (DWORD)value.size() + 1);
}

bool SettingsStores::fallbackKeyExists() const
{
    return KeyExists(HKEY_CURRENT_USER, FallbackKey);
}

bool SettingsStores::runValue(std::string* data, DWORD* type, DWORD* size, HKEY root) const
{
    if (!ReadValue(root, RunKey, "Tarvane", data, type))
        return false;
    *size = (DWORD)data->size();
    if (!data->empty() && data->back() == '\0')
        data->pop_back();
    return true;
}

void SettingsStores::setRunValue(const std::string& data, HKEY root)
{
    WriteValue(root, RunKey, "Tarvane", REG_SZ, data.c_str(), (DWORD)data.size() + 1);
}

std::string ModulePath()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
}
