// The preferences through the real profile file and registry: which store
// is read, the reading rules, and what a save leaves behind.
#include <windows.h>
#include <gtest/gtest.h>
#include <cstring>
#include <memory>

#include "ImportHook.h"
#include "Settings.h"
#include "SettingsStores.h"
#include "TestKit.h"

namespace {

class SettingsTest : public ::testing::Test {
protected:
    SettingsStores stores{"settings"};
};

const char* const FlagKeys[] = {"AutoStartServers", "AutoStartTarvane", "AutoReloadConf",
                                "ExpertMode",       "CheckVersion",     "StartAsServices", "ShowAlways"};

// A settings file with every flag set to the same text.
std::string EveryFlag(const char* value)
{
    std::string text = "[Tarvane]\r\n";
    for (const char* key : FlagKeys)
        text += std::string(key) + "=" + value + "\r\n";
    return text;
}

std::string Repeat(const char* piece, size_t length)
{
    std::string text;
    while (text.size() < length)
        text += piece;
    text.resize(length);
    return text;
}

}  // namespace

TEST_F(SettingsTest, NoFileNoKeyGivesDefaultsAndFirstSaveWritesEveryKey)
{
    ASSERT_FALSE(testkit::FileExists(stores.iniPath()));
    {
        ManagerSettings settings;
        EXPECT_TRUE(settings.AutoStartServers);
        EXPECT_FALSE(settings.AutoStartTarvane);
        EXPECT_FALSE(settings.AutoReloadConf);
        EXPECT_STREQ(settings.MySqlArguments, "");
        EXPECT_FALSE(settings.ExpertMode);
        EXPECT_FALSE(settings.SslMode);
        EXPECT_FALSE(settings.CheckVersion);
        EXPECT_FALSE(settings.StartAsServices);
        EXPECT_TRUE(settings.ShowAlways);
        EXPECT_EQ(settings.ExpandPos, 1);
        EXPECT_STREQ(SettingsPath(), stores.iniPath().c_str());
        EXPECT_FALSE(testkit::FileExists(stores.iniPath())) << "nothing is written before the end";
        settings.MySqlArguments[0] = '\0';
    }
    EXPECT_EQ(stores.iniKeys("Tarvane"),
              "AutoStartServers,AutoStartTarvane,AutoReloadConf,ExpertMode,CheckVersion,StartAsServices,"
              "ShowAlways,ExpandPos");
    EXPECT_EQ(stores.iniKeys("MySql"), "MySqlArguments");
    EXPECT_EQ(stores.iniValue("Tarvane", "AutoStartServers"), "Y");
    EXPECT_EQ(stores.iniValue("Tarvane", "AutoStartTarvane"), "N");
    EXPECT_EQ(stores.iniValue("Tarvane", "AutoReloadConf"), "N");
    EXPECT_EQ(stores.iniValue("MySql", "MySqlArguments"), "");
    EXPECT_EQ(stores.iniValue("Tarvane", "ExpertMode"), "N");
    EXPECT_EQ(stores.iniValue("Tarvane", "CheckVersion"), "N");
    EXPECT_EQ(stores.iniValue("Tarvane", "StartAsServices"), "N");
    EXPECT_EQ(stores.iniValue("Tarvane", "ShowAlways"), "Y");
    EXPECT_EQ(stores.iniValue("Tarvane", "ExpandPos"), "1");
    EXPECT_FALSE(stores.fallbackKeyExists());
}

