// apache.exe stand-in as a web server: files, statuses and types over real
// sockets, the log files, a port already taken, a restart onto a new port.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "KitLayout.h"
#include "StandInHelpers.h"
#include "TestKit.h"

namespace {

const char kIndex[] = "<html><body>index</body></html>\n";
const char kCss[] = "body { color: black; }\n";
const char kHome[] = "<html><body>accueil</body></html>\n";
const char kSecret[] = "secret outside the document root";

struct Answer {
    int status = 0;
    std::string head;  // status line and headers
    std::string body;
};

Answer Fetch(int port, const std::string& request)
{
    std::string raw;
    Answer answer;
    if (!standin::HttpExchange(port, request, &raw))
        return answer;
    size_t end = raw.find("\r\n\r\n");
    answer.head = raw.substr(0, end);
    answer.body = end == std::string::npos ? "" : raw.substr(end + 4);
    if (!raw.compare(0, 9, "HTTP/1.1 "))
        answer.status = atoi(raw.c_str() + 9);
    return answer;
}

// Another server on the port.
SOCKET Listen(int port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons((u_short)port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, (sockaddr*)&address, sizeof address) == 0 && listen(s, 5) == 0)
        return s;
    ADD_FAILURE() << "cannot listen on " << port << ": error " << WSAGetLastError();
    closesocket(s);
    return INVALID_SOCKET;
}

std::string Slashed(std::string path)
{
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path;
}

class ApacheServe : public ::testing::Test {
protected:
    testkit::KitLayout kit{"serve"};
    HANDLE server = nullptr;

    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        ASSERT_TRUE(kit.ok());
        CreateDirectoryA((kit.root() + "home").c_str(), nullptr);
        ASSERT_TRUE(testkit::WriteFileBytes(kit.wwwDir() + "index.html", kIndex));
        ASSERT_TRUE(testkit::WriteFileBytes(kit.wwwDir() + "site.css", kCss));
        ASSERT_TRUE(testkit::WriteFileBytes(kit.root() + "home\\accueil.html", kHome));
        ASSERT_TRUE(testkit::WriteFileBytes(kit.root() + "secret.txt", kSecret));
    }

    void TearDown() override
    {
        if (server) {
            if (standin::Alive(server))
                TerminateProcess(server, 1);
            WaitForSingleObject(server, 5000);
            CloseHandle(server);
        }
        WSACleanup();
    }

    // As the manager starts Apache; it listens before it writes its pid.
    void startServer()
    {
        standin::Launch how;
        how.curDir = kit.apacheDir();
        PROCESS_INFORMATION pi = standin::Start(kit.apacheExe() + " -k start", how);
        ASSERT_NE(pi.hProcess, nullptr);
        CloseHandle(pi.hThread);
        server = pi.hProcess;
        ASSERT_TRUE(testkit::PumpUntil([&] { return testkit::FileExists(kit.pidFile()); }, 20000));
    }

    standin::Result run(const std::string& args)
    {
        standin::Result result;
        EXPECT_TRUE(standin::RunCaptured(kit.apacheExe() + args, &result, kit.apacheDir()));
        return result;
    }

    std::string log(const char* name) const
    {
        std::string text;
        testkit::ReadFileBytes(kit.logsDir() + name, &text);
        return text;
    }
};

}  // namespace

