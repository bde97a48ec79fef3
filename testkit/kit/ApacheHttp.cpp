#include "ApacheHttp.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "KitCommon.h"

namespace kit {

namespace {

const size_t kMaxHead = 8192;          // request line and headers
const DWORD kRequestTimeoutMs = 10000;  // to receive the head
const DWORD kSendTimeoutMs = 10000;

const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct ContentType {
    const char* extension;
    const char* type;
};
const ContentType kTypes[] = {
    {"html", "text/html"}, {"htm", "text/html"},   {"txt", "text/plain"}, {"css", "text/css"},
    {"js", "application/javascript"}, {"png", "image/png"}, {"gif", "image/gif"}, {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"}, {"ico", "image/x-icon"},
};

// The local time and its distance from UTC in minutes (east positive).
void LocalNow(SYSTEMTIME* now, int* offset)
{
    GetLocalTime(now);
    TIME_ZONE_INFORMATION zone;
    DWORD which = GetTimeZoneInformation(&zone);
    LONG bias = zone.Bias;
    if (which == TIME_ZONE_ID_DAYLIGHT)
        bias += zone.DaylightBias;
    else if (which == TIME_ZONE_ID_STANDARD)
        bias += zone.StandardBias;
    *offset = which == TIME_ZONE_ID_INVALID ? 0 : -(int)bias;
}

// Appends one line to a log file, opened for this line only and shared.
void AppendLine(const std::string& path, const std::string& line)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(file, text.data(), (DWORD)text.size(), &written, nullptr);
    CloseHandle(file);
}

// Text as Apache logs it between quotes: controls, '"', '\' and bytes
// above 126 escaped.
std::string LogEscaped(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20 || c > 0x7e) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += (char)c;
        }
    }
    return out;
}

std::string HtmlEscaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += c; break;
        }
    }
    return out;
}

