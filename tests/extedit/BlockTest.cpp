// The extension block on real files in the Windows directory, driven
// through a list held in memory instead of the window's check list box.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "ExtensionBlock.h"
#include "IniFiles.h"
#include "TestKit.h"

namespace {

const char IniProblem[] = "Probleme avec le fichier php.ini !";
const char FormatProblem[] = "Probleme dans le format du fichier php.ini !";
const char ProblemCaption[] = "Probl\xE8me";

const char Head[] = "[PHP]\r\nengine = On\r\n; Paths\r\nextension_dir = \"./\"\r\n;PHPExt\r\n";

struct Item {
    std::string text;
    bool checked;
};

class MemoryView : public ExtensionView {
public:
    void clear() override { items.clear(); }
    int add(const char* text) override
    {
        if (limit >= 0 && (int)items.size() >= limit)
            return -1;
        items.push_back({text, false});
        return (int)items.size() - 1;
    }
    void setChecked(int index, bool checked) override { items.at(index).checked = checked; }
    bool checked(int index) override { return items.at(index).checked; }
    bool text(int index, char* buffer, int size) override
    {
        if (index < 0 || index >= (int)items.size())
            return false;
        snprintf(buffer, size, "%s", items[index].text.c_str());
        return true;
    }
    int count() override { return (int)items.size(); }
    void showMessage(const char* text, const char* caption) override { messages.push_back({text, caption}); }

    std::vector<Item> items;
    std::vector<std::pair<std::string, std::string>> messages;
    int limit = -1;
};

class BlockTest : public ::testing::Test {
protected:
    BlockTest() : block(view) {}

    void loadFrom(const std::string& bytes)
    {
        ASSERT_TRUE(files.writeIni(bytes));
        block.load();
    }

    void expectFormatError()
    {
        ASSERT_EQ(view.items.size(), 1u) << "got " << view.items.size() << " items";
        EXPECT_EQ(view.items[0].text, FormatProblem);
        EXPECT_FALSE(view.items[0].checked);
        ASSERT_EQ(view.messages.size(), 1u) << "got " << view.messages.size() << " messages";
        EXPECT_EQ(view.messages[0].first, FormatProblem);
        EXPECT_EQ(view.messages[0].second, ProblemCaption);
    }

    IniFiles files;
    MemoryView view;
    ExtensionBlock block;
};

std::string Repeat(char c, int n)
{
    return std::string(n, c);
}

}  // namespace

TEST(ParseEntryLine, EntriesGiveTheirNames)
{
    struct Case {
        const char* line;
        short result;
        const char* name;
    } cases[] = {
        {"extension=php_mysql.dll", 1, "mysql.dll"},
        {";extension=php_mysql.dll", 0, "mysql.dll"},
        {"extension=php_", 1, ""},
        {";extension=php_", 0, ""},
        {"extension=php_gd.dll ; image functions", 1, "gd.dll ; image functions"},
        {";extension=php_a=b;c d ", 0, "a=b;c d "},
    };
    for (const Case& c : cases) {
        char line[LineSize];
        snprintf(line, sizeof line, "%s", c.line);
        short result = ParseEntryLine(line);
        EXPECT_EQ(result, c.result) << c.line;
        EXPECT_STREQ(line, c.name) << c.line;
    }
}

TEST(ParseEntryLine, OtherLinesAreLeftAlone)
{
    const char* lines[] = {"",
                           "; a comment",
                           "Extension=php_gd.dll",
                           "extension = php_gd.dll",
                           "; extension=php_gd.dll",
                           "extension=gd.dll",
                           " extension=php_gd.dll",
                           ";PHPExt",
                           ";/PHPExt",
                           "extension=php",
                           ";extension=php",
                           ";;extension=php_gd.dll"};
    for (const char* text : lines) {
        char line[LineSize];
        snprintf(line, sizeof line, "%s", text);
        EXPECT_EQ(ParseEntryLine(line), -1) << "'" << text << "'";
        EXPECT_STREQ(line, text);
    }
}

