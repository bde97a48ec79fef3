// The stand-in apache.exe's web server: static files over HTTP/1.0 and
// 1.1 on the loopback address, with Apache's log files.
//
// - GET and HEAD; other methods get 501. Every response carries Date,
//   Server, Content-Length, Content-Type and "Connection: close", and the
//   connection closes after it.
// - The request path (query cut off, %XX decoded) is looked up through the
//   site's aliases, else below its document root. A folder gives its first
//   index file, 403 without one, and 301 to the path with a final "/" when
//   the request lacks it. A missing file gives 404.
// - Refused with 403: any "..", a segment made only of dots and blanks, a
//   ':' or a character Windows names cannot hold, a device name (CON,
//   NUL, COM1 ...), and whatever would resolve outside the folder. An
//   encoded "/" or "\" (%2F, %5C) or NUL gives 404, as in Apache.
// - 400 for a malformed request line or header, a request line without
//   "HTTP/1.x", an HTTP/1.1 request without Host, a head over 8 KB.
// - logs\access.log: one line per response in the Common Log Format;
//   logs\error.log: Apache's "[date] [level] [client ip] text" lines. Both
//   are opened for each line, shared, so that others may read them.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>

#include "ApacheConf.h"

namespace kit {

// Appends "[Mon Dec 07 23:59:59 2026] [level] text" to <logsDir>error.log.
void WriteErrorLog(const std::string& logsDir, const char* level, const std::string& text);

class HttpServer {
public:
    explicit HttpServer(const std::string& logsDir);
    ~HttpServer();

    // Listens on 127.0.0.1 at site.port and serves from a thread of its
    // own. When the port is out of range or cannot be bound, writes the
    // error to error.log and to the error output, as Apache does, and
    // returns false.
    bool start(const ApacheSite& site);

    // Ends the serving thread (a request under way is finished or dropped)
    // and closes the listening socket. Nothing happens when not started.
    void stop();

private:
    static DWORD WINAPI ThreadMain(void* self);
    void serve();
    void answer(SOCKET connection, const char* client);

    std::string logsDir_;
    ApacheSite site_;
    bool winsock_;
    SOCKET listener_;
    HANDLE thread_;
    HANDLE stopEvent_;

    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;
};

}  // namespace kit
