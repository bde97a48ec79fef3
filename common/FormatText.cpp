#include "Texts.h"

#include <stdarg.h>
#include <stdio.h>

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