TEST_F(SettingsTest, FileValuesLoadedAsWrittenAndKeptBySave)
{
    stores.writeIni("[Tarvane]\r\nAutoStartServers=N\r\nAutoStartTarvane=N\r\nAutoReloadConf=Y\r\n"
                    "ExpertMode=Yes\r\nCheckVersion=Y0\r\nStartAsServices=Y\r\nShowAlways=N\r\nExpandPos=2\r\n"
                    "[MySql]\r\nMySqlArguments=--skip-name-resolve  --language=italian\r\n");
    {
        ManagerSettings settings;
        EXPECT_FALSE(settings.AutoStartServers);
        EXPECT_FALSE(settings.AutoStartTarvane);
        EXPECT_TRUE(settings.AutoReloadConf);
        EXPECT_STREQ(settings.MySqlArguments, "--skip-name-resolve  --language=italian");
        EXPECT_TRUE(settings.ExpertMode);
        EXPECT_TRUE(settings.CheckVersion);
        EXPECT_TRUE(settings.StartAsServices);
        EXPECT_FALSE(settings.ShowAlways);
        EXPECT_EQ(settings.ExpandPos, 2);
        settings.ExpandPos = 0;
        settings.SslMode = true;
    }
    EXPECT_EQ(stores.iniValue("Tarvane", "ExpertMode"), "Y");
    EXPECT_EQ(stores.iniValue("Tarvane", "CheckVersion"), "Y");
    EXPECT_EQ(stores.iniValue("Tarvane", "ExpandPos"), "0");
    EXPECT_EQ(stores.iniValue("MySql", "MySqlArguments"), "--skip-name-resolve  --language=italian");
    EXPECT_EQ(stores.iniValue("Tarvane", "SslMode"), "<missing>") << "the SSL mode is never stored";
    ManagerSettings again;
    EXPECT_EQ(again.ExpandPos, 0);
    EXPECT_FALSE(again.SslMode);
}

TEST_F(SettingsTest, FileWithoutAutoStartServersIsIgnoredAsAWhole)
{
    stores.writeIni("[Tarvane]\r\nAutoStartTarvane=Y\r\nExpertMode=Y\r\nShowAlways=N\r\nExpandPos=2\r\n"
                    "[MySql]\r\nMySqlArguments=--port=3307\r\n");
    std::unique_ptr<ManagerSettings> settings(new ManagerSettings);
    EXPECT_TRUE(settings->AutoStartServers);
    EXPECT_FALSE(settings->AutoStartTarvane);
    EXPECT_FALSE(settings->ExpertMode);
    EXPECT_TRUE(settings->ShowAlways);
    EXPECT_EQ(settings->ExpandPos, 1);
    EXPECT_STREQ(settings->MySqlArguments, "");
    settings.reset();
    // The save makes the file the store from now on.
    EXPECT_EQ(stores.iniValue("Tarvane", "AutoStartServers"), "Y");
    EXPECT_EQ(stores.iniValue("Tarvane", "ShowAlways"), "Y");
}

TEST_F(SettingsTest, EmptyAutoStartServersFallsBackToTheKey)
{
    stores.writeIni("[Tarvane]\r\nAutoStartServers=\r\nExpertMode=N\r\nShowAlways=N\r\n");
    stores.setFallbackFlag("AutoStartServers", 0);
    stores.setFallbackFlag("ExpertMode", 1);
    ManagerSettings settings;
    EXPECT_FALSE(settings.AutoStartServers);
    EXPECT_TRUE(settings.ExpertMode);
    EXPECT_TRUE(settings.ShowAlways);
}

TEST_F(SettingsTest, OnlyAutoStartServersNClearsEveryFlagShowAlwaysIncluded)
{
    stores.writeIni("[Tarvane]\r\nAutoStartServers=N\r\n");
    stores.setFallbackFlag("ExpertMode", 1);  // not read: the file is the store
    ManagerSettings settings;
    EXPECT_FALSE(settings.AutoStartServers);
    EXPECT_FALSE(settings.AutoStartTarvane);
    EXPECT_FALSE(settings.AutoReloadConf);
    EXPECT_FALSE(settings.ExpertMode);
    EXPECT_FALSE(settings.CheckVersion);
    EXPECT_FALSE(settings.StartAsServices);
    EXPECT_FALSE(settings.ShowAlways);
    EXPECT_EQ(settings.ExpandPos, 1);
    EXPECT_STREQ(settings.MySqlArguments, "");
}

