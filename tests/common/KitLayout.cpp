#include <winsock2.h>

#include "KitLayout.h"

#include <tlhelp32.h>

#include <cstring>
#include <set>

#include "TestKit.h"

namespace testkit {

SOCKET ConnectLoopback(int port)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s != INVALID_SOCKET && connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closesocket(s);
        s = INVALID_SOCKET;
    }
    return s;
}

bool PortAnswers(int port)
{
    SOCKET s = ConnectLoopback(port);
    bool open = s != INVALID_SOCKET;
    if (open)
        closesocket(s);
    WSACleanup();
    return open;
}

int FreeTcpPort()
{
    // Ports handed out already in this process, so that two kits of one
    // test never share one even before either binds it.
    static std::set<int> given;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 0;
    int port = 0;
    for (int attempt = 0; attempt < 20 && port == 0; ++attempt) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET)
            break;
        sockaddr_in address;
        memset(&address, 0, sizeof address);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof address;
        if (bind(s, (sockaddr*)&address, sizeof address) == 0 && getsockname(s, (sockaddr*)&address, &size) == 0 &&
            given.insert(ntohs(address.sin_port)).second)
            port = ntohs(address.sin_port);
        closesocket(s);
    }
    WSACleanup();
    return port;
}

std::string DefaultHttpdConf(int port, KitApache layout)
{
    char portLine[32];
    snprintf(portLine, sizeof portLine, layout == KitApache24 ? "Listen %d\r\n" : "Port %d\r\n", port);
    return std::string("# httpd.conf of the test kit\r\n") +
           (layout == KitApache24 ? "" : "ServerType standalone\r\n") +
           "ServerRoot \"C:/Tarvane/Apache\"\r\n"
           "PidFile logs/httpd.pid\r\n"
           "Timeout 300\r\n"
           "KeepAlive On\r\n"
           "MaxRequestsPerChild 0\r\n"
           "ThreadsPerChild 50\r\n" +
           portLine +
           "ServerAdmin admin@localhost\r\n"
           "ServerName localhost\r\n"
           "DocumentRoot \"../www\"\r\n"
           "\r\n"
           "<Directory />\r\n"
           "    Options FollowSymLinks\r\n"
           "    AllowOverride None\r\n"
           "</Directory>\r\n"
           "<Directory \"../www\">\r\n"
           "    Options Indexes FollowSymLinks MultiViews\r\n"
           "    AllowOverride All\r\n"
           "    Order allow,deny\r\n"
           "    Allow from all\r\n"
           "</Directory>\r\n"
           "<IfModule mod_dir.c>\r\n"
           "    DirectoryIndex index.html index.php\r\n"
           "</IfModule>\r\n"
           "<IfModule mod_alias.c>\r\n"
           "    Alias /home/ \"../home/\"\r\n"
           "    Alias /mysql/ \"../phpmyadmin/\"\r\n"
           "</IfModule>\r\n"
           "ErrorLog logs/error.log\r\n"
           "LogLevel warn\r\n"
           "<IfDefine SSL>\r\n"
           "    SSLEngine on\r\n"
           "</IfDefine>\r\n";
}

KitLayout::KitLayout(const char* tag, unsigned mysqlds, bool apache, bool mysqladmin)
    : KitLayout(MakeTempDir(tag), mysqlds, apache, mysqladmin)
{
}

KitLayout::KitLayout(const std::string& folder, unsigned mysqlds, bool apache, bool mysqladmin)
    : rootDir(folder.empty() || folder.back() == '\\' ? folder : folder + '\\'), webPort(FreeTcpPort()),
      complete(webPort != 0)
{
    const std::string bin = BinDir();
    auto copy = [&](const char* name, const std::string& to) {
        if (!CopyFileA((bin + name).c_str(), (to + name).c_str(), FALSE))
            complete = false;
    };
    CreateDirectoryA(rootDir.c_str(), nullptr);
    CreateDirectoryA(apacheDir().c_str(), nullptr);
    CreateDirectoryA((apacheDir() + "conf").c_str(), nullptr);
    CreateDirectoryA((apacheDir() + "logs").c_str(), nullptr);
    CreateDirectoryA(mysqlDir().c_str(), nullptr);
    CreateDirectoryA(mysqlBin().c_str(), nullptr);
    CreateDirectoryA(wwwDir().c_str(), nullptr);
    if (apache)
        copy("apache.exe", apacheDir());
    if (!writeHttpdConf(DefaultHttpdConf(webPort)))
        complete = false;
    static const char* const mysqldNames[] = {"mysqld-nt.exe", "mysqld.exe", "mysqld-opt.exe",
                                              "mysqld-shareware.exe"};
    for (int i = 0; i < 4; ++i)
        if (mysqlds & (1u << i))
            copy(mysqldNames[i], mysqlBin());
    if (mysqladmin)
        copy("mysqladmin.exe", mysqlBin());
}

