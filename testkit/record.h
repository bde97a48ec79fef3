// The record file of the kit's stand-in programs (apache.exe, the mysqld
// executables, mysqladmin.exe).
//
// Every invocation of a stand-in appends one line to the file named
// kRecordFileName in the program's own folder (for the kit's layout:
// <kit>\Apache\testkit.log and <kit>\MySql\bin\testkit.log). A running
// instance appends further lines when something happens to it (a restart,
// its end, a service pause). Tests read the file to see exactly what was
// launched and what the instances did.
//
// Line format: seven tab-separated key=value fields in this fixed order,
// ended by "\r\n":
//
//   event=run  program=apache.exe  pid=1234  cmd=<command line>
//   title=<console title>  dir=<current directory>  show=<0..11|none>
//
// - event: what the line records (the kEvent... names below).
// - program: file name of the running program as on disk.
// - pid: its process id, decimal.
// - cmd: GetCommandLineA() as the program received it.
// - title: STARTUPINFO lpTitle from GetStartupInfoA, empty when null. When
//   the creator passed no title, the system fills in one itself (Wine, like
//   Windows, gives the program's path), so only a given title is exact.
// - dir: GetCurrentDirectoryA() when the line was written.
// - show: wShowWindow when STARTF_USESHOWWINDOW is set, "none" otherwise.
//
// In values, '%' and every byte below 0x20 (tab, line feed ...) are written
// as '%' and two upper-case hex digits, so a value never holds a field or
// line separator. Each line is written with one WriteFile on a handle opened
// for appending with full sharing, so lines of several programs never mix.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace kitrecord {

// File name of the record, in the folder of each stand-in program.
constexpr const char kRecordFileName[] = "testkit.log";

// Events.
constexpr const char kEventRun[] = "run";                      // every invocation, first thing it does
constexpr const char kEventRestart[] = "restart";              // apache re-read a valid configuration
constexpr const char kEventRestartFailed[] = "restart-failed"; // ... an invalid one, kept running
constexpr const char kEventEnd[] = "end";                      // a server instance ends normally
// What ended a mysqld stand-in: the shutdown event of its age, or a
// client's shutdown command (mysqladmin, or a test acting as a client).
constexpr const char kEventPidShutdown[] = "pid-shutdown";     // 8.0: "mysqld<pid>_shutdown" ended it
constexpr const char kEventOldPidShutdown[] = "old-pid-shutdown"; // 4.1 to 5.7: "MySQLShutdown<pid>"
constexpr const char kEventNamedShutdown[] = "named-shutdown"; // 3.23: "MySqlShutdown"
constexpr const char kEventClientShutdown[] = "client-shutdown"; // a client's shutdown command, or Ctrl+C
constexpr const char kEventServiceRunning[] = "service-running"; // reported SERVICE_RUNNING
constexpr const char kEventPause[] = "pause";                  // service paused
constexpr const char kEventContinue[] = "continue";            // service continued

// The mysqld stand-ins' listening port, as a named event: it exists while
// a server runs (a second server finds it taken and refuses to start), and
// a client that signals it has sent the server the shutdown command (the
// stand-in mysqladmin does so once root's password is right).
constexpr const char kMysqldPortEvent[] = "TarvaneKitMySqlPort";

struct Record {
    std::string event;
    std::string program;
    unsigned long pid = 0;
    std::string cmdLine;
    std::string title;
    std::string curDir;
    int show = -1;  // wShowWindow, or -1 when STARTF_USESHOWWINDOW was not set
};

inline std::string EscapeValue(const std::string& value)
{
    std::string out;
    out.reserve(value.size());
    for (unsigned char c : value) {
        if (c < 0x20 || c == '%') {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += (char)c;
        }
    }
    return out;
}

inline bool UnescapeValue(const std::string& value, std::string* out)
{
    out->clear();
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '%') {
            out->push_back(value[i]);
            continue;
        }
        if (i + 2 >= value.size())
            return false;
        int code = 0;
        for (int k = 1; k <= 2; ++k) {
            char c = value[i + k];
            int digit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
            if (digit < 0)
                return false;
            code = code * 16 + digit;
        }
        out->push_back((char)code);
        i += 2;
    }
    return true;
}

// The line for a record, with its "\r\n".
inline std::string FormatRecord(const Record& r)
{
    char pid[16];
    snprintf(pid, sizeof pid, "%lu", r.pid);
    char show[16];
    if (r.show < 0)
        snprintf(show, sizeof show, "none");
    else
        snprintf(show, sizeof show, "%d", r.show);
    return "event=" + EscapeValue(r.event) + "\tprogram=" + EscapeValue(r.program) + "\tpid=" + pid +
           "\tcmd=" + EscapeValue(r.cmdLine) + "\ttitle=" + EscapeValue(r.title) + "\tdir=" +
           EscapeValue(r.curDir) + "\tshow=" + show + "\r\n";
}

