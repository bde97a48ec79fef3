#include <winsock2.h>

#include "RealMySql.h"

#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "TestKit.h"

namespace realmysql {

namespace {

std::string HostName()
{
    char name[MAX_PATH] = "";
    DWORD size = sizeof name;
    if (!GetComputerNameExA(ComputerNameDnsHostname, name, &size) || !name[0]) {
        size = sizeof name;
        GetComputerNameA(name, &size);
    }
    return name;
}

std::string MyIniPath()
{
    return testkit::WindowsDir() + "\\my.ini";
}

}  // namespace

std::string ServerDir()
{
    std::string dir = testkit::Env("TARVANE_REAL_MYSQL");
    if (!dir.empty() && dir.back() != '\\')
        dir += '\\';
    return dir;
}

std::string ProgramDir(RealServer server)
{
    if (server == Mysql80)
        return ServerDir().empty() ? "" : ServerDir() + "bin\\";
    std::string dir = testkit::Env("TARVANE_REAL_MYSQL57");
    if (!dir.empty() && dir.back() != '\\')
        dir += '\\';
    return dir;
}

bool RunCapture(const std::string& cmdLine, std::string* output, DWORD* exitCode, DWORD ms)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string base = std::string(temp) + "tvreal_" + std::to_string(GetCurrentProcessId());
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE files[2];
    for (int i = 0; i < 2; ++i)
        files[i] = CreateFileA((base + (i ? ".err" : ".out")).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = files[0];
    si.hStdError = files[1];
    PROCESS_INFORMATION pi = {};
    std::string line = cmdLine;
    bool started = files[0] != INVALID_HANDLE_VALUE && files[1] != INVALID_HANDLE_VALUE &&
                   CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                                  &pi) != 0;
    for (HANDLE file : files)
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    bool ended = false;
    DWORD code = 99;
    if (started) {
        CloseHandle(pi.hThread);
        ended = testkit::WaitProcess(pi.hProcess, ms);
        if (!ended)
            TerminateProcess(pi.hProcess, 1);
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hProcess);
    }
    if (exitCode)
        *exitCode = code;
    // The output with plain line ends; what went to the error stream only
    // when the program failed (clients warn there about a password given
    // on the command line).
    std::string out, err;
    testkit::ReadFileBytes(base + ".out", &out);
    testkit::ReadFileBytes(base + ".err", &err);
    if (code != 0)
        out += err;
    output->clear();
    for (char c : out)
        if (c != '\r')
            output->push_back(c);
    DeleteFileA((base + ".out").c_str());
    DeleteFileA((base + ".err").c_str());
    return started && ended;
}

RealKit::RealKit(const char* tag, const e2e::Keys& keys, RealServer server)
    : run(tag, keys, testkit::KitApache13, 0, false), server_(server), port_(testkit::FreeTcpPort()),
      hadMyIni_(false)
{
    std::string programs = ProgramDir(server);
    for (RealServer needed : {Mysql80, server}) {
        std::string dir = ProgramDir(needed);
        if (dir.empty() || !testkit::FileExists(dir + "mysqld.exe")) {
            problem_ = "the real MySQL server is not at '" + dir +
                       "' (TARVANE_REAL_MYSQL, TARVANE_REAL_MYSQL57): scripts/setup.sh fetches it";
            return;
        }
    }
    if (!run.ok() || port_ == 0) {
        problem_ = "the kit could not be laid out";
        return;
    }
    std::string bin = run.kit.mysqlBin();
    bool linked = testkit::LinkTree(programs, bin, "mysqld.exe", false);
    if (server == Mysql80) {
        linked = testkit::LinkTree(programs, bin, "*.dll", false) && linked;
        for (const char* program : {"mysqladmin.exe", "mysql.exe"})
            linked = testkit::LinkTree(programs, bin, program, false) && linked;
    }
    linked = testkit::LinkTree(programs + (server == Mysql80 ? "..\\share\\" : "share\\"), run.kit.mysqlDir() + "share\\",
                      "*", true) && linked;
    if (!linked) {
        problem_ = "the server's files could not be put into the kit, error " + std::to_string(GetLastError());
        return;
    }

    hadMyIni_ = testkit::ReadFileBytes(MyIniPath(), &savedMyIni_);
    std::string p = std::to_string(port_);
    // 5.7 knows no mysqlx option (and refuses to start on one it does not
    // know).
    std::string x = server == Mysql80 ? "mysqlx=0\r\n" : "";
    if (!testkit::WriteFileBytes(MyIniPath(), "[mysqld]\r\ninnodb_use_native_aio=0\r\nport=" + p + "\r\n" + x +
                                                  "[client]\r\nport=" + p + "\r\n")) {
        problem_ = "my.ini could not be written";
        return;
    }
    if (!initialise())
        return;

    // The 32-bit manager as it ships, where this machine runs 32-bit code
    // (Wine starts it through wine32's loader in this 64-bit prefix); the
    // 64-bit build otherwise. Decided by trying, at the first launch.
    run.useShipped();
}