TEST_F(SettingsTest, OnlyAnUppercaseYReadsAsTrue)
{
    struct {
        const char* value;
        bool expected;
    } cases[] = {{"Y", true}, {"Yes", true}, {"Y0", true}, {"y", false},
                 {"yes", false}, {"1", false}, {"true", false}, {"N", false}};
    for (const auto& c : cases) {
        stores.writeIni(EveryFlag(c.value));
        ManagerSettings settings;
        EXPECT_EQ(settings.AutoStartServers, c.expected) << "value " << c.value;
        EXPECT_EQ(settings.AutoStartTarvane, c.expected) << "value " << c.value;
        EXPECT_EQ(settings.AutoReloadConf, c.expected) << "value " << c.value;
        EXPECT_EQ(settings.ExpertMode, c.expected) << "value " << c.value;
        EXPECT_EQ(settings.CheckVersion, c.expected) << "value " << c.value;
        EXPECT_EQ(settings.StartAsServices, c.expected) << "value " << c.value;
        EXPECT_EQ(settings.ShowAlways, c.expected) << "value " << c.value;
        // Keep the Run key out of this one.
        settings.AutoStartTarvane = false;
    }
}

TEST_F(SettingsTest, FallbackKeyTakenThenMovedIntoTheFileAndDeleted)
{
    stores.setFallbackFlag("AutoStartServers", 0);
    stores.setFallbackFlag("AutoReloadConf", 1);
    stores.setFallbackFlag("ExpertMode", 2);
    stores.setFallbackFlag("CheckVersion", 1);
    stores.setFallbackFlag("StartAsServices", 1);
    stores.setFallbackString("MySqlArguments", "--port=3307 --console");
    // Neither of these is read from the key.
    stores.setFallbackFlag("ShowAlways", 0);
    stores.setFallbackFlag("ExpandPos", 2);
    {
        ManagerSettings settings;
        EXPECT_FALSE(settings.AutoStartServers);
        EXPECT_FALSE(settings.AutoStartTarvane);
        EXPECT_TRUE(settings.AutoReloadConf);
        EXPECT_TRUE(settings.ExpertMode);
        EXPECT_TRUE(settings.CheckVersion);
        EXPECT_TRUE(settings.StartAsServices);
        EXPECT_STREQ(settings.MySqlArguments, "--port=3307 --console");
        EXPECT_TRUE(settings.ShowAlways);
        EXPECT_EQ(settings.ExpandPos, 1);
        EXPECT_TRUE(stores.fallbackKeyExists()) << "deleted only at the save";
    }
    EXPECT_FALSE(stores.fallbackKeyExists());
    EXPECT_EQ(stores.iniValue("Tarvane", "AutoStartServers"), "N");
    EXPECT_EQ(stores.iniValue("Tarvane", "AutoReloadConf"), "Y");
    EXPECT_EQ(stores.iniValue("Tarvane", "StartAsServices"), "Y");
    EXPECT_EQ(stores.iniValue("MySql", "MySqlArguments"), "--port=3307 --console");

    ManagerSettings fromFile;
    EXPECT_FALSE(fromFile.AutoStartServers);
    EXPECT_TRUE(fromFile.ExpertMode);
    EXPECT_TRUE(fromFile.StartAsServices);
    EXPECT_STREQ(fromFile.MySqlArguments, "--port=3307 --console");
}