TEST_F(BlockTest, LoadListsEntriesInFileOrder)
{
    loadFrom(std::string(Head) +
             "extension=php_mysql.dll\r\n"
             ";extension=php_zip.dll\r\n"
             "extension=php_\r\n"
             "extension=php_gd.dll ; image functions\r\n"
             ";extension=php_mysql.dll\r\n"
             "extension=php_a=b;c\r\n"
             ";/PHPExt");
    std::vector<std::pair<std::string, bool>> expected = {{"mysql.dll", true}, {"zip.dll", false},
                                                          {"", true},          {"gd.dll ; image functions", true},
                                                          {"mysql.dll", false}, {"a=b;c", true}};
    ASSERT_EQ(view.items.size(), expected.size()) << "got " << view.items.size();
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(view.items[i].text, expected[i].first) << "item " << i;
        EXPECT_EQ(view.items[i].checked, expected[i].second) << "item " << i;
    }
    EXPECT_TRUE(view.messages.empty()) << "got " << view.messages.size() << " messages";
    EXPECT_EQ(files.readWork(), Head);
    EXPECT_STREQ(block.iniFile(), files.ini.c_str());
    EXPECT_STREQ(block.workFile(), files.work.c_str());
}

TEST_F(BlockTest, ApplyWithoutChangesKeepsTheFile)
{
    const std::string original = std::string(Head) +
                                 "extension=php_mysql.dll\r\n"
                                 ";extension=php_mysql.dll\r\n"
                                 "extension=php_\r\n"
                                 "extension=php_gd.dll ; image functions\r\n"
                                 "extension=php_gd.dll ; image functions\r\n"
                                 ";/PHPExt";
    loadFrom(original);
    ASSERT_EQ(view.items.size(), 5u);
    EXPECT_TRUE(block.apply()) << block.escapedError();
    EXPECT_EQ(files.readIni(), original);
    EXPECT_TRUE(view.messages.empty()) << "got " << view.messages.size() << " messages";
    // Applying reloads: same items, and the working file holds the head again.
    ASSERT_EQ(view.items.size(), 5u);
    EXPECT_EQ(view.items[1].text, "mysql.dll");
    EXPECT_FALSE(view.items[1].checked);
    EXPECT_EQ(files.readWork(), Head);
}

TEST_F(BlockTest, ApplyWritesTheMarks)
{
    loadFrom(std::string(Head) + ";extension=php_x.dll\r\nextension=php_y.dll\r\nextension=php_z.dll\r\n;/PHPExt\r\n");
    ASSERT_EQ(view.items.size(), 3u);
    view.items[0].checked = true;
    view.items[1].checked = false;
    ASSERT_TRUE(block.apply()) << block.escapedError();
    EXPECT_EQ(files.readIni(),
              std::string(Head) + "extension=php_x.dll\r\n;extension=php_y.dll\r\nextension=php_z.dll\r\n;/PHPExt");
    ASSERT_EQ(view.items.size(), 3u);
    EXPECT_TRUE(view.items[0].checked);
    EXPECT_FALSE(view.items[1].checked);
    EXPECT_TRUE(view.items[2].checked);
}

TEST_F(BlockTest, LfOnlyFileIsWrittenWithCrLf)
{
    loadFrom("[PHP]\nengine = On\n;PHPExt\nextension=php_a.dll\n;extension=php_b.dll\n;/PHPExt\n");
    ASSERT_EQ(view.items.size(), 2u);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(files.readWork(), "[PHP]\r\nengine = On\r\n;PHPExt\r\n");
    ASSERT_TRUE(block.apply());
    EXPECT_EQ(files.readIni(), "[PHP]\r\nengine = On\r\n;PHPExt\r\nextension=php_a.dll\r\n;extension=php_b.dll\r\n;/PHPExt");
}

TEST_F(BlockTest, CarriageReturnsAreDroppedAndCtrlZEndsTheFile)
{
    loadFrom("a\r\r\nb\r\n;PH\rPExt\r\nextension=php_a.dll\r\n;/PHPExt\x1A;extension=php_lost.dll\r\n");
    ASSERT_EQ(view.items.size(), 1u) << "got " << view.items.size();
    EXPECT_EQ(view.items[0].text, "a.dll");
    ASSERT_TRUE(block.apply());
    EXPECT_EQ(files.readIni(), "a\r\nb\r\n;PHPExt\r\nextension=php_a.dll\r\n;/PHPExt");
}

