#include "Texts.h"

#include <stdarg.h>
#include <stdio.h>

namespace {

// A ring of buffers so that a few fetched texts can be used together, for
// example a message and its caption.
const int RingSize = 8;
char ring[RingSize][MaxTextLength + 1];
int ringPos = 0;

}  // namespace

const char* LoadText(UINT id)
{
    ringPos = ringPos == RingSize - 1 ? 0 : ringPos + 1;
    char* text = ring[ringPos];
    // LoadStringA leaves the buffer alone when the id has no text: clear it
    // so that a missing text is empty rather than one fetched 8 calls ago.
    text[0] = '\0';
    LoadStringA(nullptr, id, text, sizeof ring[ringPos]);
    text[MaxTextLength] = '\0';
    return text;
}

void CopyText(char* out, size_t size, UINT id)
{
    if (size)
        lstrcpynA(out, LoadText(id), static_cast<int>(size));
}

void FormatText(char* out, size_t size, UINT id, ...)
{
    // The format is copied first: an argument may itself be a fetched text.
    char format[MaxTextLength + 1];
    CopyText(format, sizeof format, id);
    va_list arguments;
    va_start(arguments, id);
    vsnprintf(out, size, format, arguments);
    va_end(arguments);
}
