#include "Texts.h"

void CopyText(char* out, size_t size, UINT id)
{
    if (!out || !size)
        return;
    // LoadStringA leaves the buffer alone when the id has no text.
    out[0] = '\0';
    int capacity = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    if (LoadStringA(GetModuleHandleA(nullptr), id, out, capacity) <= 0)
        out[0] = '\0';
    out[capacity - 1] = '\0';
}