TEST_F(SettingsTest, RunValueWrittenThenDeleted)
{
    std::string data;
    DWORD type = 0, size = 0;
    stores.writeIni("[Tarvane]\r\nAutoStartServers=Y\r\nAutoStartTarvane=Y\r\n");
    {
        ManagerSettings settings;
        EXPECT_TRUE(settings.AutoStartTarvane);
    }
    ASSERT_TRUE(stores.runValue(&data, &type, &size)) << "no Run value";
    EXPECT_EQ(type, (DWORD)REG_SZ);
    // Quoted: a path with blanks would otherwise start its first word.
    EXPECT_EQ(data, "\"" + ModulePath() + "\"") << "got " << data;
    EXPECT_EQ(size, ModulePath().size() + 3) << "the length counts the terminator";
    {
        ManagerSettings settings;
        settings.AutoStartTarvane = false;
    }
    EXPECT_FALSE(stores.runValue(&data, &type, &size)) << "got " << data;
    // Deleting a value that is not there does no harm.
    {
        ManagerSettings settings;
        EXPECT_FALSE(settings.AutoStartTarvane);
    }
    EXPECT_FALSE(stores.runValue(&data, &type, &size)) << "got " << data;
    EXPECT_EQ(stores.iniValue("Tarvane", "AutoStartTarvane"), "N");
}

TEST_F(SettingsTest, RunValueOfAnotherPathIsReplaced)
{
    stores.setRunValue("C:\\Old\\Tarvane.exe /start");
    stores.writeIni("[Tarvane]\r\nAutoStartServers=Y\r\nAutoStartTarvane=Yes\r\n");
    { ManagerSettings settings; }
    std::string data;
    DWORD type = 0, size = 0;
    ASSERT_TRUE(stores.runValue(&data, &type, &size));
    EXPECT_EQ(data, "\"" + ModulePath() + "\"") << "got " << data;
}

// Wine runs every program as an administrator: a user without those rights
// is simulated by refusing RegCreateKeyEx for the roots in deniedRoots.
HKEY deniedRoots[2];
void* realCreateKey;
LONG WINAPI DeniedCreateKey(HKEY root, LPCSTR sub, DWORD reserved, LPSTR cls, DWORD options, REGSAM sam,
                            LPSECURITY_ATTRIBUTES sa, PHKEY key, LPDWORD disposition)
{
    if (root == deniedRoots[0] || root == deniedRoots[1])
        return ERROR_ACCESS_DENIED;
    return reinterpret_cast<decltype(&RegCreateKeyExA)>(realCreateKey)(root, sub, reserved, cls, options, sam, sa,
                                                                         key, disposition);
}

// Start with Windows where the machine's Run key is refused: the user's
// own; where both are, nowhere, and the file says so; unticked, it goes
// from both.
TEST_F(SettingsTest, RunValueFallsBackToTheUsersKeyAndFollowsWhatWasWritten)
{
    ASSERT_GT(testkit::HookImport("RegCreateKeyExA", (void*)DeniedCreateKey, &realCreateKey), 0);
    const struct {
        HKEY denied[2];
        bool machine, user, ticked;
        ManagerSettings::RunPlace place;
        unsigned long error;
    } cases[] = {{{nullptr, nullptr}, true, false, true, ManagerSettings::RunMachine, 0},
                 {{HKEY_LOCAL_MACHINE, nullptr}, false, true, true, ManagerSettings::RunUser, 0},
                 {{HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}, false, false, false, ManagerSettings::RunNowhere,
                  ERROR_ACCESS_DENIED}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.place));
        {
            ManagerSettings clear;  // both entries go
            clear.AutoStartTarvane = false;
        }
        stores.writeIni("[Tarvane]\r\nAutoStartServers=Y\r\nAutoStartTarvane=Y\r\n");
        deniedRoots[0] = c.denied[0];
        deniedRoots[1] = c.denied[1];
        {
            ManagerSettings settings;
            EXPECT_EQ(settings.SaveRunEntry(), c.place);
            EXPECT_EQ(settings.runError(), c.error);
            EXPECT_EQ(settings.AutoStartTarvane, c.ticked);
        }
        std::string data;
        DWORD type = 0, size = 0;
        EXPECT_EQ(stores.runValue(&data, &type, &size, HKEY_LOCAL_MACHINE), c.machine);
        EXPECT_EQ(stores.runValue(&data, &type, &size, HKEY_CURRENT_USER), c.user);
        EXPECT_EQ(stores.iniValue("Tarvane", "AutoStartTarvane"), c.ticked ? "Y" : "N");
        deniedRoots[0] = deniedRoots[1] = nullptr;
    }
    // Unticked: both entries go.
    stores.setRunValue("\"C:\\Old\\Tarvane.exe\"", HKEY_LOCAL_MACHINE);
    stores.setRunValue("\"C:\\Old\\Tarvane.exe\"", HKEY_CURRENT_USER);
    {
        ManagerSettings settings;
        settings.AutoStartTarvane = false;
    }
    std::string data;
    DWORD type = 0, size = 0;
    EXPECT_FALSE(stores.runValue(&data, &type, &size, HKEY_LOCAL_MACHINE));
    EXPECT_FALSE(stores.runValue(&data, &type, &size, HKEY_CURRENT_USER));
    testkit::HookImport("RegCreateKeyExA", realCreateKey, &realCreateKey);
}

