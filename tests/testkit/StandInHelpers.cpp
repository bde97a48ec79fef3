#include <winsock2.h>

#include "StandInHelpers.h"

#include <cstring>

#include "TestKit.h"

namespace standin {

PROCESS_INFORMATION Start(const std::string& cmdLine, const Launch& how, DWORD* error)
{
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    std::string title = how.title;
    if (!title.empty())
        si.lpTitle = &title[0];
    if (how.useShowWindow) {
        si.dwFlags |= STARTF_USESHOWWINDOW;
        si.wShowWindow = how.show;
    }
    PROCESS_INFORMATION pi;
    memset(&pi, 0, sizeof pi);
    std::string line = cmdLine;
    SetLastError(0xdeadbeef);
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, how.newConsole ? CREATE_NEW_CONSOLE : 0,
                        nullptr, how.curDir.empty() ? nullptr : how.curDir.c_str(), &si, &pi)) {
        if (error)
            *error = GetLastError();
        memset(&pi, 0, sizeof pi);
    }
    return pi;
}

bool RunCaptured(const std::string& cmdLine, Result* result, const std::string& curDir, DWORD timeoutMs)
{
    static unsigned counter;
    std::string dir = testkit::MakeTempDir("capture");
    char name[64];
    snprintf(name, sizeof name, "out%u.txt", ++counter);
    std::string outPath = dir + name;
    snprintf(name, sizeof name, "err%u.txt", counter);
    std::string errPath = dir + name;

    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                             0, nullptr);
    HANDLE err = CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                             0, nullptr);
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi;
    std::string line = cmdLine;
    BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr,
                                  curDir.empty() ? nullptr : curDir.c_str(), &si, &pi);
    DWORD createError = started ? 0 : GetLastError();
    CloseHandle(out);
    CloseHandle(err);
    bool ended = false;
    if (started) {
        CloseHandle(pi.hThread);
        ended = testkit::WaitProcess(pi.hProcess, timeoutMs);
        if (!ended)
            TerminateProcess(pi.hProcess, 1);
        GetExitCodeProcess(pi.hProcess, &result->exitCode);
        CloseHandle(pi.hProcess);
    }
    testkit::ReadFileBytes(outPath, &result->out);
    testkit::ReadFileBytes(errPath, &result->err);
    testkit::RemoveTree(dir);
    // What a failed test shows when the program could not be started.
    if (!started)
        result->err = "CreateProcessA failed with error " + std::to_string(createError);
    return started && ended;
}

bool ControlServiceNamed(const char* name, DWORD control)
{
    bool ok = false;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return false;
    SC_HANDLE service =
        OpenServiceA(manager, name, SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_QUERY_STATUS);
    if (service) {
        SERVICE_STATUS status;
        ok = ControlService(service, control, &status) != 0;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return ok;
}

DWORD StartServiceNamed(const char* name)
{
    DWORD error = 0;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return GetLastError();
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_START);
    if (!service)
        error = GetLastError();
    else if (!StartServiceA(service, 0, nullptr))
        error = GetLastError();
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return error;
}

bool Alive(HANDLE process)
{
    return WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

std::string Quoted(const std::string& path)
{
    return "\"" + path + "\"";
}

bool HttpExchange(int port, const std::string& request, std::string* response, int* error)
{
    response->clear();
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((u_short)port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    WSASetLastError(0xdeadbeef);
    bool connected = s != INVALID_SOCKET && connect(s, (sockaddr*)&address, sizeof address) == 0;
    if (error)
        *error = connected ? 0 : WSAGetLastError();
    if (connected) {
        DWORD timeout = 10000;
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char*)&timeout, sizeof timeout);
        send(s, request.data(), (int)request.size(), 0);
        shutdown(s, SD_SEND);
        char buffer[4096];
        int got;
        while ((got = recv(s, buffer, sizeof buffer, 0)) > 0)
            response->append(buffer, got);
    }
    if (s != INVALID_SOCKET)
        closesocket(s);
    WSACleanup();
    return connected;
}

}  // namespace standin
