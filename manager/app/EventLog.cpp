// The event log: one line per event, in the window's list and appended to
// the log file.
#include "ManagerWindow.h"

#include <cstdio>

#include "Texts.h"
#include "resource.h"

namespace {

// The line being written; a line is cut at 255 characters.
char eventLine[256];

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

const char* stateName(int state)
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

void formatEventLine(char* out, size_t size, const SYSTEMTIME& utc, EventSource source,
                     const char* message)
{
    snprintf(out, size, "%02d/%02d %02d:%02d:%02d %s: %s", utc.wDay, utc.wMonth, utc.wHour,
             utc.wMinute, utc.wSecond, SourceLabel(source), message);
}

void ManagerWindow::logEvent(const char* message, EventSource source)
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    formatEventLine(eventLine, sizeof eventLine, now, source, message);

    // A log file that cannot be opened loses the line; the list keeps it.
    FILE* file = fopen(LogPath(), "a");
    if (file) {
        fprintf(file, "%s\n", eventLine);
        fclose(file);
    }
    SendDlgItemMessageA(handle_, IDC_EVENT_LOG, LB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(eventLine));
}