// A path for a Location header: bytes outside the safe set %-encoded.
std::string UrlEncoded(const std::string& path)
{
    static const char safe[] = "-._~/!$&'()*+,;=:@";
    std::string out;
    for (unsigned char c : path) {
        if (isalnum(c) || (c && strchr(safe, c))) {
            out += (char)c;
        } else {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

const char* ContentTypeOf(const std::string& path)
{
    size_t dot = path.find_last_of(".\\");
    if (dot != std::string::npos && path[dot] == '.')
        for (const ContentType& t : kTypes)
            if (!_stricmp(path.c_str() + dot + 1, t.extension))
                return t.type;
    return "application/octet-stream";
}

const char* StatusText(int status)
{
    switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 501: return "Not Implemented";
    default: return "Internal Server Error";
    }
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A path segment Windows would read as something else than a name in its
// folder: dots and blanks only (".." and what Windows trims to it), a
// drive or stream ':', wildcards and other forbidden characters, device
// names (CON, NUL, COM1 ... also with an extension).
bool UnsafeSegment(const std::string& segment)
{
    if (segment.find_first_not_of(". ") == std::string::npos)
        return true;
    for (unsigned char c : segment)
        if (c < 0x20 || strchr(":*?\"<>|", c))
            return true;
    std::string base = segment.substr(0, segment.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (const char* device : devices)
        if (!_stricmp(base.c_str(), device))
            return true;
    return base.size() == 4 && (!_strnicmp(base.c_str(), "COM", 3) || !_strnicmp(base.c_str(), "LPT", 3)) &&
           base[3] >= '0' && base[3] <= '9';
}

bool IsFolder(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool SendAll(SOCKET s, const char* data, size_t size)
{
    while (size > 0) {
        int sent = send(s, data, size > 65536 ? 65536 : (int)size, 0);
        if (sent <= 0)
            return false;
        data += sent;
        size -= sent;
    }
    return true;
}

// What one request gets.
struct Reply {
    int status = 200;
    std::string file;      // the file sent as the body, or
    std::string body;      // this text
    std::string location;  // for 301
    std::string error;     // the error.log text, if any
};

void ErrorPage(Reply* reply, int status, const std::string& text, const std::string& error = "")
{
    char head[160];
    snprintf(head, sizeof head, "%d %s", status, StatusText(status));
    reply->status = status;
    reply->body = std::string("<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\n<title>") + head +
                  "</title>\n</head><body>\n<h1>" + StatusText(status) + "</h1>\n<p>" + text +
                  "</p>\n</body></html>\n";
    reply->error = error;
}

// The system's text for a Winsock error, as Apache shows it. Wine has no
// message texts for Winsock codes; the likely ones of a bind then read as
// on Windows.
std::string SocketErrorText(int code)
{
    char message[300] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, message,
                             sizeof message, nullptr);
    while (n > 0 && (message[n - 1] == '\n' || message[n - 1] == '\r' || message[n - 1] == ' '))
        message[--n] = '\0';
    if (n > 0)
        return message;
    switch (code) {
    case WSAEADDRINUSE:
        return "Only one usage of each socket address (protocol/network address) is normally permitted.";
    case WSAEACCES:
        return "An attempt was made to access a socket in a way forbidden by its access permissions.";
    case WSAEADDRNOTAVAIL:
        return "The requested address is not valid in its context.";
    default:
        return "";
    }
}

}  // namespace

void WriteErrorLog(const std::string& logsDir, const char* level, const std::string& text)
{
    SYSTEMTIME now;
    int offset = 0;
    LocalNow(&now, &offset);
    char stamp[80];
    snprintf(stamp, sizeof stamp, "[%s %s %02u %02u:%02u:%02u %u] [%s] ", kDays[now.wDayOfWeek % 7],
             kMonths[(now.wMonth + 11) % 12], now.wDay, now.wHour, now.wMinute, now.wSecond, now.wYear, level);
    AppendLine(logsDir + "error.log", stamp + text);
}

HttpServer::HttpServer(const std::string& logsDir)
    : logsDir_(logsDir), winsock_(false), listener_(INVALID_SOCKET), thread_(nullptr),
      stopEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
    WSADATA data;
    winsock_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

HttpServer::~HttpServer()
{
    stop();
    if (stopEvent_)
        CloseHandle(stopEvent_);
    if (winsock_)
        WSACleanup();
}

bool HttpServer::start(const ApacheSite& site)
{
    stop();
    site_ = site;
    char text[400];
    if (site.port < 1 || site.port > 65535) {
        snprintf(text, sizeof text, "The port number \"%d\" is outside the appropriate range (i.e., 1..65535).",
                 site.port);
        PrintErr("%s\n", text);
        WriteErrorLog(logsDir_, "crit", text);
        return false;
    }
    SOCKET s = winsock_ ? socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET;
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((u_short)site.port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // No SO_REUSEADDR: on Windows it would let the bind succeed on a port
    // that another server holds.
    if (s == INVALID_SOCKET || bind(s, (sockaddr*)&address, sizeof address) == SOCKET_ERROR ||
        listen(s, SOMAXCONN) == SOCKET_ERROR) {
        int code = winsock_ ? WSAGetLastError() : WSANOTINITIALISED;
        if (s != INVALID_SOCKET)
            closesocket(s);
        snprintf(text, sizeof text, "(OS %d)%s  : make_sock: could not bind to address 127.0.0.1:%d", code,
                 SocketErrorText(code).c_str(), site.port);
        const char* ending = "no listening sockets available, shutting down";
        PrintErr("%s\n%s\n", text, ending);
        WriteErrorLog(logsDir_, "crit", text);
        WriteErrorLog(logsDir_, "alert", ending);
        return false;
    }
    // Non-blocking, so that an accept after select() never waits.
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    listener_ = s;
    ResetEvent(stopEvent_);
    thread_ = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
    if (!thread_) {
        DWORD code = GetLastError();
        snprintf(text, sizeof text, "(OS %lu)%s  : cannot create the serving thread", code,
                 SystemMessage(code).c_str());
        PrintErr("%s\n", text);
        WriteErrorLog(logsDir_, "crit", text);
        stop();
        return false;
    }
    return true;
}

void HttpServer::stop()
{
    if (thread_) {
        SetEvent(stopEvent_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    if (listener_ != INVALID_SOCKET) {
        closesocket(listener_);
        listener_ = INVALID_SOCKET;
    }
}

DWORD WINAPI HttpServer::ThreadMain(void* self)
{
    static_cast<HttpServer*>(self)->serve();
    return 0;
}

// A select() loop that looks at the stop event five times a second.
// (WSAEventSelect with FD_ACCEPT would wait without polling, but Wine stops
// signalling FD_ACCEPT after an accept that finds no connection.)
void HttpServer::serve()
{
    while (WaitForSingleObject(stopEvent_, 0) == WAIT_TIMEOUT) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener_, &readable);
        timeval wait = {0, 200000};
        int ready = select(0, &readable, nullptr, nullptr, &wait);
        if (ready < 0)
            WaitForSingleObject(stopEvent_, 200);
        if (ready <= 0)
            continue;
        sockaddr_in from;
        int size = sizeof from;
        SOCKET connection = accept(listener_, (sockaddr*)&from, &size);
        if (connection == INVALID_SOCKET)
            continue;  // gone again (reset by the client)
        u_long nonBlocking = 0;  // the listener's mode is inherited
        ioctlsocket(connection, FIONBIO, &nonBlocking);
        char client[32];
        snprintf(client, sizeof client, "%s", inet_ntoa(from.sin_addr));
        answer(connection, client);
        closesocket(connection);
    }
}

namespace {

// The request's head: up to the blank line, the client's end of sending or
// the size limit. Empty when nothing came in time or the server ends.
std::string ReadHead(SOCKET s, HANDLE stopEvent)
{
    std::string head;
    DWORD started = GetTickCount();
    while (head.find("\r\n\r\n") == std::string::npos && head.find("\n\n") == std::string::npos &&
           head.size() <= kMaxHead) {
        if (WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0 || GetTickCount() - started > kRequestTimeoutMs)
            return "";
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval wait = {0, 200000};
        int ready = select(0, &readable, nullptr, nullptr, &wait);
        if (ready < 0)
            return "";
        if (ready == 0)
            continue;
        char buffer[2048];
        int got = recv(s, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        head.append(buffer, got);
    }
    return head;
}

// The parts of a request head that matter here.
struct Request {
    std::string line;    // the request line, without its end
    std::string method;  // empty when the request line is malformed
    std::string target;
    bool http11 = false;
    bool hasHost = false;
    bool badHeader = false;  // a header line without ':'
    bool tooLong = false;
};

Request Parse(const std::string& head)
{
    Request request;
    request.tooLong = head.size() > kMaxHead;
    size_t eol = head.find('\n');
    request.line = head.substr(0, eol);
    if (!request.line.empty() && request.line.back() == '\r')
        request.line.pop_back();
    // "METHOD target HTTP/1.x", single blanks.
    const std::string& line = request.line;
    size_t first = line.find(' '), last = line.rfind(' ');
    if (first != std::string::npos && last > first + 1) {
        std::string method = line.substr(0, first);
        std::string version = line.substr(last + 1);
        request.target = line.substr(first + 1, last - first - 1);
        bool valid = !version.compare(0, 7, "HTTP/1.") && version.size() > 7 &&
                     version.find_first_not_of("0123456789", 7) == std::string::npos &&
                     method.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string::npos &&
                     request.target.find(' ') == std::string::npos;
        if (valid) {
            request.method = method;
            request.http11 = version != "HTTP/1.0";
        }
    }
    for (size_t pos = eol == std::string::npos ? head.size() : eol + 1; pos < head.size();) {
        size_t end = head.find('\n', pos);
        std::string header = head.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? head.size() : end + 1;
        if (!header.empty() && header.back() == '\r')
            header.pop_back();
        if (header.empty())
            break;
        size_t colon = header.find(':');
        if (colon == std::string::npos || colon == 0)
            request.badHeader = true;
        else if (colon == 4 && !_strnicmp(header.c_str(), "Host", 4))
            request.hasHost = true;
    }
    return request;
}

const char kBadRequest[] = "Your browser sent a request that this server could not understand.";

// Finds what a GET or HEAD of `target` gets from the site.
void Route(const ApacheSite& site, const Request& request, Reply* reply)
{
    const std::string& target = request.target;
    const std::string forbidden = "You don't have permission to access " + HtmlEscaped(target) + " on this server.";
    const std::string notFound = "The requested URL " + HtmlEscaped(target) + " was not found on this server.";

    // The path: an absolute URL's scheme and host dropped, the query cut
    // off, %XX decoded, split on '/' and '\'.
    std::string path = target;
    if (!_strnicmp(path.c_str(), "http://", 7)) {
        size_t slash = path.find('/', 7);
        path = slash == std::string::npos ? "/" : path.substr(slash);
    }
    path = path.substr(0, path.find_first_of("?#"));
    if (path.empty() || path[0] != '/')
        return ErrorPage(reply, 400, kBadRequest, "Invalid URI in request " + LogEscaped(request.line));
    std::string decoded;
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] != '%') {
            decoded += path[i];
            continue;
        }
        int high = i + 2 < path.size() ? HexValue(path[i + 1]) : -1;
        int low = high >= 0 ? HexValue(path[i + 2]) : -1;
        if (low < 0)
            return ErrorPage(reply, 400, kBadRequest, "Invalid URI in request " + LogEscaped(request.line));
        char c = (char)(high * 16 + low);
        if (c == '/' || c == '\\' || c == '\0')
            return ErrorPage(reply, 404, notFound,
                             "found %2f, %5c or %00 (encoded '/', '\\' or NUL) in URI path, returning 404: " +
                                 LogEscaped(target));
        decoded += c;
        i += 2;
    }
    std::string urlPath;  // normalised: "/a/b", "/a/b/" or "/"
    for (size_t pos = 0; pos < decoded.size();) {
        size_t end = decoded.find_first_of("/\\", pos);
        if (end == std::string::npos)
            end = decoded.size();
        std::string segment = decoded.substr(pos, end - pos);
        pos = end + 1;
        if (segment.empty() || segment == ".")
            continue;
        if (UnsafeSegment(segment))
            return ErrorPage(reply, 403, forbidden, "client denied by server configuration: " + LogEscaped(decoded));
        urlPath += "/" + segment;
    }
    bool folderWanted = decoded.back() == '/' || decoded.back() == '\\';
    if (urlPath.empty() || folderWanted)
        urlPath += "/";

    // The first alias that matches on a segment boundary, else the
    // document root.
    std::string folder = site.documentRoot, rest = urlPath;
    for (const ApacheSite::Alias& alias : site.aliases) {
        const std::string& url = alias.url;
        if (!urlPath.compare(0, url.size(), url) &&
            (url.back() == '/' || urlPath.size() == url.size() || urlPath[url.size()] == '/')) {
            folder = alias.folder;
            rest = urlPath.substr(url.size());
            break;
        }
    }
    std::string file = folder;
    if (rest.empty() || rest[0] != '/')
        file += '\\';
    for (char c : rest)
        file += c == '/' ? '\\' : c;
    while (file.size() > folder.size() && file.back() == '\\')
        file.pop_back();
    // Whatever got this far must still lie in the folder.
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(file.c_str(), sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full || _strnicmp(full, folder.c_str(), folder.size()) ||
        (full[folder.size()] != '\0' && full[folder.size()] != '\\'))
        return ErrorPage(reply, 403, forbidden, "client denied by server configuration: " + Slashed(file));

    DWORD attributes = GetFileAttributesA(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (!IsFolder(attributes) && folderWanted))
        return ErrorPage(reply, 404, notFound, "File does not exist: " + Slashed(file) + (folderWanted ? "/" : ""));
    if (!IsFolder(attributes)) {
        reply->file = file;
        return;
    }
    if (!folderWanted) {
        char location[300];
        snprintf(location, sizeof location, "http://127.0.0.1:%d%s/", site.port, UrlEncoded(urlPath).c_str());
        ErrorPage(reply, 301, "The document has moved <a href=\"" + HtmlEscaped(location) + "\">here</a>.");
        reply->location = location;
        return;
    }
    for (const std::string& name : site.indexNames) {
        std::string index = file + "\\" + name;
        DWORD indexAttributes = GetFileAttributesA(index.c_str());
        if (indexAttributes != INVALID_FILE_ATTRIBUTES && !IsFolder(indexAttributes)) {
            reply->file = index;
            return;
        }
    }
    ErrorPage(reply, 403, forbidden, "Directory index forbidden by rule: " + Slashed(file) + "/");
}

}  // namespace

void HttpServer::answer(SOCKET s, const char* client)
{
    DWORD timeout = kSendTimeoutMs;
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, (const char*)&timeout, sizeof timeout);
    std::string head = ReadHead(s, stopEvent_);
    if (head.empty())
        return;

    Request request = Parse(head);
    Reply reply;
    if (request.tooLong)
        ErrorPage(&reply, 400, kBadRequest, "request failed: the request line and headers exceed 8192 bytes");
    else if (request.method.empty())
        ErrorPage(&reply, 400, kBadRequest, "Invalid request line: " + LogEscaped(request.line));
    else if (request.badHeader)
        ErrorPage(&reply, 400, kBadRequest, "request failed: a header line lacks the ':' separator");
    else if (request.http11 && !request.hasHost)
        ErrorPage(&reply, 400, kBadRequest,
                  "client sent HTTP/1.1 request without hostname (see RFC2616 section 14.23): " +
                      LogEscaped(request.target));
    else if (request.method != "GET" && request.method != "HEAD")
        ErrorPage(&reply, 501, HtmlEscaped(request.method) + " to " + HtmlEscaped(request.target) + " not supported.");
    else
        Route(site_, request, &reply);

    // Open the file first: a failure turns into an error page.
    HANDLE body = INVALID_HANDLE_VALUE;
    LARGE_INTEGER size;
    size.QuadPart = (LONGLONG)reply.body.size();
    if (!reply.file.empty()) {
        body = CreateFileA(reply.file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (body == INVALID_HANDLE_VALUE || !GetFileSizeEx(body, &size)) {
            DWORD code = GetLastError();
            if (body != INVALID_HANDLE_VALUE)
                CloseHandle(body);
            body = INVALID_HANDLE_VALUE;
            char prefix[32];
            snprintf(prefix, sizeof prefix, "(OS %lu)", code);
            ErrorPage(&reply, 403,
                      "You don't have permission to access " + HtmlEscaped(request.target) + " on this server.",
                      prefix + SystemMessage(code) + ": file permissions deny server access: " + Slashed(reply.file));
            size.QuadPart = (LONGLONG)reply.body.size();
        }
    }
    if (!reply.error.empty())
        WriteErrorLog(logsDir_, "error", std::string("[client ") + client + "] " + reply.error);

    SYSTEMTIME utc;
    GetSystemTime(&utc);
    char headers[1024];
    int length = snprintf(headers, sizeof headers,
                          "HTTP/1.1 %d %s\r\n"
                          "Date: %s, %02u %s %u %02u:%02u:%02u GMT\r\n"
                          "Server: Apache (stand-in)\r\n"
                          "%s%s%s"
                          "Content-Length: %llu\r\n"
                          "Content-Type: %s\r\n"
                          "Connection: close\r\n\r\n",
                          reply.status, StatusText(reply.status), kDays[utc.wDayOfWeek % 7], utc.wDay,
                          kMonths[(utc.wMonth + 11) % 12], utc.wYear, utc.wHour, utc.wMinute, utc.wSecond,
                          reply.location.empty() ? "" : "Location: ", reply.location.c_str(),
                          reply.location.empty() ? "" : "\r\n", (unsigned long long)size.QuadPart,
                          body != INVALID_HANDLE_VALUE ? ContentTypeOf(reply.file) : "text/html; charset=iso-8859-1");
    unsigned long long sent = 0;
    if (length > 0 && (size_t)length < sizeof headers && SendAll(s, headers, length) &&
        request.method != "HEAD") {
        if (body == INVALID_HANDLE_VALUE) {
            if (SendAll(s, reply.body.data(), reply.body.size()))
                sent = reply.body.size();
        } else {
            std::vector<char> chunk(65536);
            DWORD got = 0;
            while (ReadFile(body, chunk.data(), (DWORD)chunk.size(), &got, nullptr) && got > 0 &&
                   SendAll(s, chunk.data(), got))
                sent += got;
        }
    }
    if (body != INVALID_HANDLE_VALUE)
        CloseHandle(body);

    SYSTEMTIME now;
    int offset = 0;
    LocalNow(&now, &offset);
    char line[256];
    char bytes[32] = "-";
    if (sent)
        snprintf(bytes, sizeof bytes, "%llu", sent);
    snprintf(line, sizeof line, "%s - - [%02u/%s/%u:%02u:%02u:%02u %c%02d%02d] \"", client, now.wDay,
             kMonths[(now.wMonth + 11) % 12], now.wYear, now.wHour, now.wMinute, now.wSecond, offset < 0 ? '-' : '+',
             (offset < 0 ? -offset : offset) / 60, (offset < 0 ? -offset : offset) % 60);
    char status[48];
    snprintf(status, sizeof status, "\" %d %s", reply.status, bytes);
    AppendLine(logsDir_ + "access.log", line + LogEscaped(request.line) + status);

    // Lingering close: no more to send, then what the client still sends
    // is read away, so that a reset does not cut the response short.
    shutdown(s, SD_SEND);
    DWORD closing = GetTickCount();
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval wait = {0, 100000};
        char buffer[2048];
        if (select(0, &readable, nullptr, nullptr, &wait) < 0 || GetTickCount() - closing > 2000)
            break;
        if (FD_ISSET(s, &readable) && recv(s, buffer, sizeof buffer, 0) <= 0)
            break;
    }
}

}  // namespace kit