TEST_F(BlockTest, MalformedBlocksShowTheFormatError)
{
    const char* blocks[] = {
        ";PHPExt\r\nextension=php_a.dll\r\n\r\n;/PHPExt",              // empty line
        ";PHPExt\r\n; a comment\r\n;/PHPExt",                          // comment
        ";PHPExt\r\nExtension=php_gd.dll\r\n;/PHPExt",                 // case differs
        ";PHPExt\r\n extension=php_gd.dll\r\n;/PHPExt",                // indented
        ";PHPExt\r\nextension = php_gd.dll\r\n;/PHPExt",               // spaces
        ";PHPExt\r\n; extension=php_gd.dll\r\n;/PHPExt",               // space after ;
        ";PHPExt\r\nextension=gd.dll\r\n;/PHPExt",                     // no php_
        ";PHPExt\r\n;PHPExt\r\n;/PHPExt",                              // second start
        ";PHPExt \r\n;/PHPExt",                                       // trailing space, no extension line
        ";PHPExt\r\nextension=php_a.dll\r\n",                          // no end marker
        ";PHPExt\r\nextension=php_a.dll\r\n;/PHPExt \r\n",             // end marker with a space
        "[PHP]\r\nengine = On\r\n",                                    // no block at all
        "",                                                            // empty file
    };
    for (const char* text : blocks) {
        SCOPED_TRACE(text);
        view.messages.clear();
        loadFrom(text);
        expectFormatError();
        // Apply refuses, shows the message, and loads again (a second one).
        EXPECT_TRUE(block.apply());
        EXPECT_EQ(view.messages.size(), 3u) << "got " << view.messages.size();
        EXPECT_EQ(files.readIni(), text);
    }
}

// PHP's own php.ini files, in the folder TARVANE_PHP_INI names.
std::string RealIni(const char* name)
{
    char dir[MAX_PATH] = "";
    GetEnvironmentVariableA("TARVANE_PHP_INI", dir, sizeof dir);
    std::string bytes;
    if (!dir[0] || !testkit::ReadFileBytes(std::string(dir) + "\\" + name, &bytes))
        ADD_FAILURE() << name << " is not in '" << dir << "' (TARVANE_PHP_INI): scripts/fetch-php-ini.sh fetches it";
    return bytes;
}