bool RealKit::initialise()
{
    // Once per kit: the server writes the system tables, and root@localhost
    // without a password. Under Wine the process then waits for ever (see
    // the header): it is judged by its log, and by the buffer pool's dump
    // that InnoDB writes as it shuts down (the log line comes some seconds
    // before the tables are safely written), and ended.
    //
    // 5.7 uses Windows' overlapped file I/O whatever innodb_use_native_aio
    // says (srv0start.cc sets srv_use_native_aio on _WIN32). On a loaded
    // machine Wine now and then completes such a write short with no
    // error, and InnoDB logs "'Windows aio' returned OS error 0" and gives
    // up (os0file.cc), or an assertion of its I/O threads ends the process
    // (int 3). Neither is the kit's doing: the data folder is made afresh,
    // at most three times, and each failed log is printed.
    const char* created = "root@localhost is created with an empty password";
    std::string line = "\"" + run.kit.mysqlBin() + "mysqld.exe\" --initialize-insecure --basedir=\"" +
                       run.kit.mysqlDir().substr(0, run.kit.mysqlDir().size() - 1) + "\"";
    for (int attempt = 1; attempt <= 3; ++attempt) {
        HANDLE process = testkit::StartProcess(line, nullptr, CREATE_NO_WINDOW);
        if (!process) {
            problem_ = "mysqld --initialize-insecure did not start, error " + std::to_string(GetLastError());
            return false;
        }
        bool done = testkit::PumpUntil(
            [&] {
                return (logCount(created) > 0 && testkit::FileExists(dataDir() + "ib_buffer_pool")) ||
                       logCount("Cannot continue operation") > 0 || WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
            },
            180000);
        testkit::EndProcess(process);
        CloseHandle(process);
        if (done && logCount(created) > 0)
            return true;
        problem_ = "mysqld --initialize-insecure did not finish:\n" + errorLog();
        if (attempt == 3)
            return false;
        printf("attempt %d: %s", attempt, problem_.c_str());
        problem_.clear();
        testkit::RemoveTree(dataDir());
    }
    return false;
}

RealKit::~RealKit()
{
    if (run.process && WaitForSingleObject(run.process, 0) == WAIT_TIMEOUT) {
        run.run("/quit");
        testkit::WaitProcess(run.process, 20000);
    }
    // A service this kit registered goes, and so does every server process
    // of the kit (see the header), before the kit's folder.
    endServers();
    run.kit.removeServices();
    endServers();
    testkit::PumpUntil([&] { return servers().empty(); }, 10000);
    // RunCapture's files, when a client's end left them open a moment.
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string base = std::string(temp) + "tvreal_" + std::to_string(GetCurrentProcessId());
    DeleteFileA((base + ".out").c_str());
    DeleteFileA((base + ".err").c_str());
    if (hadMyIni_)
        testkit::WriteFileBytes(MyIniPath(), savedMyIni_);
    else
        DeleteFileA(MyIniPath().c_str());
}

std::string RealKit::errorLogPath() const
{
    return dataDir() + HostName() + ".err";
}

std::string RealKit::errorLog() const
{
    std::string bytes;
    testkit::ReadFileBytes(errorLogPath(), &bytes);
    return bytes;
}

int RealKit::logCount(const char* text) const
{
    std::string all = errorLog();
    int n = 0;
    for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
        ++n;
    return n;
}

bool RealKit::query(const std::string& sql, std::string* output, const char* password)
{
    std::string line = "\"" + ProgramDir(Mysql80) + "mysql.exe\" --default-character-set=utf8mb4 -h 127.0.0.1 -P " +
                       std::to_string(port_) + " -u root" + (password ? std::string(" -p") + password : "") +
                       " -N -B -e \"" + sql + "\"";
    DWORD code = 99;
    return RunCapture(line, output, &code, 60000) && code == 0;
}

bool RealKit::portOpen() const
{
    return testkit::PortAnswers(port_);
}

std::vector<DWORD> RealKit::servers() const
{
    // Vista and later; the build targets XP.
    typedef BOOL(WINAPI * ImageNameFn)(HANDLE, DWORD, LPSTR, PDWORD);
    static ImageNameFn imageName = reinterpret_cast<ImageNameFn>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameA"));
    std::vector<DWORD> found;
    std::string bin = testkit::LongLowerPath(run.kit.mysqlBin());
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {sizeof entry};
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (_stricmp(entry.szExeFile, "mysqld.exe") != 0)
            continue;
        HANDLE process = OpenProcess(0x1000 /* PROCESS_QUERY_LIMITED_INFORMATION */, FALSE, entry.th32ProcessID);
        char path[MAX_PATH] = "";
        DWORD size = sizeof path;
        if (process && imageName(process, 0, path, &size) && testkit::LongLowerPath(path).find(bin) == 0)
            found.push_back(entry.th32ProcessID);
        if (process)
            CloseHandle(process);
    }
    CloseHandle(snapshot);
    return found;
}

bool RealKit::waitShutdown(int count, DWORD ms)
{
    return testkit::PumpUntil([&] { return logCount("Shutdown complete") >= count && !portOpen(); }, ms);
}

int RealKit::endServers()
{
    int ended = 0;
    for (DWORD pid : servers()) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        if (!process)
            continue;
        ended += TerminateProcess(process, 1) != 0;
        WaitForSingleObject(process, 10000);
        CloseHandle(process);
    }
    return ended;
}

}  // namespace realmysql
