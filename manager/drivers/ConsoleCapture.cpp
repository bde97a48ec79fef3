// A few slots of captured console output, filled by the message loop,
// which reads every open pipe until every holder of its write end has
// ended.
#include "ConsoleCapture.h"

#include <string.h>

namespace {

struct Slot {
    bool draining;  // the pipe is open and read
    DWORD pid;
    LONG length;    // bytes of text kept
    char text[ConsoleKeepBytes];
    HANDLE pipe;
};

// Servers are few: two drivers, each with one launch at a time, and an
// ended launch keeps its text until its slot is taken again.
const int SlotCount = 4;
Slot slots[SlotCount];
int nextSlot;

// The user-interface thread drains every pipe; no thread of its own (under
// Wine a thread costs about 1 MB of private memory, whatever stack it asks
// for). Anonymous pipes cannot be waited on, so the message loop looks
// into each open pipe: at once again while output comes, then after
// pauses that double; at the longest the monitor's tick looks instead. The
// pipe holds PipeBytes, so a server waits on it only if it writes more
// than that between two looks.
const DWORD PipeBytes = 65536;
const DWORD FirstPauseMs = 10, LongestPauseMs = 640;
DWORD pause = FirstPauseMs;
DWORD lastLook;

// Reads what the slot's pipe holds without waiting; false once the pipe
// has ended (every writer gone and nothing left).
bool DrainSome(Slot* slot, bool* got)
{
    DWORD available = 0;
    if (!PeekNamedPipe(slot->pipe, nullptr, 0, nullptr, &available, nullptr))
        return false;
    if (!available)
        return true;
    char buffer[512];
    DWORD read = 0;
    if (!ReadFile(slot->pipe, buffer, available < sizeof buffer ? available : sizeof buffer, &read, nullptr) || !read)
        return false;
    *got = true;
    DWORD room = static_cast<DWORD>(ConsoleKeepBytes - slot->length);
    DWORD take = read < room ? read : room;
    memcpy(slot->text + slot->length, buffer, take);
    slot->length += static_cast<LONG>(take);
    // Beyond the kept bytes the output is read and dropped.
    return true;
}

// One look into the slot's pipe; the pipe is closed once it has ended.
// True while it is open.
bool DrainSlot(Slot* slot, bool* got)
{
    if (!slot->draining)
        return false;
    if (DrainSome(slot, got))
        return true;
    CloseHandle(slot->pipe);
    slot->pipe = nullptr;
    slot->draining = false;
    return false;
}

}  // namespace

DWORD DrainConsoles()
{
    bool open = false;
    for (const Slot& slot : slots)
        open = open || slot.draining;
    if (!open)
        return INFINITE;
    DWORD since = GetTickCount() - lastLook;
    if (since >= pause) {
        bool got = false;
        for (Slot& slot : slots)
            DrainSlot(&slot, &got);
        lastLook += since;
        since = 0;
        pause = got ? 0 : pause == 0 ? FirstPauseMs : pause * 2 < LongestPauseMs ? pause * 2 : LongestPauseMs;
    }
    return pause >= LongestPauseMs ? INFINITE : pause - since;
}

ConsoleCapture::ConsoleCapture() : slot_(-1), childEnd_(nullptr), readEnd_(nullptr) {}

ConsoleCapture::~ConsoleCapture()
{
    if (childEnd_)
        CloseHandle(childEnd_);
    if (readEnd_)
        CloseHandle(readEnd_);
}

bool ConsoleCapture::prepare()
{
    int free = -1;
    for (int i = 0; i < SlotCount && free < 0; ++i) {
        int candidate = (nextSlot + i) % SlotCount;
        if (!slots[candidate].draining)
            free = candidate;
    }
    if (free < 0)
        return false;
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, nullptr, PipeBytes))
        return false;
    // Only the program's end is inheritable (DuplicateHandle exists on
    // every Windows, SetHandleInformation only on NT).
    HANDLE process = GetCurrentProcess();
    HANDLE inheritable = nullptr;
    BOOL duplicated = DuplicateHandle(process, write, process, &inheritable, 0, TRUE, DUPLICATE_SAME_ACCESS);
    CloseHandle(write);
    if (!duplicated) {
        CloseHandle(read);
        return false;
    }
    slot_ = free;
    childEnd_ = inheritable;
    readEnd_ = read;
    return true;
}

void ConsoleCapture::attach(DWORD pid)
{
    if (slot_ < 0)
        return;
    // The manager's copy of the write end goes at once: the pipe then
    // ends when the server and its children have ended.
    CloseHandle(childEnd_);
    childEnd_ = nullptr;
    Slot* slot = &slots[slot_];
    slot->pid = pid;
    slot->length = 0;
    slot->pipe = readEnd_;
    slot->draining = true;
    readEnd_ = nullptr;
    // The next look comes soon: a server says most at its start.
    pause = FirstPauseMs;
    lastLook = GetTickCount();
    nextSlot = (slot_ + 1) % SlotCount;
}

int CapturedConsoleLines(DWORD pid, char* lines, int lineSize, int maxLines)
{
    if (!pid || !lines || lineSize <= 0 || maxLines <= 0)
        return 0;
    Slot* slot = nullptr;
    for (int i = 0; i < SlotCount && !slot; ++i)
        if (slots[i].pid == pid)
            slot = &slots[i];
    if (!slot)
        return 0;
    // What the pipe holds now is taken first, up to the kept bytes.
    bool got = true;
    while (got && slot->length < ConsoleKeepBytes) {
        got = false;
        DrainSlot(slot, &got);
    }
    const char* at = slot->text;
    const char* end = at + slot->length;
    int count = 0;
    while (at < end && count < maxLines) {
        const char* lineEnd = static_cast<const char*>(memchr(at, '\n', static_cast<size_t>(end - at)));
        if (!lineEnd)
            lineEnd = end;
        const char* textEnd = lineEnd;
        while (textEnd > at && (textEnd[-1] == '\r' || textEnd[-1] == ' ' || textEnd[-1] == '\t'))
            --textEnd;
        const char* textStart = at;
        while (textStart < textEnd && (*textStart == ' ' || *textStart == '\t'))
            ++textStart;
        if (textEnd > textStart) {
            int size = static_cast<int>(textEnd - at);
            if (size > lineSize - 1)
                size = lineSize - 1;
            char* line = lines + count * lineSize;
            memcpy(line, at, static_cast<size_t>(size));
            line[size] = '\0';
            ++count;
        }
        at = lineEnd + 1;
    }
    return count;
}
