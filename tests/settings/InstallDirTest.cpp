// Where the kit is: the "Path" value, else the executable's folder, always
// in short form; and the paths formed from it.
#include <windows.h>
#include <gtest/gtest.h>

#include "InstallDir.h"
#include "Settings.h"
#include "SettingsStores.h"
#include "TestKit.h"

namespace {

// Every folder name of the path in 8.3 form: at most eight characters,
// then at most a dot and three more, no spaces.
bool IsShortForm(const std::string& path)
{
    size_t begin = path.find('\\') + 1;  // after the drive
    while (begin < path.size()) {
        size_t end = path.find('\\', begin);
        if (end == std::string::npos)
            end = path.size();
        std::string name = path.substr(begin, end - begin);
        size_t dot = name.find('.');
        std::string base = name.substr(0, dot), ext = dot == std::string::npos ? "" : name.substr(dot + 1);
        if (base.empty() || base.size() > 8 || ext.size() > 3 || ext.find('.') != std::string::npos ||
            name.find(' ') != std::string::npos)
            return false;
        begin = end + 1;
    }
    return true;
}

// The install directory is the folder named in long form (compared through
// the long form of the answer, case aside) and is written in short form.
void ExpectShortFormOf(const std::string& dir, const std::string& longDir)
{
    EXPECT_TRUE(IsShortForm(dir)) << "got " << dir;
    EXPECT_EQ(dir.back(), '\\') << "got " << dir;
    char longForm[MAX_PATH] = "";
    GetLongPathNameA(dir.c_str(), longForm, sizeof longForm);
    EXPECT_EQ(lstrcmpiA(longForm, longDir.c_str()), 0) << "got " << dir << ", long form " << longForm;
}

// A folder below the root of the Windows drive, removed at the end.
struct RootFolder {
    RootFolder()
    {
        char windows[MAX_PATH] = "";
        GetWindowsDirectoryA(windows, sizeof windows);
        path = std::string(windows, 2) + "\\TVI" + std::to_string(GetCurrentProcessId() % 100000);
        testkit::RemoveTree(path + "\\");
        CreateDirectoryA(path.c_str(), nullptr);
    }
    ~RootFolder() { testkit::RemoveTree(path + "\\"); }
    std::string path;  // an 8.3 name: its own short form
};

}  // namespace

TEST(InstallDir, PathValueGivesItsShortForm)
{
    SettingsStores stores("installdir");
    RootFolder root;
    const std::string longDir = root.path + "\\Web Development Kit\\";
    ASSERT_TRUE(CreateDirectoryA(longDir.c_str(), nullptr)) << "error " << GetLastError();
    stores.setPath(longDir);

    // Windows numbers the short names of a folder (WEBDEV~1); Wine derives
    // them from a hash of the long name, the same for a given name.
    const std::string dir = GetInstallDir();
    EXPECT_TRUE(dir == root.path + "\\WEBDEV~1\\" || dir == root.path + "\\WEB_~UF2\\") << "got " << dir;
    ManagerSettings settings;
    EXPECT_EQ(GetInstallDir(), dir);
    EXPECT_EQ(SettingsPath(), dir + "Tarvane.ini");
    EXPECT_EQ(LogPath(), dir + "Tarvane.log");
}

TEST(InstallDir, ExecutableFolderWithoutPathValue)
{
    SettingsStores stores("installdir");
    stores.deletePath();
    ExpectShortFormOf(GetInstallDir(), testkit::BinDir());
}

TEST(InstallDir, ExecutableFolderWhenPathIsNotAString)
{
    SettingsStores stores("installdir");
    stores.setPath(stores.folder(), REG_EXPAND_SZ);
    ExpectShortFormOf(GetInstallDir(), testkit::BinDir());
}

TEST(InstallDir, ResolvedOnceForTheRun)
{
    SettingsStores stores("installdir");
    const std::string first = GetInstallDir();
    ExpectShortFormOf(first, stores.folder());
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
    ExpectShortFormOf(GetInstallDir(), testkit::BinDir());
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