// php.ini as PHP ships it (no start marker): its extension lines are the
// items, and an apply changes no byte but the leading ";" of the toggled
// line. The last file has the marker: the block's way, its head untouched.
TEST_F(BlockTest, StandardIniListsItsExtensionLinesAndAToggleChangesOneLine)
{
    const std::string php5 =
        "[PHP]\r\n; Windows Extensions\r\n;   extension=php_mysql.dll\r\nextension=php_bz2.dll\r\n"
        ";extension=php_curl.dll\r\n zend_extension=x\r\nExtension=php_a.dll\r\n;extension = php_b.dll\r\n"
        "[Zend]\r\nzend_extension=\"C:\\php\\ext\\php_xdebug.dll\"";
    const std::string mixed = "[PHP]\n;extension=gd\r\nextension=mysqli ; why\n;zend_extension=opcache\nx=1\n\x1A;extension=z";
    struct Case {
        const char* label;
        std::string bytes;
        size_t count;
        std::vector<std::pair<size_t, Item>> some;  // index, text, mark
        size_t toggle;
        const char *from, *to;  // the toggled item's line before and after
    } cases[] = {
        {"php.ini-development", RealIni("php.ini-development"), 35,
         {{0, {"bz2", false}}, {12, {"exif      ; Must be after mbstring as it depends on it", false}},
          {34, {"[Zend] opcache", false}}},
         2, "\n;extension=curl\n", "\nextension=curl\n"},
        {"php.ini-production", RealIni("php.ini-production"), 35, {{2, {"curl", false}}, {34, {"[Zend] opcache", false}}},
         34, "\n;zend_extension=opcache\n", "\nzend_extension=opcache\n"},
        {"PHP 5, CR LF, no last line end", php5, 3,
         {{0, {"php_bz2.dll", true}}, {1, {"php_curl.dll", false}}, {2, {"[Zend] \"C:\\php\\ext\\php_xdebug.dll\"", true}}},
         2, "\nzend_extension=\"C:", "\n;zend_extension=\"C:"},
        {"LF and CR LF, Ctrl-Z", mixed, 3,
         {{0, {"gd", false}}, {1, {"mysqli ; why", true}}, {2, {"[Zend] opcache", false}}},
         0, "\n;extension=gd\r", "\nextension=gd\r"},
        {"the kit's block", ";extension=curl\r\n;PHPExt\r\nextension=php_a.dll\r\n;/PHPExt", 1, {{0, {"a.dll", true}}},
         0, "\nextension=php_a.dll", "\n;extension=php_a.dll"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        view.messages.clear();
        loadFrom(c.bytes);
        ASSERT_EQ(view.items.size(), c.count);
        for (const auto& item : c.some) {
            EXPECT_EQ(view.items[item.first].text, item.second.text);
            EXPECT_EQ(view.items[item.first].checked, item.second.checked) << item.second.text;
        }
        ASSERT_TRUE(block.apply());
        EXPECT_TRUE(files.readIni() == c.bytes) << "an apply without change changed the file";
        bool mark = !view.items[c.toggle].checked;
        view.items[c.toggle].checked = mark;
        ASSERT_TRUE(block.apply());
        std::string expected = c.bytes;
        size_t at = expected.find(c.from);
        ASSERT_NE(at, std::string::npos);
        expected.replace(at, strlen(c.from), c.to);
        EXPECT_TRUE(files.readIni() == expected) << "got " << files.readIni().substr(at > 40 ? at - 40 : 0, 120);
        EXPECT_TRUE(view.messages.empty());
        EXPECT_EQ(view.items.size(), c.count);
        EXPECT_EQ(view.items[c.toggle].checked, mark);
    }
}

TEST_F(BlockTest, StandardIniIsNotWrittenWhenTheListNoLongerMatchesItsLines)
{
    const std::string text = ";extension=a\nextension=b\n";
    loadFrom(text);
    view.items.erase(view.items.begin());
    view.items[0].checked = false;
    ASSERT_TRUE(block.apply());
    EXPECT_EQ(files.readIni(), text);
    EXPECT_EQ(view.messages.size(), 1u);
    ASSERT_EQ(view.items.size(), 2u);  // the file as it is
    EXPECT_TRUE(view.items[1].checked);
}

TEST_F(BlockTest, LinesOf255CharactersAreReadWhole)
{
    const std::string name255 = Repeat('n', 255 - 14);
    const std::string head255 = "; " + Repeat('h', 253);
    const std::string text = head255 + "\r\n;PHPExt\r\nextension=php_" + name255 + "\r\n;/PHPExt";
    loadFrom(text);
    ASSERT_EQ(view.items.size(), 1u);
    EXPECT_EQ(view.items[0].text, name255);
    EXPECT_TRUE(view.messages.empty());
    ASSERT_TRUE(block.apply());
    EXPECT_EQ(files.readIni(), text);
}

TEST_F(BlockTest, LinesOf256CharactersAreFormatErrors)
{
    // In the block.
    const std::string inBlock = ";PHPExt\r\nextension=php_" + Repeat('n', 256 - 14) + "\r\n;/PHPExt";
    loadFrom(inBlock);
    expectFormatError();
    // In the head: its first 255 characters are copied, and reading stops.
    view.messages.clear();
    loadFrom("; " + Repeat('h', 254) + "\r\n;PHPExt\r\n;/PHPExt");
    expectFormatError();
    EXPECT_EQ(files.readWork(), "; " + Repeat('h', 253) + "\r\n");
    EXPECT_TRUE(block.apply());
    EXPECT_EQ(files.readIni(), "; " + Repeat('h', 254) + "\r\n;PHPExt\r\n;/PHPExt");
}

TEST_F(BlockTest, EmptyBlockGivesAnEmptyListAndApplyFails)
{
    const std::string text = std::string(Head) + ";/PHPExt\r\n";
    loadFrom(text);
    EXPECT_TRUE(view.items.empty()) << "got " << view.items.size();
    EXPECT_TRUE(view.messages.empty()) << "got " << view.messages.size();
    EXPECT_FALSE(block.apply());
    EXPECT_STREQ(block.escapedError(), "Indice de liste hors limites (0)");
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(files.readIni(), text);
    EXPECT_EQ(files.readWork(), Head);
}

TEST_F(BlockTest, FormatTextAsFirstNameIsRefused)
{
    const std::string text = std::string(Head) + ";extension=php_" + FormatProblem + "\r\nextension=php_a.dll\r\n;/PHPExt";
    loadFrom(text);
    ASSERT_EQ(view.items.size(), 2u);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_TRUE(block.apply());
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].first, FormatProblem);
    EXPECT_EQ(files.readIni(), text);
    EXPECT_EQ(view.items.size(), 2u);
}

TEST_F(BlockTest, MissingIniLeavesTheListEmptyAndTheWorkFileAlone)
{
    ASSERT_TRUE(testkit::WriteFileBytes(files.work, "left over"));
    view.items.push_back({"stale", true});
    block.load();
    EXPECT_TRUE(view.items.empty());
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].first, IniProblem);
    EXPECT_EQ(view.messages[0].second, ProblemCaption);
    EXPECT_EQ(files.readWork(), "left over");
    EXPECT_FALSE(block.apply());
    EXPECT_FALSE(testkit::FileExists(files.ini));
}

