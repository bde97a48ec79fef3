#include "System.h"

#include <stdio.h>
#include <string.h>

bool SystemErrorText(DWORD code, char* out, size_t size, bool keepLineEnd)
{
    if (!out || !size)
        return false;
    // The system sizes its own buffer, so that a long text is cut here
    // instead of refused; language 0 lets it fall back from the user's
    // language to one it has.
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    bool known = length && text;
    if (known)
        snprintf(out, size, "%s", text);
    else
        snprintf(out, size, "error %lu", static_cast<unsigned long>(code));
    if (text)
        LocalFree(text);
    // The system's texts end with a line end.
    for (size_t end = strlen(out); !keepLineEnd && end > 0 && (out[end - 1] == '\n' || out[end - 1] == '\r'); --end)
        out[end - 1] = '\0';
    return known;
}

DWORD LastErrorOr(DWORD otherwise)
{
    DWORD error = GetLastError();
    return error ? error : otherwise;
}
