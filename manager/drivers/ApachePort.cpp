#include "ApachePort.h"

#include <limits.h>
#include <string.h>

namespace {

// As fgets reads it with a buffer of 300 bytes.
const size_t pieceSize = 300;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// "Port %d" at the start of the line: blanks, an optional sign and at least
// one digit. A number that int cannot hold counts as no number.
bool PortNumber(const char* line, int* number)
{
    if (strncmp(line, "Port", 4) != 0)
        return false;
    const char* p = line + 4;
    while (IsBlank(*p))
        ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    if (*p < '0' || *p > '9')
        return false;
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > (long long)INT_MAX + 1)
            return false;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return false;
    *number = (int)value;
    return true;
}

}  // namespace

bool ReadApachePort(const char* text, size_t length, int* port)
{
    size_t pos = 0;
    while (pos < length) {
        char line[pieceSize];
        size_t n = 0;
        while (pos < length && n < pieceSize - 1) {
            char c = text[pos++];
            line[n++] = c;
            if (c == '\n')
                break;
        }
        line[n] = '\0';
        if (line[0] == '#' || !strstr(line, "Port"))
            continue;
        int number = 0;
        *port = PortNumber(line, &number) ? number : 0;
        return true;
    }
    return false;
}
