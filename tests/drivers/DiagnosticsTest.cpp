// The probes behind "why did the server not start": the tail of a log
// file, and the program that listens on a port.
#include <winsock2.h>
#include <windows.h>
#include <iprtrmib.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Diagnostics.h"
#include "DriverTestKit.h"
#include "ImportHook.h"
#include "PortDiagnosis.h"
#include "ServerDiagnosis.h"
#include "ServerMonitor.h"
#include "TestKit.h"
#include "resource.h"

namespace {

bool RunningOnWine()
{
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

class LogTailTest : public ::testing::Test {
protected:
    void SetUp() override { dir = testkit::MakeTempDir("tail"); }
    void TearDown() override { testkit::RemoveTree(dir); }

    std::vector<std::string> tail(const std::string& path)
    {
        char lines[3][LogTailLineSize];
        memset(lines, 0x7F, sizeof lines);
        int count = ReadLogTail(path.c_str(), lines, 3);
        EXPECT_TRUE(count >= 0 && count <= 3) << "got " << count;
        return std::vector<std::string>(lines, lines + (count > 0 ? count : 0));
    }

    std::string dir;
};

struct TailCase {
    const char* name;
    const char* content;  // null: no file at all
    std::vector<std::string> expected;
};

}  // namespace

TEST_F(LogTailTest, Cases)
{
    const std::string cut(255, 'L');
    const std::string longLine = std::string(300, 'L') + "\n";
    // Only the last 8 KB are read: a line that began before them is left
    // out rather than shown from its middle.
    const std::string beforeTail = std::string(10000, 'x') + "\nend\n";
    const TailCase cases[] = {
        {"missing", nullptr, {}},
        {"empty", "", {}},
        {"one line", "[error] port 80 in use\n", {"[error] port 80 in use"}},
        {"five lines give the last three", "a\nb\nc\nd\ne\n", {"c", "d", "e"}},
        {"no final line feed", "first\nlast", {"first", "last"}},
        {"CR LF and blank lines", "one\r\n\r\n  \r\ntwo\r\nthree\r\n\r\n", {"one", "two", "three"}},
        {"a 300-character line is cut", longLine.c_str(), {cut}},
        {"blank only", "\r\n \n\t\n", {}},
        {"a line begun before the last 8 KB", beforeTail.c_str(), {"end"}},
    };
    for (const TailCase& c : cases) {
        std::string path = dir + "error.log";
        DeleteFileA(path.c_str());
        if (c.content)
            ASSERT_TRUE(testkit::WriteFileBytes(path, c.content));
        EXPECT_EQ(tail(path), c.expected) << c.name;
    }
    char lines[1][LogTailLineSize];
    EXPECT_EQ(ReadLogTail((dir + "error.log").c_str(), lines, 0), 0) << "no room: nothing read";
}

// A 5 MB log its writer holds open, sharing reading only (as loggers do):
// the open must let the writer's write access stand.
TEST_F(LogTailTest, HugeLogHeldByItsWriter)
{
    std::string path = dir + "access.log";
    HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    std::string block;
    for (int i = 0; block.size() < 5 * 1024 * 1024; ++i) {
        char line[64];
        snprintf(line, sizeof line, "127.0.0.1 - - GET /page%07d.html 200\r\n", i);
        block += line;
    }
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer, block.data(), (DWORD)block.size(), &written, nullptr));

    size_t last = block.rfind("127.", block.size() - 3);
    size_t middle = block.rfind("127.", last - 1);
    size_t first = block.rfind("127.", middle - 1);
    std::vector<std::string> expected = {block.substr(first, middle - first - 2),
                                         block.substr(middle, last - middle - 2),
                                         block.substr(last, block.size() - last - 2)};
    EXPECT_EQ(tail(path), expected);

    // The writer goes on while the tail is read; a line without its end yet
    // counts as the last line.
    ASSERT_TRUE(WriteFile(writer, "partial", 7, &written, nullptr));
    EXPECT_EQ(tail(path).back(), "partial");
    CloseHandle(writer);
}

