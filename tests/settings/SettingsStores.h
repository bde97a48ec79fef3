// The stores a settings test touches: the "Path" value pointed at a fresh
// folder (where the settings file then lands), the fallback key and the
// machine-wide Run value. Everything is put back when the object goes.
#pragma once

#include <windows.h>
#include <string>

class SettingsStores {
public:
    explicit SettingsStores(const char* tag);
    ~SettingsStores();

    const std::string& folder() const { return folder_; }

    // The "Path" value under HKCU\Software\Tarvane.
    void setPath(const std::string& value, DWORD type = REG_SZ);
    void deletePath();

    // The settings file, through the install directory GetInstallDir gives.
    std::string iniPath() const;
    void writeIni(const std::string& text) const;
    std::string iniValue(const char* section, const char* key) const;
    // The key names of a section, in file order, separated by commas.
    std::string iniKeys(const char* section) const;

    // HKCU\Software\Tarvane\Configuration.
    void setFallbackFlag(const char* name, DWORD value);
    void setFallbackString(const char* name, const std::string& value);
    bool fallbackKeyExists() const;

    // The "Tarvane" value of HKLM\...\Run (or root's Run key); false when
    // absent.
    bool runValue(std::string* data, DWORD* type, DWORD* size, HKEY root = HKEY_LOCAL_MACHINE) const;
    void setRunValue(const std::string& data, HKEY root = HKEY_LOCAL_MACHINE);

private:
    SettingsStores(const SettingsStores&) = delete;
    SettingsStores& operator=(const SettingsStores&) = delete;

    std::string folder_;
    bool managerKeyExisted_ = false;
    bool pathExisted_ = false;
    DWORD pathType_ = 0;
    std::string pathData_;
    // The Run values of HKLM and HKCU as they were.
    bool runExisted_[2] = {};
    std::string runData_[2];
};

// Full path of the running program, as GetModuleFileNameA gives it.
std::string ModulePath();