// Parses one line (with or without its line end); false when it is not a
// well-formed record line.
inline bool ParseRecord(std::string line, Record* r)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    static const char* const keys[] = {"event=", "program=", "pid=", "cmd=", "title=", "dir=", "show="};
    std::string values[7];
    size_t pos = 0;
    for (int i = 0; i < 7; ++i) {
        size_t keyLen = strlen(keys[i]);
        if (line.compare(pos, keyLen, keys[i]) != 0)
            return false;
        pos += keyLen;
        size_t tab = line.find('\t', pos);
        if ((i < 6) != (tab != std::string::npos))
            return false;
        std::string raw = line.substr(pos, tab == std::string::npos ? std::string::npos : tab - pos);
        if (!UnescapeValue(raw, &values[i]))
            return false;
        pos = tab == std::string::npos ? line.size() : tab + 1;
    }
    char* end = nullptr;
    unsigned long pid = strtoul(values[2].c_str(), &end, 10);
    if (values[2].empty() || *end)
        return false;
    int show = -1;
    if (values[6] != "none") {
        long v = strtol(values[6].c_str(), &end, 10);
        if (values[6].empty() || *end || v < 0 || v > 0xFFFF)
            return false;
        show = (int)v;
    }
    r->event = values[0];
    r->program = values[1];
    r->pid = pid;
    r->cmdLine = values[3];
    r->title = values[4];
    r->curDir = values[5];
    r->show = show;
    return true;
}

// Every well-formed line of a record text, in order (malformed lines are
// skipped; *malformed counts them when given).
inline std::vector<Record> ParseRecords(const std::string& text, int* malformed = nullptr)
{
    std::vector<Record> records;
    if (malformed)
        *malformed = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        std::string line = text.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
        pos = eol == std::string::npos ? text.size() : eol + 1;
        if (line.empty() || line == "\r")
            continue;
        Record r;
        if (ParseRecord(line, &r))
            records.push_back(r);
        else if (malformed)
            ++*malformed;
    }
    return records;
}

// Path of the record file of the programs in `folder` (with or without a
// trailing backslash).
inline std::string RecordPath(std::string folder)
{
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/')
        folder += '\\';
    return folder + kRecordFileName;
}

// Reads and parses the record file of the programs in `folder`; empty when
// there is none yet.
inline std::vector<Record> ReadRecords(const std::string& folder)
{
    std::string text;
    HANDLE file = CreateFileA(RecordPath(folder).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    char buffer[8192];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    CloseHandle(file);
    return ParseRecords(text);
}

// The records of one event (and program, unless null), in order.
inline std::vector<Record> Select(const std::vector<Record>& records, const char* event,
                                  const char* program = nullptr)
{
    std::vector<Record> out;
    for (const Record& r : records)
        if (r.event == event && (!program || !_stricmp(r.program.c_str(), program)))
            out.push_back(r);
    return out;
}

// ---- Writer side, used by the stand-in programs themselves ----

// This process's record for an event.
inline Record CurrentRecord(const char* event)
{
    Record r;
    r.event = event;
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    const char* slash = strrchr(path, '\\');
    r.program = slash ? slash + 1 : path;
    r.pid = GetCurrentProcessId();
    const char* cmd = GetCommandLineA();
    r.cmdLine = cmd ? cmd : "";
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    GetStartupInfoA(&si);
    r.title = si.lpTitle ? si.lpTitle : "";
    char dir[MAX_PATH] = "";
    DWORD n = GetCurrentDirectoryA(sizeof dir, dir);
    r.curDir = (n > 0 && n < sizeof dir) ? dir : "";
    r.show = (si.dwFlags & STARTF_USESHOWWINDOW) ? si.wShowWindow : -1;
    return r;
}

// Appends this process's record for an event to the record file beside the
// program. One WriteFile per line on an appending handle; a short retry
// covers a momentary sharing conflict with a reader that did not share.
inline bool AppendRecord(const char* event)
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    char* slash = strrchr(path, '\\');
    if (slash)
        slash[1] = '\0';
    std::string file = RecordPath(path);
    std::string line = FormatRecord(CurrentRecord(event));
    for (int attempt = 0; attempt < 20; ++attempt) {
        HANDLE h = CreateFileA(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (GetLastError() != ERROR_SHARING_VIOLATION)
                return false;
            Sleep(25);
            continue;
        }
        DWORD written = 0;
        BOOL ok = WriteFile(h, line.data(), (DWORD)line.size(), &written, nullptr);
        CloseHandle(h);
        return ok && written == line.size();
    }
    return false;
}

}  // namespace kitrecord
