// Where the kit is: the "Path" value, else the executable's folder, always
// in short form; and the paths formed from it.
#include <windows.h>
#include <gtest/gtest.h>

#include "Settings.h"
#include "SettingsStores.h"
#include "TestKit.h"

TEST(InstallDir, PathValueGivesItsShortForm)
{
    SettingsStores stores("installdir");
    const std::string longDir = stores.folder() + "Web Development Kit\\";
    ASSERT_TRUE(CreateDirectoryA(longDir.c_str(), nullptr));
    stores.setPath(longDir);
    const std::string shortDir = ShortPath(longDir);
    ASSERT_NE(shortDir, longDir) << "the folder needs a long name";
    EXPECT_EQ(shortDir.find(' '), std::string::npos) << "got " << shortDir;
    EXPECT_EQ(shortDir.back(), '\\') << "got " << shortDir;

    EXPECT_EQ(GetInstallDir(), shortDir);
    ManagerSettings settings;
    EXPECT_EQ(InstallDir(), shortDir);
    EXPECT_EQ(SettingsPath(), shortDir + "Tarvane.ini");
    EXPECT_EQ(LogPath(), shortDir + "Tarvane.log");
}

TEST(InstallDir, ExecutableFolderWithoutPathValue)
{
    SettingsStores stores("installdir");
    stores.deletePath();
    // The build folder may or may not have a long name; the short form of a
    // long name is checked through the "Path" value above.
    EXPECT_EQ(GetInstallDir(), ShortPath(testkit::BinDir())) << "long form " << testkit::BinDir();
}

TEST(InstallDir, ExecutableFolderWhenPathIsNotAString)
{
    SettingsStores stores("installdir");
    stores.setPath(stores.folder(), REG_EXPAND_SZ);
    EXPECT_EQ(GetInstallDir(), ShortPath(testkit::BinDir()));
}

TEST(InstallDir, ResolvedOnceForTheRun)
{
    SettingsStores stores("installdir");
    const std::string first = GetInstallDir();
    EXPECT_EQ(first, ShortPath(stores.folder()));
    stores.deletePath();
    EXPECT_EQ(GetInstallDir(), first);
    EXPECT_EQ((const void*)GetInstallDir(), (const void*)GetInstallDir());
}

TEST(InstallDir, EmptyPathValueGivesTheExecutableFolder)
{
    // An empty directory would turn every path of the kit into a path
    // relative to whatever the current folder is.
    SettingsStores stores("installdir");
    stores.setPath("");
    EXPECT_EQ(GetInstallDir(), ShortPath(testkit::BinDir()));
}

TEST(InstallDir, PathOfAMissingFolderIsKeptAsWritten)
{
    // No short form exists for a folder that is not there: the value stays
    // as read instead of being lost.
    SettingsStores stores("installdir");
    const std::string missing = stores.folder() + "Not Installed Yet\\";
    stores.setPath(missing);
    EXPECT_EQ(GetInstallDir(), missing);
    ManagerSettings settings;
    EXPECT_EQ(SettingsPath(), missing + "Tarvane.ini");
    settings.AutoStartTarvane = false;
}