// The test opens a listener of its own on a free port of 127.0.0.1: the
// holder found is this very program.
TEST(PortHolderTest, FindsOwnListenerThenNobody)
{
    WSADATA wsa;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(listener, INVALID_SOCKET);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, (sockaddr*)&address, sizeof address), 0) << WSAGetLastError();
    ASSERT_EQ(listen(listener, 1), 0) << WSAGetLastError();
    int length = sizeof address;
    ASSERT_EQ(getsockname(listener, (sockaddr*)&address, &length), 0);
    int port = ntohs(address.sin_port);

    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, sizeof self);
    const char* selfName = strrchr(self, '\\') ? strrchr(self, '\\') + 1 : self;

    char program[MAX_PATH] = "?";
    DWORD pid = 12345;
    bool found = FindPortHolder(port, program, sizeof program, &pid);
    EXPECT_TRUE(found) << "port " << port;
    // Wine (8.0) lists the listener with owning process id 0, so the owner
    // cannot be checked there; Windows gives the owner.
    if (found && pid == 0 && RunningOnWine()) {
        printf("Wine gives no owning process for port %d: owner checks skipped\n", port);
        EXPECT_STREQ(program, "") << "no name without an owner";
    } else {
        EXPECT_EQ(pid, GetCurrentProcessId()) << "port " << port;
        EXPECT_STREQ(program, selfName);
        // A short buffer gets the name cut, never overrun.
        char shortName[5];
        EXPECT_TRUE(FindPortHolder(port, shortName, sizeof shortName, &pid));
        EXPECT_EQ(std::string(shortName), std::string(selfName).substr(0, 4));
    }

    closesocket(listener);
    pid = 12345;
    strcpy(program, "?");
    EXPECT_FALSE(FindPortHolder(port, program, sizeof program, &pid)) << "port " << port << " is free again";
    EXPECT_EQ(pid, 0u);
    EXPECT_STREQ(program, "");
    EXPECT_FALSE(FindPortHolder(0, program, sizeof program, &pid));
    WSACleanup();
}

namespace {

std::string FixtureDir()
{
    return testkit::BinDir() + "diagfixtures\\";
}

bool CopyFixture(const char* name, const std::string& toDir)
{
    return CopyFileA((FixtureDir() + name).c_str(), (toDir + name).c_str(), FALSE) != 0;
}

// Runs the manager's own message loop, which drains the servers'
// consoles, until the server has stopped.
bool PumpAsTheManager(Server* server, DWORD ms)
{
    MSG message;
    for (DWORD start = GetTickCount(); server->state() != Stopped && GetTickCount() - start < ms;)
        if (GetMessageWatchingServers(&message))
            DispatchMessageA(&message);
    return server->state() == Stopped;
}

// The threads of this process.
int ThreadCount()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {sizeof entry};
    int n = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        n += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return n;
}

std::string Joined(char lines[][LogTailLineSize], int count)
{
    std::string all;
    for (int i = 0; i < count; ++i)
        all += std::string(lines[i]) + "\n";
    return all;
}

}  // namespace

TEST(ServerEndTest, ExitCodesAndRuntimes)
{
    const struct {
        DWORD code;
        UINT text;
    } codes[] = {
        {0xC0000135, IDS_DIAG_CODE_DLL_NOT_FOUND}, {0xC0000139, IDS_DIAG_CODE_ENTRY_POINT},
        {0xC000007B, IDS_DIAG_CODE_BAD_IMAGE},     {0xC0000005, IDS_DIAG_CODE_ACCESS_VIOLATION},
        {0xC0000142, IDS_DIAG_CODE_DLL_INIT},      {0xC0000409, IDS_DIAG_CODE_FAST_FAIL},
        {0xC00000FD, IDS_DIAG_CODE_STACK_OVERFLOW}, {0xC000001D, IDS_DIAG_CODE_BAD_INSTRUCTION},
        {0xC0000017, IDS_DIAG_CODE_NO_MEMORY},     {0xC0000374, IDS_DIAG_CODE_HEAP},
        {0xC000013A, IDS_DIAG_CODE_INTERRUPTED},   {1, 0}, {0, 0}, {0xC0000001, 0},
    };
    for (const auto& c : codes)
        EXPECT_EQ(ExitCodeTextId(c.code), c.text) << std::hex << c.code;

    const struct {
        const char* dll;
        WORD machine;
        const char* runtime;  // null: none known
    } runtimes[] = {
        {"VCRUNTIME140.dll", IMAGE_FILE_MACHINE_AMD64, "Microsoft Visual C++ 2015-2022 Redistributable (x64)"},
        {"vcruntime140_1.dll", IMAGE_FILE_MACHINE_AMD64, "Microsoft Visual C++ 2015-2022 Redistributable (x64)"},
        {"MSVCP140.dll", IMAGE_FILE_MACHINE_I386, "Microsoft Visual C++ 2015-2022 Redistributable (x86)"},
        {"api-ms-win-crt-runtime-l1-1-0.dll", IMAGE_FILE_MACHINE_I386,
         "Microsoft Visual C++ 2015-2022 Redistributable (x86)"},
        {"MSVCR120.dll", IMAGE_FILE_MACHINE_AMD64, "Microsoft Visual C++ 2013 Redistributable (x64)"},
        {"msvcr100.dll", IMAGE_FILE_MACHINE_I386, "Microsoft Visual C++ 2010 Redistributable (x86)"},
        {"libssl-1_1-x64.dll", IMAGE_FILE_MACHINE_AMD64, nullptr},
        {"msvcrt.dll", IMAGE_FILE_MACHINE_I386, nullptr},
    };
    for (const auto& r : runtimes) {
        char runtime[96] = "?";
        EXPECT_EQ(RuntimeForDll(r.dll, r.machine, runtime, sizeof runtime), r.runtime != nullptr) << r.dll;
        EXPECT_STREQ(runtime, r.runtime ? r.runtime : "") << r.dll;
    }
}