TEST_F(ApacheServe, AnswersFilesStatusesAndLogsEachRequest)
{
    ASSERT_NO_FATAL_FAILURE(startServer());
    const int kRefused = -1;  // 403 or 404, never the file
    struct Case {
        const char* request;
        int status;
        const char* type;  // expected Content-Type, null: not checked
        const char* body;  // expected body, null: not checked
    } cases[] = {
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 200, "text/html", kIndex},
        {"GET /site.css?v=2 HTTP/1.0\r\n\r\n", 200, "text/css", kCss},
        {"HEAD / HTTP/1.0\r\n\r\n", 200, "text/html", ""},
        {"GET /home/accueil.html HTTP/1.0\r\nUser-Agent: test\r\n\r\n", 200, "text/html", kHome},
        {"GET /missing.html HTTP/1.0\r\n\r\n", 404, nullptr, nullptr},
        {"garbage\r\n\r\n", 400, nullptr, nullptr},
        {"GET / HTTP/1.1\r\n\r\n", 400, nullptr, nullptr},  // HTTP/1.1 without Host
        {"GET / HTTP/9.9\r\n\r\n", 400, nullptr, nullptr},
        {"POST / HTTP/1.0\r\n\r\n", 501, nullptr, nullptr},
        {"GET /../secret.txt HTTP/1.0\r\n\r\n", kRefused, nullptr, nullptr},
        {"GET /%2e%2e/secret.txt HTTP/1.0\r\n\r\n", kRefused, nullptr, nullptr},
        {"GET /..%5csecret.txt HTTP/1.0\r\n\r\n", kRefused, nullptr, nullptr},
        {"GET /..\\secret.txt HTTP/1.0\r\n\r\n", kRefused, nullptr, nullptr},
        {"GET /home/../../secret.txt HTTP/1.0\r\n\r\n", kRefused, nullptr, nullptr},
        {"GET /.%2e/secret.txt HTTP/1.0\r\n\r\n", kRefused, nullptr, nullptr},
        {"GET /... HTTP/1.0\r\n\r\n", kRefused, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        Answer a = Fetch(kit.port(), c.request);
        if (c.status == kRefused)
            EXPECT_TRUE(a.status == 403 || a.status == 404) << c.request << "got " << a.status;
        else
            EXPECT_EQ(a.status, c.status) << c.request << "got " << a.status << "\n" << a.head;
        EXPECT_EQ(a.body.find("secret outside"), std::string::npos) << c.request;
        if (c.type) {
            EXPECT_NE(a.head.find(std::string("\r\nContent-Type: ") + c.type + "\r\n"), std::string::npos)
                << c.request << "got " << a.head;
        }
        if (c.body) {
            EXPECT_EQ(a.body, c.body) << c.request;
        }
        // HEAD announces the length of what GET would send.
        size_t length = strncmp(c.request, "HEAD", 4) ? a.body.size() : strlen(kIndex);
        EXPECT_NE(a.head.find("\r\nContent-Length: " + std::to_string(length) + "\r\n"), std::string::npos)
            << c.request << "got " << a.head;
        for (const char* header : {"\r\nDate: ", "\r\nServer: Apache (stand-in)\r\n", "\r\nConnection: close"})
            EXPECT_NE(a.head.find(header), std::string::npos) << c.request << header << " missing in " << a.head;
    }

    // A folder without its final slash is sent to it.
    CreateDirectoryA((kit.wwwDir() + "sub").c_str(), nullptr);
    Answer moved = Fetch(kit.port(), "GET /sub HTTP/1.0\r\n\r\n");
    EXPECT_EQ(moved.status, 301) << "got " << moved.status;
    std::string location = "\r\nLocation: http://127.0.0.1:" + std::to_string(kit.port()) + "/sub/\r\n";
    EXPECT_NE(moved.head.find(location), std::string::npos) << "got " << moved.head;
    const size_t requests = sizeof cases / sizeof cases[0] + 1;

    // One access.log line per request, in the Common Log Format.
    std::string access = log("access.log");
    size_t lines = 0;
    for (size_t pos = 0; (pos = access.find("\r\n", pos)) != std::string::npos; pos += 2)
        ++lines;
    EXPECT_EQ(lines, requests) << access;
    std::string first = access.substr(0, access.find("\r\n"));
    // 127.0.0.1 - - [07/Dec/2026:23:59:59 +0000] "GET / HTTP/1.1" 200 32
    ASSERT_GT(first.size(), 44u) << first;
    EXPECT_EQ(first.substr(0, 15), "127.0.0.1 - - [") << first;
    EXPECT_TRUE(first[17] == '/' && first[21] == '/' && first[26] == ':' && first[35] == ' ' && first[41] == ']')
        << first;
    EXPECT_EQ(first.substr(43), "\"GET / HTTP/1.1\" 200 " + std::to_string(strlen(kIndex))) << first;
    EXPECT_NE(access.find("] \"HEAD / HTTP/1.0\" 200 -\r\n"), std::string::npos) << access;
    EXPECT_NE(access.find("] \"garbage\" 400 "), std::string::npos) << access;

    std::string errors = log("error.log");
    std::string missing =
        "] [error] [client 127.0.0.1] File does not exist: " + Slashed(kit.wwwDir()) + "missing.html\r\n";
    EXPECT_NE(errors.find(missing), std::string::npos) << errors;
}

