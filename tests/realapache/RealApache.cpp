#include <winsock2.h>

#include "RealApache.h"

#include <tlhelp32.h>

#include <cctype>
#include <cstdio>

#include "TestKit.h"

namespace realapache {

std::string ServerDir()
{
    std::string dir = testkit::Env("TARVANE_REAL_APACHE");
    if (!dir.empty() && dir.back() != '\\')
        dir += '\\';
    return dir;
}

std::string HttpdConf(int port, const char* extra)
{
    char text[2048];
    snprintf(text, sizeof text,
             "# httpd.conf of the test kit, for the real Apache 2.4\r\n"
             "Listen %d\r\n"
             "ServerName localhost\r\n"
             "LoadModule authz_core_module modules/mod_authz_core.so\r\n"
             "LoadModule authz_host_module modules/mod_authz_host.so\r\n"
             "LoadModule mime_module modules/mod_mime.so\r\n"
             "LoadModule dir_module modules/mod_dir.so\r\n"
             "LoadModule log_config_module modules/mod_log_config.so\r\n"
             "LoadModule alias_module modules/mod_alias.so\r\n"
             "PidFile logs/httpd.pid\r\n"
             "ErrorLog logs/error.log\r\n"
             "LogFormat \"%%h %%l %%u %%t \\\"%%r\\\" %%>s %%b\" common\r\n"
             "CustomLog logs/access.log common\r\n"
             "TypesConfig conf/mime.types\r\n"
             "DocumentRoot \"../www\"\r\n"
             "<Directory \"../www\">\r\n"
             "    Require all granted\r\n"
             "</Directory>\r\n"
             "DirectoryIndex index.html\r\n"
             "%s",
             port, extra);
    return text;
}

RealKit::RealKit(const char* tag)
    : run(tag, {}, testkit::KitApache24)
{
    std::string server = ServerDir();
    if (server.empty() || !testkit::FileExists(server + "bin\\httpd.exe")) {
        problem_ = "the real Apache is not at '" + server + "' (TARVANE_REAL_APACHE): scripts/setup.sh builds it";
        return;
    }
    if (!run.ok()) {
        problem_ = "the kit could not be laid out";
        return;
    }
    std::string apache = run.kit.apacheDir();
    // The stand-in httpd.exe gives way to the real one.
    if (!testkit::LinkTree(server + "bin\\", apache + "bin\\", "*", false) ||
        !testkit::LinkTree(server + "modules\\", apache + "modules\\", "*.so", false) ||
        !testkit::LinkTree(server + "conf\\", apache + "conf\\", "mime.types", false) || !writeConf(run.kit.port())) {
        problem_ = "the server's files could not be put into the kit, error " + std::to_string(GetLastError());
        return;
    }
    run.useShipped();
}

RealKit::~RealKit()
{
    if (run.process && WaitForSingleObject(run.process, 0) == WAIT_TIMEOUT) {
        run.run("/quit");
        testkit::WaitProcess(run.process, 20000);
    }
    run.kit.removeServices();
    endServers();
}

bool RealKit::writeConf(int port, const char* extra) const
{
    return run.kit.writeHttpdConf(HttpdConf(port, extra));
}

bool RealKit::serves(int port, DWORD ms) const
{
    int status = 0;
    std::string body;
    return testkit::PumpUntil(
        [&] { return e2e::HttpGet(port, "/", &status, &body) && status == 200 && body == e2e::PageText; }, ms);
}

std::vector<Process> RealKit::servers() const
{
    typedef BOOL(WINAPI * ImageNameFn)(HANDLE, DWORD, LPSTR, PDWORD);
    static ImageNameFn imageName = reinterpret_cast<ImageNameFn>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameA"));
    std::vector<Process> found;
    std::string bin = testkit::LongLowerPath(run.kit.apacheDir() + "bin\\");
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {sizeof entry};
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (_stricmp(entry.szExeFile, "httpd.exe") != 0)
            continue;
        HANDLE process = OpenProcess(0x1000 /* PROCESS_QUERY_LIMITED_INFORMATION */, FALSE, entry.th32ProcessID);
        char path[MAX_PATH] = "";
        DWORD size = sizeof path;
        if (process && imageName(process, 0, path, &size) && testkit::LongLowerPath(path).find(bin) == 0)
            found.push_back({entry.th32ProcessID, entry.th32ParentProcessID});
        if (process)
            CloseHandle(process);
    }
    CloseHandle(snapshot);
    return found;
}

bool RealKit::waitGone(int port, DWORD ms) const
{
    return testkit::PumpUntil([&] { return servers().empty() && !testkit::PortAnswers(port); }, ms);
}

int RealKit::endServers() const
{
    int ended = 0;
    for (const Process& p : servers())
        ended += testkit::KillProcess(p.pid);
    return ended;
}

std::string RealKit::errorLog() const
{
    std::string bytes;
    testkit::ReadFileBytes(run.kit.logsDir() + "error.log", &bytes);
    return bytes;
}

}  // namespace realapache
