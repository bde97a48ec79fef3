#include <winsock2.h>

#include "WebTestKit.h"

#include <shlwapi.h>
#include <gtest/gtest.h>

#include "TestKit.h"

namespace webkit {

namespace {

const char* const ClassesKey = "Software\\Classes\\";
const char* const TestFileClass = "TarvaneTestFile";

std::string RecorderCommand()
{
    return "\"" + testkit::BinDir() + "tvrecord.exe\" %1";
}

bool KeyExists(const std::string& key)
{
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

}  // namespace

RecordFile::RecordFile() : dir_(testkit::MakeTempDir("record")), path_(dir_ + "record.txt")
{
    SetEnvironmentVariableA("TVRECORD_FILE", path_.c_str());
}

RecordFile::~RecordFile()
{
    SetEnvironmentVariableA("TVRECORD_FILE", nullptr);
    testkit::RemoveTree(dir_);
}

std::vector<std::string> RecordFile::lines() const
{
    std::string bytes;
    testkit::ReadFileBytes(path_, &bytes);
    std::vector<std::string> result;
    size_t start = 0, end;
    while ((end = bytes.find('\n', start)) != std::string::npos) {
        result.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

std::string RecordFile::waitLine(size_t index, DWORD timeoutMs) const
{
    testkit::PumpUntil([&] { return lines().size() > index; }, timeoutMs);
    std::vector<std::string> all = lines();
    return all.size() > index ? all[index] : "";
}

StandIn::StandIn(const std::string& path) : path_(path)
{
    ok_ = CopyFileA((testkit::BinDir() + "tvrecord.exe").c_str(), path.c_str(), FALSE) != 0;
}

StandIn::~StandIn()
{
    DeleteFileA(path_.c_str());
}

ClassesValue::ClassesValue(const std::string& subkey, const std::string& data) : key_(ClassesKey + subkey)
{
    // The outermost key that is not there yet goes again as a whole.
    for (size_t slash = key_.find('\\', strlen(ClassesKey)); createdRoot_.empty();
         slash = key_.find('\\', slash + 1)) {
        std::string prefix = key_.substr(0, slash);
        if (!KeyExists(prefix))
            createdRoot_ = prefix;
        if (slash == std::string::npos)
            break;
    }
    HKEY key;
    LONG created =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    EXPECT_EQ(created, ERROR_SUCCESS) << key_;
    if (created != ERROR_SUCCESS)
        return;
    char old[1024];
    DWORD size = sizeof old;
    DWORD type = 0;
    if (RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(old), &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
        hadValue_ = true;
        oldData_.assign(old, size);
    }
    EXPECT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                             (DWORD)data.size() + 1),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

ClassesValue::~ClassesValue()
{
    if (!createdRoot_.empty()) {
        SHDeleteKeyA(HKEY_LOCAL_MACHINE, createdRoot_.c_str());
        return;
    }
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    if (hadValue_)
        RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(oldData_.data()),
                       (DWORD)oldData_.size());
    else
        RegDeleteValueA(key, nullptr);
    RegCloseKey(key);
}

TestAssociations::TestAssociations(bool logType)
{
    const std::string command = RecorderCommand();
    values_.push_back(new ClassesValue("http\\shell\\open\\command", command));
    values_.push_back(new ClassesValue("mailto\\shell\\open\\command", command));
    values_.push_back(new ClassesValue(std::string(TestFileClass) + "\\shell\\open\\command", command));
    for (const char* type : {".html", ".ini"})
        values_.push_back(new ClassesValue(type, TestFileClass));
    // Without its program, .log still names a class: one without any.
    values_.push_back(new ClassesValue(".log", logType ? TestFileClass : "TarvaneTestNoProgram"));
}

TestAssociations::~TestAssociations()
{
    for (auto it = values_.rbegin(); it != values_.rend(); ++it)
        delete *it;
}

SiteServer::SiteServer() : listener_(INVALID_SOCKET)
{
    InitializeCriticalSection(&lock_);
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    char address[64] = "";
    GetEnvironmentVariableA("TARVANE_TEST_SITE_ADDR", address, sizeof address);
    address_ = address;
}

SiteServer::~SiteServer()
{
    stop();
    WSACleanup();
    DeleteCriticalSection(&lock_);
}

bool SiteServer::start()
{
    sockaddr_in where = {};
    where.sin_family = AF_INET;
    where.sin_port = htons(80);
    where.sin_addr.s_addr = inet_addr(address_.c_str());
    if (address_.empty() || where.sin_addr.s_addr == INADDR_NONE)
        return false;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return false;
    if (bind(s, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || listen(s, 8) != 0) {
        closesocket(s);
        return false;
    }
    listener_ = s;
    stopping_ = 0;
    thread_ = CreateThread(nullptr, 0, serve, this, 0, nullptr);
    return thread_ != nullptr;
}

void SiteServer::stop()
{
    if (!thread_)
        return;
    InterlockedExchange(&stopping_, 1);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    thread_ = nullptr;
    closesocket(listener_);
    listener_ = INVALID_SOCKET;
}

void SiteServer::setBody(const std::string& body)
{
    EnterCriticalSection(&lock_);
    body_ = body;
    LeaveCriticalSection(&lock_);
}

std::string SiteServer::lastRequest()
{
    EnterCriticalSection(&lock_);
    std::string request = request_;
    LeaveCriticalSection(&lock_);
    return request;
}

DWORD WINAPI SiteServer::serve(void* param)
{
    SiteServer* self = static_cast<SiteServer*>(param);
    while (!self->stopping_) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(self->listener_, &ready);
        timeval wait = {0, 50000};
        if (select(0, &ready, nullptr, nullptr, &wait) != 1)
            continue;
        SOCKET client = accept(self->listener_, nullptr, nullptr);
        if (client != INVALID_SOCKET)
            self->answer(client);
    }
    return 0;
}

void SiteServer::answer(UINT_PTR client)
{
    std::string request;
    char buffer[4096];
    int got;
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536 &&
           (got = recv(client, buffer, sizeof buffer, 0)) > 0)
        request.append(buffer, got);
    EnterCriticalSection(&lock_);
    request_ = request;
    std::string reply = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nCache-Control: no-cache\r\n"
                        "Connection: close\r\nContent-Length: " +
                        std::to_string(body_.size()) + "\r\n\r\n" + body_;
    LeaveCriticalSection(&lock_);
    for (size_t sent = 0; sent < reply.size();) {
        int n = send(client, reply.data() + sent, (int)(reply.size() - sent), 0);
        if (n <= 0)
            break;
        sent += n;
    }
    shutdown(client, SD_SEND);
    while (recv(client, buffer, sizeof buffer, 0) > 0) {
    }
    closesocket(client);
}

namespace {
PromptAnswerer* answerer = nullptr;

BOOL CALLBACK FindMessageBox(HWND window, LPARAM found)
{
    char name[16] = "";
    GetClassNameA(window, name, sizeof name);
    if (strcmp(name, "#32770") == 0 && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

PromptAnswerer::PromptAnswerer(int button) : button_(button)
{
    answerer = this;
    timer_ = SetTimer(nullptr, 0, 50, tick);
}

PromptAnswerer::~PromptAnswerer()
{
    KillTimer(nullptr, timer_);
    answerer = nullptr;
}

void CALLBACK PromptAnswerer::tick(HWND, UINT, UINT_PTR, DWORD)
{
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindMessageBox, reinterpret_cast<LPARAM>(&box));
    if (!box || !answerer)
        return;
    char text[1024] = "";
    GetWindowTextA(box, text, sizeof text);
    answerer->caption = text;
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);  // the message box's text control
    answerer->text = text;
    ++answerer->count;
    SendMessageA(GetDlgItem(box, answerer->button_), BM_CLICK, 0, 0);
}

}  // namespace webkit