// The fixtures: TvDiagProgram.exe imports tvdiag_mid.dll, which imports
// tvdiag_leaf.dll. Each case lays them out in the program's folder and a
// folder of PATH and names what the loader would miss.
TEST(ServerEndTest, ImportWalk)
{
    std::string app = testkit::MakeTempDir("walkapp"), onPath = testkit::MakeTempDir("walkpath");
    const WORD machine = ImageMachine((FixtureDir() + "TvDiagProgram.exe").c_str());
    ASSERT_EQ(machine, sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386);
    const struct {
        const char* name;
        const char* inApp;   // DLLs copied beside the program ("": none)
        const char* onPath;  // DLLs in the PATH folder
        bool leafOtherWidth; // the leaf beside the program is made for the other width
        DllProblem::Kind kind;
        const char* dll;
        const char* neededBy;
    } cases[] = {
        {"all beside", "mid leaf", "", false, DllProblem::None, "", ""},
        {"leaf on PATH", "mid", "leaf", false, DllProblem::None, "", ""},
        {"leaf missing", "mid", "", false, DllProblem::Missing, "tvdiag_leaf.dll", "tvdiag_mid.dll"},
        {"mid missing", "leaf", "", false, DllProblem::Missing, "tvdiag_mid.dll", "TvDiagProgram.exe"},
        {"leaf of the other width first", "mid leaf", "leaf", true, DllProblem::WrongWidth, "tvdiag_leaf.dll",
         "tvdiag_mid.dll"},
    };
    for (const auto& c : cases) {
        for (const std::string& dir : {app, onPath})
            for (const char* dll : {"tvdiag_mid.dll", "tvdiag_leaf.dll"})
                DeleteFileA((dir + dll).c_str());
        ASSERT_TRUE(CopyFixture("TvDiagProgram.exe", app));
        for (const char* dll : {"mid", "leaf"}) {
            std::string file = std::string("tvdiag_") + dll + ".dll";
            if (strstr(c.inApp, dll))
                ASSERT_TRUE(CopyFixture(file.c_str(), app));
            if (strstr(c.onPath, dll))
                ASSERT_TRUE(CopyFixture(file.c_str(), onPath));
        }
        if (c.leafOtherWidth) {
            // The machine field of the PE header, as the other width has it.
            std::string bytes;
            ASSERT_TRUE(testkit::ReadFileBytes(app + "tvdiag_leaf.dll", &bytes));
            DWORD at = *reinterpret_cast<const DWORD*>(&bytes[0x3C]) + 4;
            WORD other = machine == IMAGE_FILE_MACHINE_AMD64 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64;
            memcpy(&bytes[at], &other, 2);
            ASSERT_TRUE(testkit::WriteFileBytes(app + "tvdiag_leaf.dll", bytes));
        }
        std::string pathVariable = "C:\\no such folder;\"" + onPath + "\"";
        DllSearch search;
        BuildDllSearch((app + "TvDiagProgram.exe").c_str(), pathVariable.c_str(), &search);
        DllProblem problem;
        EXPECT_EQ(FindDllProblem((app + "TvDiagProgram.exe").c_str(), search, &problem), c.kind != DllProblem::None)
            << c.name;
        EXPECT_EQ(problem.kind, c.kind) << c.name;
        EXPECT_STREQ(problem.dll, c.dll) << c.name;
        const char* by = strrchr(problem.neededBy, '\\');
        EXPECT_STREQ(by ? by + 1 : problem.neededBy, c.neededBy) << c.name;
    }
    char names[4][64];
    EXPECT_EQ(ImportedDlls((app + "nothing.exe").c_str(), names[0], 64, 4), -1);
    testkit::RemoveTree(app);
    testkit::RemoveTree(onPath);
}