TEST_F(BlockTest, LinesAfterTheEndMarkerAreKept)
{
    loadFrom(std::string(Head) + "extension=php_a.dll\r\n;/PHPExt\r\n\r\n[Zend]\nzend_extension = x\r\n; last");
    ASSERT_EQ(view.items.size(), 1u);
    view.items[0].checked = false;
    ASSERT_TRUE(block.apply());
    EXPECT_EQ(files.readIni(),
              std::string(Head) + ";extension=php_a.dll\r\n;/PHPExt\r\n\r\n[Zend]\r\nzend_extension = x\r\n; last");
}

TEST_F(BlockTest, HeadIsTheOneOfTheLastLoad)
{
    // A change the apply cannot see (the same size, the write time put
    // back): the head written is the one the load captured.
    loadFrom(std::string(Head) + "extension=php_a.dll\r\n;/PHPExt");
    FILETIME written;
    HANDLE file = CreateFileA(files.ini.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    GetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    std::string changed = std::string(Head) + "extension=php_a.dll\r\n;/PHPExt";
    changed.replace(0, 5, "[ZZZ]");
    ASSERT_TRUE(files.writeIni(changed));
    file = CreateFileA(files.ini.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    ASSERT_TRUE(block.apply());
    EXPECT_EQ(files.readIni(), std::string(Head) + "extension=php_a.dll\r\n;/PHPExt");
}

TEST_F(BlockTest, NulByteInTheBlockIsAFormatErrorAndKeptInTheHead)
{
    const std::string head = std::string("a\0b\r\n;PHPExt\r\n", 14);
    loadFrom(head + "extension=php_a.dll\r\n;/PHPExt");
    ASSERT_EQ(view.items.size(), 1u);
    ASSERT_TRUE(block.apply());
    EXPECT_EQ(files.readIni(), head + "extension=php_a.dll\r\n;/PHPExt");

    view.messages.clear();
    loadFrom(std::string(";PHPExt\r\nextension=php_a\0b\r\n;/PHPExt", 37));
    expectFormatError();
}

TEST_F(BlockTest, BlockOf32767EntriesLoadsAndMoreIsRefused)
{
    std::string text = Head;
    for (int i = 0; i < MaxEntries; ++i)
        text += (i % 2 ? ";extension=php_" : "extension=php_") + std::to_string(i) + ".dll\r\n";
    loadFrom(text + ";/PHPExt");
    ASSERT_EQ(view.items.size(), (size_t)MaxEntries);
    EXPECT_EQ(view.items[MaxEntries - 1].text, "32766.dll");
    EXPECT_TRUE(view.items[MaxEntries - 1].checked);
    EXPECT_TRUE(view.messages.empty());
    ASSERT_TRUE(block.apply());
    EXPECT_EQ(files.readIni(), text + ";/PHPExt");

    // One more entry than the list's index can reach: refused as a whole.
    const std::string tooMany = text + "extension=php_extra.dll\r\n;/PHPExt";
    loadFrom(tooMany);
    expectFormatError();
    EXPECT_TRUE(block.apply());
    EXPECT_EQ(files.readIni(), tooMany);
}

TEST_F(BlockTest, ListThatRefusesAnItemIsAFormatError)
{
    view.limit = 2;
    const std::string text = std::string(Head) + "extension=php_a.dll\r\nextension=php_b.dll\r\nextension=php_c.dll\r\n;/PHPExt";
    loadFrom(text);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].first, FormatProblem);
    EXPECT_EQ(files.readIni(), text);
}

TEST_F(BlockTest, ReadOnlyIniIsNeverReplaced)
{
    const std::string text = std::string(Head) + "extension=php_a.dll\r\n;/PHPExt";
    loadFrom(text);
    ASSERT_TRUE(SetFileAttributesA(files.ini.c_str(), FILE_ATTRIBUTE_READONLY));
    view.items[0].checked = false;
    EXPECT_TRUE(block.apply());
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].first, IniProblem);
    EXPECT_EQ(view.messages[0].second, ProblemCaption);
    EXPECT_EQ(files.readIni(), text);
    // The marks stay and the working file is the head again: once php.ini
    // is writable, the same apply goes through.
    EXPECT_FALSE(view.items[0].checked);
    EXPECT_EQ(files.readWork(), Head);
    ASSERT_TRUE(SetFileAttributesA(files.ini.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(block.apply());
    EXPECT_EQ(files.readIni(), std::string(Head) + ";extension=php_a.dll\r\n;/PHPExt");
}

TEST_F(BlockTest, WorkFileThatCannotBeCreatedKeepsIni)
{
    const std::string text = std::string(Head) + "extension=php_a.dll\r\n;/PHPExt";
    // A folder in the working file's place.
    ASSERT_TRUE(CreateDirectoryA(files.work.c_str(), nullptr));
    loadFrom(text);
    ASSERT_EQ(view.items.size(), 1u);
    EXPECT_TRUE(view.messages.empty());
    view.items[0].checked = false;
    EXPECT_TRUE(block.apply());
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].first, IniProblem);
    EXPECT_EQ(files.readIni(), text);
    RemoveDirectoryA(files.work.c_str());

    // A working file held open without sharing, during the load.
    view.messages.clear();
    HANDLE held = CreateFileA(files.work.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    loadFrom(text);
    CloseHandle(held);
    view.items[0].checked = false;
    EXPECT_TRUE(block.apply());
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(files.readIni(), text);
}

