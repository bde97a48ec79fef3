// The Windows 95 family, through Wine's per-program Windows version: a copy
// of this program under a name of its own is made to see Windows 98.
#include <windows.h>
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>

#include "Settings.h"
#include "SettingsStores.h"
#include "System.h"
#include "TestKit.h"

namespace {

const char* const CopyPrefix = "settings_w98_";

bool RunningAsTheCopy()
{
    return ModulePath().find(CopyPrefix) != std::string::npos;
}

// What the copy checks, seeing Windows 98.
void CheckStartAsServicesUntouched()
{
    ASSERT_FALSE(IsNtFamily()) << "GetVersion 0x" << std::hex << GetVersion();
    SettingsStores stores("w98");

    // The settings file's value is neither read nor written.
    stores.writeIni("[Tarvane]\r\nAutoStartServers=Y\r\nStartAsServices=Y\r\nExpertMode=Y\r\n");
    {
        ManagerSettings settings;
        EXPECT_FALSE(settings.StartAsServices);
        EXPECT_TRUE(settings.ExpertMode);
        settings.ExpertMode = false;
    }
    EXPECT_EQ(stores.iniValue("Tarvane", "StartAsServices"), "Y");
    EXPECT_EQ(stores.iniValue("Tarvane", "ExpertMode"), "N");

    // Nor is the fallback key's; a save without a file writes no such key.
    DeleteFileA(stores.iniPath().c_str());
    stores.setFallbackFlag("StartAsServices", 1);
    stores.setFallbackFlag("CheckVersion", 1);
    {
        ManagerSettings settings;
        EXPECT_FALSE(settings.StartAsServices);
        EXPECT_TRUE(settings.CheckVersion);
    }
    EXPECT_EQ(stores.iniValue("Tarvane", "StartAsServices"), "<missing>");
    EXPECT_EQ(stores.iniValue("Tarvane", "CheckVersion"), "Y");
    EXPECT_FALSE(stores.fallbackKeyExists());
}

}  // namespace

TEST(SettingsWin95, StartAsServicesNeitherReadNorWritten)
{
    if (RunningAsTheCopy()) {
        CheckStartAsServicesUntouched();
        return;
    }
    ASSERT_TRUE(IsNtFamily());
    char name[64];
    snprintf(name, sizeof name, "%s%lu.exe", CopyPrefix, GetCurrentProcessId());
    DWORD exitCode = 99;
    bool ended = testkit::RunAsWindowsVersion(ModulePath(), name, "win98", "--gtest_filter=SettingsWin95.*", &exitCode,
                                              60000);
    EXPECT_TRUE(ended);
    EXPECT_EQ(exitCode, 0u) << "the copy seeing Windows 98 failed (its output is above)";
}