class ServerEndRunTest : public drivertest::DriverTest {};

// Launched as the drivers launch their servers: a program whose DLL is
// missing ends at once with the loader's code, and the lines name the DLL;
// a program that writes to its console has its first lines kept, and one
// that writes a megabyte more is never held up by a full pipe.
TEST_F(ServerEndRunTest, ScenarioAsLaunched)
{
    std::string app = testkit::MakeTempDir("endrun");
    tempDirs.push_back(app);
    ASSERT_TRUE(CopyFixture("TvDiagProgram.exe", app) && CopyFixture("tvdiag_mid.dll", app));
    const std::string program = app + "TvDiagProgram.exe";
    // Before any capture: a drain thread would start with the first.
    const int before = ThreadCount();
    const struct {
        const char* name;
        const char* args;
        bool withLeaf;
        DWORD code;
        std::vector<std::string> said;  // pieces the lines hold
    } cases[] = {
        {"leaf missing", "", false, 0xC0000135, {"TvDiagProgram.exe", "0xC0000135", "tvdiag_leaf.dll", "tvdiag_mid.dll"}},
        {"console kept", "--say hello-console", true, 3, {"0x00000003", "hello-console", "err: hello-console"}},
        // Its end with code 3 shows the pipe never held it up.
        {"flood drained", "--say first --flood 1024", true, 3, {"first"}},
    };
    for (const auto& c : cases) {
        if (c.withLeaf)
            ASSERT_TRUE(CopyFixture("tvdiag_leaf.dll", app));
        drivertest::TestServer* server = makeServer("TvDiagProgram");
        server->asServers = true;
        server->commandLine = "\"" + program + "\" " + c.args;
        ASSERT_EQ(server->start(), 0u) << c.name;
        ASSERT_TRUE(PumpAsTheManager(server, 20000)) << c.name;
        const Server::ProcessEnd& end = server->lastEnd();
        ASSERT_TRUE(end.codeKnown) << c.name;
        EXPECT_EQ(end.exitCode, c.code) << c.name;
        // What the ended program wrote is all there at once: the reader
        // takes what the pipe holds.
        char lines[8][LogTailLineSize];
        std::string all = Joined(lines, ExplainServerEnd(program.c_str(), end.pid, end.exitCode, true, lines, 8));
        for (const std::string& piece : c.said)
            EXPECT_NE(all.find(piece), std::string::npos) << c.name << ": " << piece << " in\n" << all;
        forget(server);
    }
    // Servers running side by side (two programs: a driver takes up a
    // running copy of its own instead of starting one) are drained without
    // a thread.
    ASSERT_TRUE(CopyFileA(program.c_str(), (app + "TvDiagOther.exe").c_str(), FALSE));
    const char* names[2] = {"TvDiagProgram", "TvDiagOther"};
    drivertest::TestServer* both[2];
    for (int i = 0; i < 2; ++i) {
        both[i] = makeServer(names[i]);
        both[i]->asServers = true;
        both[i]->commandLine = "\"" + app + names[i] + ".exe\" --say side --wait 3000";
        ASSERT_EQ(both[i]->start(), 0u) << names[i];
    }
    int during = ThreadCount();
    EXPECT_EQ(during, before) << "threads before any capture " << before << ", with two servers " << during;
    for (auto* side : both) {
        EXPECT_EQ(side->launched.size(), 1u);
        ASSERT_TRUE(PumpAsTheManager(side, 20000));
        forget(side);
    }
    // A program that is gone is said as such.
    char lines[2][LogTailLineSize];
    std::string gone = app + "gone.exe";
    ASSERT_EQ(ExplainServerEnd(gone.c_str(), 0, 0, false, lines, 2), 1);
    EXPECT_NE(std::string(lines[0]).find(gone), std::string::npos) << lines[0];
}