TEST_F(BlockTest, WorkFileTouchedAfterTheLoadKeepsIni)
{
    const std::string text = std::string(Head) + "extension=php_a.dll\r\n;/PHPExt";
    struct Change {
        const char* what;
        void (*apply)(const IniFiles&);
    } changes[] = {
        {"removed", [](const IniFiles& f) { DeleteFileA(f.work.c_str()); }},
        {"emptied", [](const IniFiles& f) { testkit::WriteFileBytes(f.work, ""); }},
        {"grown", [](const IniFiles& f) { testkit::WriteFileBytes(f.work, f.readWork() + "x\r\n"); }},
        {"held", [](const IniFiles&) {}},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        view.messages.clear();
        loadFrom(text);
        change.apply(files);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (!strcmp(change.what, "held"))
            held = CreateFileA(files.work.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        view.items[0].checked = false;
        EXPECT_TRUE(block.apply());
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_EQ(view.messages[0].first, IniProblem);
        EXPECT_EQ(files.readIni(), text);
    }
}

TEST_F(BlockTest, IniHeldOpenDuringTheReplacementIsKept)
{
    const std::string text = std::string(Head) + "extension=php_a.dll\r\n;/PHPExt";
    loadFrom(text);
    // Open without delete sharing: php.ini cannot be replaced meanwhile.
    HANDLE held = CreateFileA(files.ini.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    view.items[0].checked = false;
    EXPECT_TRUE(block.apply());
    CloseHandle(held);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].first, IniProblem);
    EXPECT_EQ(files.readIni(), text);
    EXPECT_EQ(files.readWork(), Head);
    EXPECT_TRUE(block.apply());
    EXPECT_EQ(files.readIni(), std::string(Head) + ";extension=php_a.dll\r\n;/PHPExt");
}

namespace {

// The apply's file operations with a failure at one step: the n-th call of
// one operation fails as the system fails it, every other call goes
// through.
enum Step { Create, Write, Flush, Close, Replace, StepCount };
const char* const stepNames[] = {"create", "write", "flush", "close", "replace"};
Step failingStep;
int failingCall;
int calls[StepCount];

bool Fails(Step step)
{
    if (++calls[step] != failingCall || step != failingStep)
        return false;
    SetLastError(step == Replace ? ERROR_SHARING_VIOLATION : ERROR_DISK_FULL);
    return true;
}

HANDLE WINAPI FaultyCreate(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                           DWORD disposition, DWORD flags, HANDLE model)
{
    return Fails(Create) ? INVALID_HANDLE_VALUE
                         : CreateFileA(path, access, share, security, disposition, flags, model);
}

BOOL WINAPI FaultyWrite(HANDLE file, LPCVOID data, DWORD size, LPDWORD done, LPOVERLAPPED overlapped)
{
    *done = 0;
    return !Fails(Write) && WriteFile(file, data, size, done, overlapped);
}

BOOL WINAPI FaultyFlush(HANDLE file)
{
    return !Fails(Flush) && FlushFileBuffers(file);
}

// A close that fails has still released the handle, as on Windows.
BOOL WINAPI FaultyClose(HANDLE file)
{
    BOOL closed = CloseHandle(file);
    return !Fails(Close) && closed;
}

BOOL WINAPI FaultyMove(LPCSTR from, LPCSTR to, DWORD flags)
{
    return !Fails(Replace) && MoveFileExA(from, to, flags);
}

}  // namespace

