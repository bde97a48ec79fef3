// A few slots of captured console output, all filled by one thread that
// reads every open pipe until every holder of its write end has ended.
#include "ConsoleCapture.h"

#include <string.h>

namespace {

// A slot's pipe, text and length change under slotsLock only.
struct Slot {
    volatile LONG draining;  // the pipe is open and read
    DWORD pid;
    LONG length;             // bytes of text kept
    char text[ConsoleKeepBytes];
    HANDLE pipe;
};

// Servers are few: two drivers, each with one launch at a time, and an
// ended launch keeps its text until its slot is taken again.
const int SlotCount = 4;
Slot slots[SlotCount];
int nextSlot;

// One thread for every capture: a thread per pipe would cost a stack each
// for the life of each server (under Wine a thread costs about 1 MB of
// private memory, whatever stack it asks for). Anonymous pipes cannot be
// waited on, so the thread looks into each open pipe, at once again while
// output comes, then after pauses that double up to the longest; with
// nothing to read it sleeps until a pipe is handed over. The pipe holds
// PipeBytes, so a server waits on it only if it writes more than that
// within the longest pause.
const DWORD PipeBytes = 65536;
const DWORD FirstPauseMs = 10, LongestPauseMs = 500;
HANDLE drainWake;  // set when a pipe is handed over
// Held by the drain thread for a pass, and by a reader of the text, who
// first takes what the pipe holds by then (a server that ended at once has
// said its last words).
CRITICAL_SECTION slotsLock;
bool drainRunning;

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

// One look into the slot's pipe, under slotsLock; the pipe is closed once
// it has ended. True while it is open.
bool DrainSlot(Slot* slot, bool* got)
{
    if (!slot->draining)
        return false;
    if (DrainSome(slot, got))
        return true;
    CloseHandle(slot->pipe);
    slot->pipe = nullptr;
    InterlockedExchange(&slot->draining, 0);
    return false;
}

DWORD WINAPI Drain(void*)
{
    DWORD pause = FirstPauseMs;
    for (;;) {
        bool open = false, got = false;
        EnterCriticalSection(&slotsLock);
        for (Slot& slot : slots)
            open = DrainSlot(&slot, &got) || open;
        LeaveCriticalSection(&slotsLock);
        pause = got ? FirstPauseMs : (pause * 2 < LongestPauseMs ? pause * 2 : LongestPauseMs);
        if (WaitForSingleObject(drainWake, !open ? INFINITE : got ? 0 : pause) == WAIT_OBJECT_0)
            pause = FirstPauseMs;
    }
}

// The drain thread, started with the first capture; false when it cannot
// be.
bool DrainRunning()
{
    if (!drainRunning) {
        if (!drainWake) {
            InitializeCriticalSection(&slotsLock);
            drainWake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        }
        HANDLE thread =
            drainWake ? CreateThread(nullptr, 16384, Drain, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr) : nullptr;
        if (thread) {
            CloseHandle(thread);
            drainRunning = true;
        }
    }
    return drainRunning;
}

}  // namespace

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
    if (!DrainRunning())
        return;  // readEnd_ closes with the capture; the server sees a broken pipe, never a full one
    Slot* slot = &slots[slot_];
    EnterCriticalSection(&slotsLock);
    slot->pid = pid;
    slot->length = 0;
    slot->pipe = readEnd_;
    InterlockedExchange(&slot->draining, 1);
    LeaveCriticalSection(&slotsLock);
    SetEvent(drainWake);
    readEnd_ = nullptr;
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
    if (!slot || !drainRunning)
        return 0;
    EnterCriticalSection(&slotsLock);
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
    LeaveCriticalSection(&slotsLock);
    return count;
}