namespace {

// Reads a test data file of real log excerpts.
std::string DataFile(const char* name)
{
    std::string bytes;
    EXPECT_TRUE(testkit::ReadFileBytes(std::string(DIAG_DATA_DIR) + name, &bytes)) << name;
    return bytes;
}

}  // namespace

// Excerpts of the error logs of the real MySQL 8.0.29 and 5.7.30, made
// under Wine (see data/README): each file ends with the run that failed.
TEST(MySqlLogTest, Situations)
{
    const struct {
        const char* file;
        MySqlSituation situation;
        const char* detail;
    } cases[] = {
        {"mysql80-port-taken.err", MySqlPortTaken, "33080"},
        {"mysql57-port-taken.err", MySqlPortTaken, "33057"},
        {"mysql80-data-held.err", MySqlDataFolderHeld, ""},
        {"mysql57-data-held.err", MySqlDataFolderHeld, ""},
        {"mysql80-table-crashed.err", MySqlTableCrashed, ".\\t\\m"},
        {"mysql57-redo-unusable.err", MySqlRecoveryImpossible, ""},
        {"mysql57-recovering.err", MySqlRecovering, ""},
        {"mysql57-recovered.err", MySqlNothingKnown, ""},
        {"mysql80-ready.err", MySqlNothingKnown, ""},
    };
    for (const auto& c : cases) {
        std::string log = DataFile(c.file);
        size_t start = LastRunStart(log.data(), log.size());
        char detail[128] = "?";
        EXPECT_EQ(ClassifyMySqlLog(log.data() + start, log.size() - start, detail, sizeof detail), c.situation)
            << c.file;
        EXPECT_STREQ(detail, c.detail) << c.file;
        // Read as the manager reads it, from the last run's start.
        char lines[1][LogTailLineSize];
        EXPECT_EQ(ExplainMySqlLog((std::string(DIAG_DATA_DIR) + c.file).c_str(), lines, 1),
                  c.situation == MySqlNothingKnown ? 0 : 1)
            << c.file;
    }
    const char* twoRuns = "a\nx starting as process 1\nb\ny starting as process 2\nc";
    EXPECT_EQ(LastRunStart(twoRuns, strlen(twoRuns)), 28u);
}

TEST(KitFolderTest, Warnings)
{
    const std::string deep = "C:\\" + std::string(KitFolderMaxLength - 3, 'k');
    const struct {
        std::string folder;
        std::vector<UINT> ids;
    } cases[] = {
        {"C:\\Tarvane\\", {}},
        {"C:\\Users\\Andr\xE9\\Tarvane\\", {IDS_DIAG_FOLDER_NON_ASCII}},
        {"\\\\server\\share\\Tarvane\\", {IDS_DIAG_FOLDER_NETWORK}},
        {"\\\\?\\C:\\Tarvane\\", {}},
        {deep, {}},
        {deep + "k", {IDS_DIAG_FOLDER_TOO_LONG}},
        {"\\\\server\\\xE9t\xE9\\" + std::string(KitFolderMaxLength, 'k'),
         {IDS_DIAG_FOLDER_NON_ASCII, IDS_DIAG_FOLDER_NETWORK, IDS_DIAG_FOLDER_TOO_LONG}},
    };
    for (const auto& c : cases) {
        UINT ids[3] = {};
        int count = KitFolderWarnings(c.folder.c_str(), ids);
        EXPECT_EQ(std::vector<UINT>(ids, ids + count), c.ids) << c.folder;
    }
}