bool KitLayout::useApache24()
{
    std::string bin = apacheDir() + "bin\\";
    bool moved = CreateDirectoryA(bin.c_str(), nullptr) &&
                 MoveFileA((apacheDir() + "apache.exe").c_str(), (bin + "httpd.exe").c_str());
    layout = KitApache24;
    return moved && writeHttpdConf(DefaultHttpdConf(webPort, KitApache24));
}

KitLayout::~KitLayout()
{
    removeServices();
    endProcesses();
    RemoveTree(rootDir);
}

std::string KitLayout::shortRoot() const
{
    char path[MAX_PATH] = "";
    DWORD n = GetShortPathNameA(rootDir.c_str(), path, sizeof path);
    return (n > 0 && n < sizeof path) ? path : rootDir;
}

bool KitLayout::writeHttpdConf(const std::string& text) const
{
    return WriteFileBytes(httpdConf(), text);
}

void KitLayout::endProcesses() const
{
    std::vector<kitrecord::Record> records = apacheRecords();
    std::vector<kitrecord::Record> more = mysqlRecords();
    records.insert(records.end(), more.begin(), more.end());
    std::set<DWORD> done;
    for (const kitrecord::Record& r : records) {
        if (!done.insert(r.pid).second)
            continue;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE)
            return;
        PROCESSENTRY32 entry;
        entry.dwSize = sizeof entry;
        bool found = false;
        for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
            const char* exe = strrchr(entry.szExeFile, '\\');
            exe = exe ? exe + 1 : entry.szExeFile;
            if (entry.th32ProcessID == r.pid && !_stricmp(exe, r.program.c_str())) {
                found = true;
                break;
            }
        }
        CloseHandle(snapshot);
        if (!found)
            continue;
        KillProcess(r.pid);
    }
}

void KitLayout::removeServices() const
{
    for (const char* name : {"Apache", "Apache2.4", "MySql"}) {
        std::string image = ServiceImagePath(name);
        if (image.empty())
            continue;
        std::string lowerImage = image, lowerRoot = rootDir, lowerShort = shortRoot();
        for (std::string* s : {&lowerImage, &lowerRoot, &lowerShort})
            for (char& c : *s)
                c = (char)tolower((unsigned char)c);
        if (lowerImage.find(lowerRoot) != std::string::npos || lowerImage.find(lowerShort) != std::string::npos)
            RemoveServiceIfPresent(name);
    }
}

std::string ServiceImagePath(const char* name)
{
    std::string image;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return image;
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_CONFIG);
    if (service) {
        DWORD needed = 0;
        QueryServiceConfigA(service, nullptr, 0, &needed);
        std::vector<char> buffer(needed + 1);
        QUERY_SERVICE_CONFIGA* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
        if (needed && QueryServiceConfigA(service, config, needed, &needed) && config->lpBinaryPathName)
            image = config->lpBinaryPathName;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return image;
}

DWORD ServiceState(const char* name)
{
    DWORD state = 0;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return 0;
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
    if (service) {
        SERVICE_STATUS status;
        if (QueryServiceStatus(service, &status))
            state = status.dwCurrentState;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return state;
}

bool CreateServiceNamed(const char* name, const std::string& imagePath)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    SC_HANDLE created = manager ? CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                                 SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, imagePath.c_str(),
                                                 nullptr, nullptr, nullptr, nullptr, nullptr)
                                : nullptr;
    if (created)
        CloseServiceHandle(created);
    if (manager)
        CloseServiceHandle(manager);
    return created != nullptr;
}

bool RemoveServiceIfPresent(const char* name)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return false;
    bool gone = true;
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (service) {
        SERVICE_STATUS status;
        memset(&status, 0, sizeof status);
        if (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED) {
            ControlService(service, SERVICE_CONTROL_STOP, &status);
            PumpUntil(
                [&] { return !QueryServiceStatus(service, &status) || status.dwCurrentState == SERVICE_STOPPED; },
                10000);
        }
        gone = DeleteService(service) || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return gone;
}

}  // namespace testkit
