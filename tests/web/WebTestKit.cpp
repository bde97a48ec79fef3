#include <winsock2.h>

#include "WebTestKit.h"

#include <shlwapi.h>

#include "TestKit.h"

namespace webkit {

RecordFile::RecordFile() : dir_(testkit::MakeTempDir("record"))
{
    SetEnvironmentVariableA("TVRECORD_FILE", (dir_ + "record.txt").c_str());
}

RecordFile::~RecordFile()
{
    SetEnvironmentVariableA("TVRECORD_FILE", nullptr);
    testkit::RemoveTree(dir_);
}

std::vector<std::string> RecordFile::lines() const
{
    std::string bytes;
    testkit::ReadFileBytes(dir_ + "record.txt", &bytes);
    std::vector<std::string> result;
    for (size_t start = 0, end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1)
        result.push_back(bytes.substr(start, end - start));
    return result;
}

std::string RecordFile::waitLine(size_t index) const
{
    testkit::PumpUntil([&] { return lines().size() > index; }, 10000);
    std::vector<std::string> all = lines();
    return all.size() > index ? all[index] : "";
}

StandIn::StandIn(const std::string& path)
    : path(path), ok(CopyFileA((testkit::BinDir() + "tvrecord.exe").c_str(), path.c_str(), FALSE) != 0)
{
}

StandIn::~StandIn()
{
    DeleteFileA(path.c_str());
}

TestAssociations::TestAssociations(bool logProgram)
{
    const std::string recorder = "\"" + testkit::BinDir() + "tvrecord.exe\" %1";
    const std::pair<const char*, std::string> values[] = {
        {"http\\shell\\open\\command", recorder},
        {"mailto\\shell\\open\\command", recorder},
        {"TarvaneTestFile\\shell\\open\\command", recorder},
        {".html", "TarvaneTestFile"},
        {".ini", "TarvaneTestFile"},
        {".log", logProgram ? "TarvaneTestFile" : "TarvaneTestNoProgram"},
    };
    for (const auto& v : values) {
        Saved saved{std::string("Software\\Classes\\") + v.first, false, ""};
        char old[1024];
        LONG size = sizeof old;
        saved.existed = RegQueryValueA(HKEY_LOCAL_MACHINE, saved.key.c_str(), old, &size) == ERROR_SUCCESS;
        if (saved.existed)
            saved.value = old;
        saved_.push_back(saved);
        RegSetValueA(HKEY_LOCAL_MACHINE, saved.key.c_str(), REG_SZ, v.second.c_str(), (DWORD)v.second.size());
    }
}

TestAssociations::~TestAssociations()
{
    for (const Saved& saved : saved_)
        if (saved.existed)
            RegSetValueA(HKEY_LOCAL_MACHINE, saved.key.c_str(), REG_SZ, saved.value.c_str(),
                         (DWORD)saved.value.size());
        else
            SHDeleteKeyA(HKEY_LOCAL_MACHINE, saved.key.c_str());
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Classes\\TarvaneTestFile");
}

SiteServer::SiteServer() : listener_(INVALID_SOCKET)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    char text[64] = "";
    GetEnvironmentVariableA("TARVANE_TEST_SITE_ADDR", text, sizeof text);
    address = text;
}

SiteServer::~SiteServer()
{
    stop();
    WSACleanup();
}

bool SiteServer::start()
{
    sockaddr_in where = {};
    where.sin_family = AF_INET;
    where.sin_port = htons(80);
    where.sin_addr.s_addr = inet_addr(address.c_str());
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (address.empty() || bind(listener_, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        listen(listener_, 8) != 0)
        return false;
    stopping_ = 0;
    thread_ = CreateThread(nullptr, 0, serve, this, 0, nullptr);
    return thread_ != nullptr;
}

void SiteServer::stop()
{
    if (thread_) {
        InterlockedExchange(&stopping_, 1);
        WaitForSingleObject(thread_, 10000);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    if (listener_ != INVALID_SOCKET)
        closesocket(listener_);
    listener_ = INVALID_SOCKET;
}

// One connection at a time: read the request head, answer, close. The test
// sets the body before its request and reads the request after the reply:
// the exchange itself orders the two threads.
DWORD WINAPI SiteServer::serve(void* param)
{
    SiteServer* self = static_cast<SiteServer*>(param);
    while (!self->stopping_) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(self->listener_, &ready);
        timeval wait = {0, 50000};
        SOCKET client;
        if (select(0, &ready, nullptr, nullptr, &wait) != 1 ||
            (client = accept(self->listener_, nullptr, nullptr)) == INVALID_SOCKET)
            continue;
        std::string request;
        char buffer[4096];
        int got;
        while (request.find("\r\n\r\n") == std::string::npos && (got = recv(client, buffer, sizeof buffer, 0)) > 0)
            request.append(buffer, got);
        self->request = request;
        std::string reply = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: " +
                            std::to_string(self->body.size()) + "\r\n" + self->headers + "\r\n" + self->body;
        for (size_t sent = 0; sent < reply.size() && (got = send(client, &reply[sent], (int)(reply.size() - sent), 0)) > 0;)
            sent += got;
        shutdown(client, SD_SEND);
        while (recv(client, buffer, sizeof buffer, 0) > 0) {
        }
        closesocket(client);
    }
    return 0;
}

namespace {

OnDialog* current = nullptr;

BOOL CALLBACK FindDialogBox(HWND window, LPARAM found)
{
    char name[16] = "";
    GetClassNameA(window, name, sizeof name);
    if (strcmp(name, "#32770") != 0 || !IsWindowVisible(window))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

}  // namespace

OnDialog::OnDialog(std::function<void(HWND)> script) : script_(script)
{
    current = this;
    timer_ = SetTimer(nullptr, 0, 50, tick);
}

OnDialog::~OnDialog()
{
    KillTimer(nullptr, timer_);
    current = nullptr;
}

void CALLBACK OnDialog::tick(HWND, UINT, UINT_PTR, DWORD)
{
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindDialogBox, reinterpret_cast<LPARAM>(&box));
    if (!box || !current)
        return;
    if (!current->ran) {
        current->ran = true;
        current->ranAt_ = GetTickCount();
        current->script_(box);
    } else if (GetTickCount() - current->ranAt_ > 5000) {
        current->forced = true;
        EndDialog(box, 0);
    }
}

std::string Text(HWND window)
{
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

}  // namespace webkit