TEST_F(ApacheServe, TakenPortEndsStartWithBindError)
{
    SOCKET other = Listen(kit.port());
    ASSERT_NE(other, INVALID_SOCKET);
    standin::Result r = run(" -k start");
    closesocket(other);
    EXPECT_EQ(r.exitCode, 1u) << "got " << r.exitCode << ": " << r.err;
    std::string bindError = "(OS 10048)";
    std::string where = ": make_sock: could not bind to address 127.0.0.1:" + std::to_string(kit.port()) + "\r\n";
    std::string errors = log("error.log");
    EXPECT_NE(errors.find("] [crit] " + bindError), std::string::npos) << errors;
    EXPECT_NE(errors.find(where + "["), std::string::npos) << errors;
    EXPECT_NE(errors.find("] [alert] no listening sockets available, shutting down\r\n"), std::string::npos) << errors;
    EXPECT_NE(r.err.find(where + "no listening sockets available, shutting down\r\n"), std::string::npos) << r.err;
    EXPECT_FALSE(testkit::FileExists(kit.pidFile()));

    // A port out of range: the same end.
    ASSERT_TRUE(kit.writeHttpdConf(testkit::DefaultHttpdConf(70000)));
    r = run(" -k start");
    EXPECT_EQ(r.exitCode, 1u) << "got " << r.exitCode << ": " << r.err;
    EXPECT_NE(log("error.log").find("The port number \"70000\" is outside the appropriate range"), std::string::npos);
}

// A restart onto a taken port ends the instance, as it ends Apache.
TEST_F(ApacheServe, RestartListensOnTheNewPortOnly)
{
    ASSERT_NO_FATAL_FAILURE(startServer());
    EXPECT_EQ(Fetch(kit.port(), "GET / HTTP/1.0\r\n\r\n").status, 200);
    int newPort = testkit::FreeTcpPort();
    ASSERT_NE(newPort, 0);
    ASSERT_TRUE(kit.writeHttpdConf(testkit::DefaultHttpdConf(newPort)));
    standin::Result r = run(" -k restart");
    EXPECT_EQ(r.exitCode, 0u) << "got " << r.exitCode << ": " << r.err;
    EXPECT_TRUE(testkit::PumpUntil([&] { return Fetch(newPort, "GET / HTTP/1.0\r\n\r\n").status == 200; }, 10000));
    std::string raw;
    int error = 0;
    EXPECT_FALSE(standin::HttpExchange(kit.port(), "GET / HTTP/1.0\r\n\r\n", &raw, &error)) << "old port still open";
    EXPECT_EQ(error, WSAECONNREFUSED) << "got " << error;

    SOCKET other = Listen(kit.port());
    ASSERT_NE(other, INVALID_SOCKET);
    ASSERT_TRUE(kit.writeHttpdConf(testkit::DefaultHttpdConf(kit.port())));
    r = run(" -k restart");
    EXPECT_EQ(r.exitCode, 0u) << "got " << r.exitCode << ": " << r.err;
    EXPECT_TRUE(testkit::WaitProcess(server, 10000));
    closesocket(other);
    DWORD code = 0;
    GetExitCodeProcess(server, &code);
    EXPECT_EQ(code, 1u) << "got " << code;
    EXPECT_FALSE(testkit::FileExists(kit.pidFile()));
    EXPECT_NE(log("error.log").find("could not bind to address 127.0.0.1:" + std::to_string(kit.port())),
              std::string::npos);
    EXPECT_FALSE(standin::HttpExchange(newPort, "GET / HTTP/1.0\r\n\r\n", &raw)) << "closed with the server";
}