TEST_F(BlockTest, FailureAtAnyStepOfTheApplyKeepsIniAndSaysSo)
{
    // 1500 entries: about 40 KB, three writes of the working file.
    std::string text = Head;
    for (int i = 0; i < 1500; ++i)
        text += std::string(i % 2 ? ";" : "") + "extension=php_e" + std::to_string(i) + ".dll\r\n";
    text += ";/PHPExt";
    std::string toggled = text;
    toggled.replace(strlen(Head), 0, ";");  // the first entry, switched off

    const struct {
        Step step;
        int call;
    } faults[] = {{Create, 1}, {Write, 1}, {Write, 2}, {Write, 3}, {Flush, 1}, {Close, 1}, {Replace, 1}};
    for (const auto& fault : faults) {
        SCOPED_TRACE(std::string(stepNames[fault.step]) + " " + std::to_string(fault.call));
        loadFrom(text);
        ASSERT_EQ(view.items.size(), 1500u);
        view.items[0].checked = false;
        view.messages.clear();

        failingStep = fault.step;
        failingCall = fault.call;
        memset(calls, 0, sizeof calls);
        const FileOps system = workFileOps;
        workFileOps = {FaultyCreate, FaultyWrite, FaultyFlush, FaultyClose, FaultyMove};
        EXPECT_TRUE(block.apply()) << block.escapedError();
        workFileOps = system;

        EXPECT_GE(calls[fault.step], fault.call) << "the apply never reached this step";
        std::string ini = files.readIni();
        EXPECT_TRUE(ini == text) << "php.ini changed: " << ini.size() << " bytes, " << text.size() << " before";
        ASSERT_EQ(view.messages.size(), 1u) << "got " << view.messages.size() << " messages";
        EXPECT_EQ(view.messages[0].first, IniProblem);
        EXPECT_EQ(view.messages[0].second, ProblemCaption);
        // The marks stay and the next apply writes them.
        EXPECT_FALSE(view.items[0].checked);
        EXPECT_TRUE(block.apply()) << block.escapedError();
        ini = files.readIni();
        EXPECT_TRUE(ini == toggled) << "the apply after the failure wrote " << ini.size() << " bytes, not "
                                    << toggled.size() << ": \"" << ini.substr(0, 200) << "\"";
    }
}