TEST(PortDiagnosisTest, ExcludedRangesAsNetshPrintsThem)
{
    // As Windows 10 prints them, in English and in French.
    const char* english =
        "\r\nProtocol tcp Port Exclusion Ranges\r\n\r\nStart Port    End Port\r\n----------    --------\r\n"
        "      1540        1639\r\n      5357        5357\r\n     50000       50059     *\r\n\r\n"
        "* - Administered port exclusions.\r\n";
    const char* french = "Protocole tcp Plages d'exclusion de ports\r\n\r\nPort de d\x82" "but    Port de fin\r\n"
                         "-------------    -----------\r\n      7382        7481\r\n";
    const struct {
        const char* text;
        int port;
        bool found;
        unsigned first, last;
    } cases[] = {
        {english, 1600, true, 1540, 1639}, {english, 5357, true, 5357, 5357}, {english, 50059, true, 50000, 50059},
        {english, 80, false, 0, 0},        {english, 1639 + 1, false, 0, 0}, {french, 7400, true, 7382, 7481},
        {"", 80, false, 0, 0},
    };
    for (const auto& c : cases) {
        unsigned first = 0, last = 0;
        EXPECT_EQ(FindExcludedRange(c.text, c.port, &first, &last), c.found) << c.port;
        EXPECT_EQ(first, c.first);
        EXPECT_EQ(last, c.last);
    }
}

// netsh's request queue view: each queue at the margin, its processes'
// "ID:" lines and its URLs indented below it, blank lines within.
TEST(PortDiagnosisTest, HttpQueuesOnThePort)
{
    const char* view =
        "Snapshot of HTTP service state (Request Queue View):\r\n"
        "-----------------------------------------------------\r\n\r\n"
        "Request queue name: Request queue is unnamed.\r\n    Version: 2.0\r\n    State: Active\r\n"
        "    Processes:\r\n        ID: 3640, image: C:\\Windows\\System32\\svchost.exe\r\n\r\n"
        "    Registered URLs:\r\n        HTTP://+:2869/\r\n        HTTP://+:80/116B50EB-ECE2-41AC-8429-9F9E963361B0/\r\n\r\n"
        "Request queue name: ReportServer\r\n    Processes:\r\n        ID: 5120, image: C:\\SSRS\\ReportingServicesService.exe\r\n"
        "        ID: 5188, image: C:\\SSRS\\RSHostingService.exe\r\n"
        "    Registered URLs:\r\n        HTTP://[::1]:8080/REPORTS/\r\n";
    const struct {
        int port;
        std::vector<DWORD> pids;
    } cases[] = {{80, {3640}}, {2869, {3640}}, {8080, {5120, 5188}}, {443, {}}};
    for (const auto& c : cases) {
        DWORD pids[4];
        int count = HttpQueueProcesses(view, c.port, pids, 4);
        EXPECT_EQ(std::vector<DWORD>(pids, pids + count), c.pids) << c.port;
    }
}

namespace {

// Wine's TCP table gives owning process id 0 for every listener, and no
// process of Wine is pid 4 (the "System" process of Windows, in which
// HTTP.sys listens): the hooked table answer puts tablePid as the owner of
// tablePort, as Windows would.
int tablePort;
DWORD tablePid;
typedef DWORD(WINAPI* TableFn)(void*, DWORD*, BOOL, ULONG, TCP_TABLE_CLASS, ULONG);
TableFn realTable;
FARPROC(WINAPI* realGetProcAddress)(HMODULE, LPCSTR);

DWORD WINAPI OwnedTable(void* table, DWORD* size, BOOL order, ULONG family, TCP_TABLE_CLASS kind, ULONG reserved)
{
    DWORD result = realTable(table, size, order, family, kind, reserved);
    if (result == NO_ERROR && table && family == 2) {
        MIB_TCPTABLE_OWNER_PID* rows = static_cast<MIB_TCPTABLE_OWNER_PID*>(table);
        for (DWORD i = 0; i < rows->dwNumEntries; ++i)
            if (ntohs(static_cast<u_short>(rows->table[i].dwLocalPort)) == tablePort)
                rows->table[i].dwOwningPid = tablePid;
    }
    return result;
}

FARPROC WINAPI HookedGetProcAddress(HMODULE module, LPCSTR name)
{
    FARPROC real = realGetProcAddress(module, name);
    if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) && !strcmp(name, "GetExtendedTcpTable") && real) {
        realTable = reinterpret_cast<TableFn>(real);
        return reinterpret_cast<FARPROC>(OwnedTable);
    }
    return real;
}

