// The event log: one line per event, in the window's list and appended to
// the log file.
#include "ManagerWindow.h"

#include <cstdio>

#include "System.h"
#include "Texts.h"
#include "resource.h"

namespace {

// The log file is started afresh once it reaches this size; the one before
// is kept beside it as Tarvane.old.log.
const DWORD LogRotateBytes = 1024 * 1024;

void RotateLog(const char* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
        (data.nFileSizeHigh == 0 && data.nFileSizeLow < LogRotateBytes))
        return;
    char older[MAX_PATH];
    int length = lstrlenA(path);
    // "<install dir>Tarvane.log" -> "<install dir>Tarvane.old.log"
    if (length < 4 || snprintf(older, sizeof older, "%.*s.old.log", length - 4, path) >= (int)sizeof older)
        return;
    if (!MoveFileExA(path, older, MOVEFILE_REPLACE_EXISTING)) {
        // The Windows 95 family has no MoveFileExA.
        DeleteFileA(older);
        MoveFileA(path, older);
    }
}

// Appends a line to the list and keeps the newest line in view, unless the
// user has scrolled up; the list scrolls sideways as far as its widest line.
void AddListLine(HWND list, const char* line)
{
    if (!list)
        return;
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    RECT client;
    GetClientRect(list, &client);
    LRESULT itemHeight = SendMessageA(list, LB_GETITEMHEIGHT, 0, 0);
    LRESULT visible = itemHeight > 0 ? (client.bottom - client.top) / itemHeight : 1;
    LRESULT top = SendMessageA(list, LB_GETTOPINDEX, 0, 0);
    bool atEnd = top + visible >= count;

    LRESULT added = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    if (added < 0)
        return;
    if (atEnd)
        SendMessageA(list, LB_SETTOPINDEX, added, 0);

    HDC dc = GetDC(list);
    if (dc) {
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(list, WM_GETFONT, 0, 0)));
        SIZE size = {0, 0};
        GetTextExtentPoint32A(dc, line, lstrlenA(line), &size);
        SelectObject(dc, old);
        ReleaseDC(list, dc);
        // A few pixels more for the item's own margin.
        if (size.cx + 6 > SendMessageA(list, LB_GETHORIZONTALEXTENT, 0, 0))
            SendMessageA(list, LB_SETHORIZONTALEXTENT, size.cx + 6, 0);
    }
}

const char* SourceLabel(EventSource source)
{
    switch (source) {
    case SourceMySql:
        return "MySql  ";
    case SourceApache:
        return "Apache ";
    default:
        return "Tarvane";
    }
}

}  // namespace

const char* StateName(int state)
{
    switch (state) {
    case Running:
        return LoadText(IDS_STATE_STARTED);
    case Stopped:
        return LoadText(IDS_STATE_STOPPED);
    case StartPending:
    case StopPending:
        return LoadText(IDS_STATE_PENDING);
    default:
        return "undefined";
    }
}

void FormatEventLine(char* out, size_t size, const SYSTEMTIME& utc, EventSource source,
                     const char* message)
{
    snprintf(out, size, "%02d/%02d %02d:%02d:%02d %s: %s", utc.wDay, utc.wMonth, utc.wHour,
             utc.wMinute, utc.wSecond, SourceLabel(source), message);
}

void ManagerWindow::logEvent(const char* message, EventSource source)
{
    // A line is cut at 255 characters.
    char eventLine[256];
    SYSTEMTIME now;
    GetSystemTime(&now);
    FormatEventLine(eventLine, sizeof eventLine, now, source, message);

    // A log file that cannot be opened loses the line; the list keeps it,
    // and says so once.
    RotateLog(LogPath());
    FILE* file = fopen(LogPath(), "a");
    if (file) {
        fprintf(file, "%s\n", eventLine);
        fclose(file);
    }
    AddListLine(GetDlgItem(handle_, IDC_EVENT_LOG), eventLine);
    if (!file && !logWriteTold_) {
        logWriteTold_ = true;
        char system[200];
        char text[MaxTextLength + MAX_PATH];
        SystemErrorText(GetLastError(), system, sizeof system);
        FormatText(text, sizeof text, IDS_LOG_NOT_WRITTEN, LogPath(), system);
        FormatEventLine(eventLine, sizeof eventLine, now, SourceManager, text);
        AddListLine(GetDlgItem(handle_, IDC_EVENT_LOG), eventLine);
    }
}
