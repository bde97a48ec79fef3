// A few slots of captured console output, each filled by its own thread
// from a pipe until every holder of the pipe's write end has ended.
#include "ConsoleCapture.h"

#include <string.h>

namespace {

struct Slot {
    volatile LONG draining;  // a thread still reads the pipe
    DWORD pid;
    volatile LONG length;    // bytes of text that are complete
    char text[ConsoleKeepBytes];
    HANDLE pipe;
};

// Servers are few: two drivers, each with one launch at a time, and an
// ended launch keeps its text until its slot is taken again.
const int SlotCount = 4;
Slot slots[SlotCount];
int nextSlot;

DWORD WINAPI Drain(void* param)
{
    Slot* slot = static_cast<Slot*>(param);
    char buffer[512];
    DWORD got = 0;
    while (ReadFile(slot->pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        LONG length = slot->length;
        DWORD room = static_cast<DWORD>(ConsoleKeepBytes - length);
        DWORD take = got < room ? got : room;
        if (take) {
            memcpy(slot->text + length, buffer, take);
            InterlockedExchange(&slot->length, length + static_cast<LONG>(take));
        }
        // Beyond the kept bytes the output is read and dropped.
    }
    CloseHandle(slot->pipe);
    slot->pipe = nullptr;
    InterlockedExchange(&slot->draining, 0);
    return 0;
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
    if (!CreatePipe(&read, &write, nullptr, 0))
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
    slot->draining = 1;
    HANDLE thread = CreateThread(nullptr, 16384, Drain, slot, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) {
        slot->draining = 0;
        slot->pipe = nullptr;
        return;  // readEnd_ closes with the capture; the server sees a broken pipe, never a full one
    }
    CloseHandle(thread);
    readEnd_ = nullptr;
    nextSlot = (slot_ + 1) % SlotCount;
}

int CapturedConsoleLines(DWORD pid, char* lines, int lineSize, int maxLines)
{
    if (!pid || !lines || lineSize <= 0 || maxLines <= 0)
        return 0;
    const Slot* slot = nullptr;
    for (int i = 0; i < SlotCount && !slot; ++i)
        if (slots[i].pid == pid)
            slot = &slots[i];
    if (!slot)
        return 0;
    LONG length = slot->length;
    const char* at = slot->text;
    const char* end = at + length;
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