// Wine never refuses a bind for a reserved range (it has none): the hook
// gives the answer Windows gives for a port in one.
int(WINAPI* realBind)(SOCKET, const sockaddr*, int);
int WINAPI RefusedBind(SOCKET, const sockaddr*, int)
{
    WSASetLastError(WSAEACCES);
    return SOCKET_ERROR;
}

class PortServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_TRUE(scm != nullptr);
    }
    void TearDown() override
    {
        for (SC_HANDLE service : services) {
            SERVICE_STATUS status;
            ControlService(service, SERVICE_CONTROL_STOP, &status);
            testkit::PumpUntil([&] { return QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED; }, 10000);
            DeleteService(service);
            CloseServiceHandle(service);
        }
        CloseServiceHandle(scm);
        WSACleanup();
    }
    // Installs and starts TvService under `name`; its process id (0: failed).
    DWORD runService(const std::string& name, const char* display, const std::string& args)
    {
        std::string binary = "\"" + testkit::BinDir() + "TvService.exe\" " + name + " " + args;
        SC_HANDLE service = CreateServiceA(scm, name.c_str(), display, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                           SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, binary.c_str(), nullptr,
                                           nullptr, nullptr, nullptr, nullptr);
        if (!service)
            return 0;
        services.push_back(service);
        SERVICE_STATUS_PROCESS status = {};
        DWORD size = 0;
        StartServiceA(service, 0, nullptr);
        testkit::PumpUntil([&] {
            return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                        sizeof status, &size) && status.dwCurrentState == SERVICE_RUNNING;
        }, 10000);
        return status.dwCurrentState == SERVICE_RUNNING ? status.dwProcessId : 0;
    }
    static int FreePort()
    {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(s, (sockaddr*)&address, sizeof address);
        int length = sizeof address;
        getsockname(s, (sockaddr*)&address, &length);
        closesocket(s);
        return ntohs(address.sin_port);
    }
    SC_HANDLE scm = nullptr;
    std::vector<SC_HANDLE> services;
};

}  // namespace

// A real service holds the port; "System" (pid 4) holds it for a running
// Reporting Services instance; nobody holds it but binds are refused.
TEST_F(PortServiceTest, WhoHoldsThePort)
{
    const int port = FreePort();
    const std::string name = drivertest::UniqueName("TvPortSvc");
    const DWORD servicePid = runService(name, "Tarvane Port Holder", "--listen " + std::to_string(port));
    ASSERT_NE(servicePid, 0u);
    char names[160];
    EXPECT_TRUE(ServicesOfProcess(servicePid, names, sizeof names));
    EXPECT_STREQ(names, "Tarvane Port Holder");
    EXPECT_FALSE(ServicesOfProcess(GetCurrentProcessId(), names, sizeof names));

    const std::string reportName = "ReportServer$" + drivertest::UniqueName("TV");
    ASSERT_NE(runService(reportName, "SQL Server Reporting Services (TV)", ""), 0u);

    ASSERT_EQ(testkit::HookImport("GetProcAddress", (void*)HookedGetProcAddress, (void**)&realGetProcAddress), 1);
    tablePort = port;
    const struct {
        DWORD owner;
        bool refuseBinds;
        int port;
        const char* said;
    } cases[] = {
        {servicePid, false, port, "Tarvane Port Holder"},
        {4, false, port, "SQL Server Reporting Services (TV)"},
        {0, true, FreePort(), "-"},  // the range: netsh's, or the port alone
        {0, false, FreePort(), nullptr},
    };
    for (const auto& c : cases) {
        tablePid = c.owner;
        if (c.refuseBinds)
            testkit::HookImport("bind", (void*)RefusedBind, (void**)&realBind);
        char lines[1][LogTailLineSize] = {""};
        int count = ExplainPort(c.port, lines, 1);
        if (c.refuseBinds)
            testkit::HookImport("bind", (void*)realBind, (void**)&realBind);
        EXPECT_EQ(count, c.said ? 1 : 0) << lines[0];
        if (c.said) {
            EXPECT_NE(std::string(lines[0]).find(std::to_string(c.port)), std::string::npos) << lines[0];
            EXPECT_NE(std::string(lines[0]).find(c.said), std::string::npos) << lines[0];
        }
    }
    testkit::HookImport("GetProcAddress", (void*)realGetProcAddress, (void**)&realGetProcAddress);
}