TEST_F(BlockTest, IniWrittenByAnotherProgramSinceTheLoadIsReloadedNotOverwritten)
{
    const std::string text = std::string(Head) + "extension=php_a.dll\r\n;/PHPExt";
    const std::string same = std::string(Head) + "extension=php_b.dll\r\n;/PHPExt";  // the same size
    const std::string longer = std::string(Head) + "extension=php_ab.dll\r\n;/PHPExt";
    const struct {
        const char* name;
        const std::string* written;
        bool laterTime;  // a write time one minute after the load's
        bool changed;
    } cases[] = {
        {"other size", &longer, false, true},
        {"same size, later write", &same, true, true},
        {"rewritten unchanged, same time", &text, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        loadFrom(text);
        FILETIME written;
        HANDLE file = CreateFileA(files.ini.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        GetFileTime(file, nullptr, nullptr, &written);
        CloseHandle(file);
        ASSERT_TRUE(files.writeIni(*c.written));
        ULARGE_INTEGER later = {{written.dwLowDateTime, written.dwHighDateTime}};
        later.QuadPart += c.laterTime ? 600000000ULL : 0;
        written = {later.LowPart, later.HighPart};
        file = CreateFileA(files.ini.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        SetFileTime(file, nullptr, nullptr, &written);
        CloseHandle(file);

        view.items[0].checked = false;
        view.messages.clear();
        EXPECT_TRUE(block.apply());
        if (c.changed) {
            EXPECT_EQ(files.readIni(), *c.written) << "nothing written";
            ASSERT_EQ(view.messages.size(), 1u);
            EXPECT_EQ(view.messages[0].first,
                      "Le fichier php.ini a \xE9t\xE9 modifi\xE9 par un autre programme depuis son chargement.\n"
                      "Rien n'a \xE9t\xE9 \xE9" "crit : la liste montre le fichier tel qu'il est maintenant.");
            EXPECT_EQ(view.messages[0].second, ProblemCaption);
            ASSERT_EQ(view.items.size(), 1u);
            EXPECT_TRUE(view.items[0].checked) << "reloaded from the file as it is";
            // The next apply writes over the file it now shows.
            view.items[0].checked = false;
            EXPECT_TRUE(block.apply());
        }
        std::string expected = *c.written;
        expected.replace(strlen(Head), 0, ";");
        EXPECT_EQ(files.readIni(), expected);
    }
}

TEST_F(BlockTest, ReplacementKeepsTheAttributesOfPhpIni)
{
    loadFrom(std::string(Head) + "extension=php_a.dll\r\n;/PHPExt");
    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    ASSERT_TRUE(SetFileAttributesA(files.ini.c_str(), kept));
    // Setting them is no write: the load's stamp still holds.
    view.items[0].checked = false;
    EXPECT_TRUE(block.apply());
    EXPECT_TRUE(view.messages.empty()) << view.messages[0].first;
    EXPECT_EQ(files.readIni(), std::string(Head) + ";extension=php_a.dll\r\n;/PHPExt");
    DWORD now = GetFileAttributesA(files.ini.c_str());
    SetFileAttributesA(files.ini.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(now & kept, kept) << std::hex << now;
}

TEST_F(BlockTest, QuitRemovesTheWorkFile)
{
    loadFrom(std::string(Head) + ";/PHPExt");
    ASSERT_TRUE(testkit::FileExists(files.work));
    block.removeWorkFile();
    EXPECT_FALSE(testkit::FileExists(files.work));
}

TEST_F(BlockTest, ReplaceByRenamesKeepsIniOnFailure)
{
    const std::string ini = files.ini, work = files.work, backup = files.backup;
    ASSERT_TRUE(files.writeIni("old"));
    ASSERT_TRUE(testkit::WriteFileBytes(work, "new"));
    EXPECT_TRUE(ReplaceByRenames(work.c_str(), ini.c_str(), backup.c_str()));
    EXPECT_EQ(files.readIni(), "new");
    EXPECT_FALSE(testkit::FileExists(work));
    EXPECT_FALSE(testkit::FileExists(backup));

    // No working file: php.ini goes back to its place.
    EXPECT_FALSE(ReplaceByRenames(work.c_str(), ini.c_str(), backup.c_str()));
    EXPECT_EQ(files.readIni(), "new");
    EXPECT_FALSE(testkit::FileExists(backup));

    // A backup left while php.ini is missing is the only copy: refused.
    DeleteFileA(ini.c_str());
    ASSERT_TRUE(testkit::WriteFileBytes(backup, "only copy"));
    ASSERT_TRUE(testkit::WriteFileBytes(work, "newer"));
    EXPECT_FALSE(ReplaceByRenames(work.c_str(), ini.c_str(), backup.c_str()));
    std::string kept;
    EXPECT_TRUE(testkit::ReadFileBytes(backup, &kept));
    EXPECT_EQ(kept, "only copy");

    // A stale backup beside php.ini is replaced.
    ASSERT_TRUE(files.writeIni("current"));
    EXPECT_TRUE(ReplaceByRenames(work.c_str(), ini.c_str(), backup.c_str()));
    EXPECT_EQ(files.readIni(), "newer");
    EXPECT_FALSE(testkit::FileExists(backup));
}

TEST(MorvexResources, IconHasSixteenColourImagesOf32And16Pixels)
{
    for (int size : {32, 16}) {
        SetLastError(0xdeadbeef);
        HICON icon = (HICON)LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(100), IMAGE_ICON, size, size, 0);
        ASSERT_TRUE(icon) << "size " << size << " error " << GetLastError();
        ICONINFO info;
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bitmap;
        ASSERT_TRUE(GetObjectA(info.hbmColor, sizeof bitmap, &bitmap));
        EXPECT_EQ(bitmap.bmWidth, size) << "got " << bitmap.bmWidth;
        EXPECT_EQ(bitmap.bmHeight, size) << "got " << bitmap.bmHeight;
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
    // The directory entries of the icon group: 16 colours, 4 bits per pixel.
    HRSRC group = FindResourceA(nullptr, MAKEINTRESOURCEA(100), (LPCSTR)RT_GROUP_ICON);
    ASSERT_TRUE(group);
    const BYTE* dir = (const BYTE*)LockResource(LoadResource(nullptr, group));
    ASSERT_TRUE(dir);
    WORD count = *(const WORD*)(dir + 4);
    ASSERT_EQ(count, 2);
    for (int i = 0; i < count; ++i) {
        const BYTE* entry = dir + 6 + 14 * i;
        EXPECT_EQ(entry[0], i == 0 ? 32 : 16);
        EXPECT_EQ(entry[2], 16) << "colours of image " << i;
        EXPECT_EQ(*(const WORD*)(entry + 6), 4) << "bits of image " << i;
    }
}

TEST(MorvexResources, MessagesAreWindows1252Texts)
{
    char text[64] = "";
    ASSERT_GT(LoadStringA(GetModuleHandleA(nullptr), 2001, text, sizeof text), 0);
    EXPECT_STREQ(text, "Probl\xE8me");
}