// A settings file that cannot be written (here a folder takes its name) is
// known from the start, and a save says so too.
TEST_F(SettingsTest, ASettingsFileThatCannotBeWrittenIsSaid)
{
    {
        ManagerSettings settings;
        EXPECT_EQ(settings.writeError(), 0ul);
    }
    ASSERT_TRUE(DeleteFileA(stores.iniPath().c_str()));
    ASSERT_TRUE(CreateDirectoryA(stores.iniPath().c_str(), nullptr));
    ManagerSettings settings;
    EXPECT_NE(settings.writeError(), 0ul);
    settings.SaveSettings();
    EXPECT_NE(settings.writeError(), 0ul);
    RemoveDirectoryA(stores.iniPath().c_str());
}

TEST_F(SettingsTest, LongMySqlArgumentsKeptWholeFromTheFile)
{
    const std::string arguments = Repeat("--key-buffer-size=16M ", MaxMySqlArguments);
    ASSERT_EQ(arguments.size(), 254u);
    ASSERT_NE(arguments.back(), ' ');  // the profile functions drop trailing blanks
    stores.writeIni("[Tarvane]\r\nAutoStartServers=Y\r\n[MySql]\r\nMySqlArguments=" + arguments + "\r\n");
    {
        ManagerSettings settings;
        EXPECT_EQ(strlen(settings.MySqlArguments), 254u);
        EXPECT_EQ(settings.MySqlArguments, arguments);
    }
    EXPECT_EQ(stores.iniValue("MySql", "MySqlArguments"), arguments);
    ManagerSettings again;
    EXPECT_EQ(again.MySqlArguments, arguments);

    // Longer than the field: cut to its 254 characters, never past it.
    stores.writeIni("[Tarvane]\r\nAutoStartServers=Y\r\n[MySql]\r\nMySqlArguments=" + arguments + "abcdef\r\n");
    ManagerSettings cut;
    EXPECT_EQ(cut.MySqlArguments, arguments) << "got " << strlen(cut.MySqlArguments) << " characters";
}

TEST_F(SettingsTest, LongMySqlArgumentsKeptWholeFromTheKey)
{
    const std::string arguments = Repeat("--max-connections=300 ", MaxMySqlArguments);
    stores.setFallbackString("MySqlArguments", arguments);
    {
        ManagerSettings settings;
        EXPECT_EQ(strlen(settings.MySqlArguments), 254u);
        EXPECT_EQ(settings.MySqlArguments, arguments);
    }
    // Too long for the field: the value is not taken.
    stores.setFallbackString("MySqlArguments", arguments + "x");
    stores.writeIni("");
    ManagerSettings tooLong;
    EXPECT_STREQ(tooLong.MySqlArguments, "");
}
