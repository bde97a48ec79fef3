#include "ApachePort.h"

#include <limits.h>
#include <string.h>

namespace {

// As fgets reads it with a buffer of 300 bytes.
const size_t PieceSize = 300;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// "Port %d" at the start of [line, end): blanks, an optional sign and at
// least one digit. A number that int cannot hold counts as no number.
bool PortNumber(const char* line, const char* end, int* number)
{
    if (end - line < 4 || strncmp(line, "Port", 4) != 0)
        return false;
    const char* p = line + 4;
    while (p < end && IsBlank(*p))
        ++p;
    bool negative = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+'))
        ++p;
    if (p == end || *p < '0' || *p > '9')
        return false;
    long long value = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
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
        char line[PieceSize];
        size_t n = 0;
        while (pos < length && n < PieceSize - 1) {
            char c = text[pos++];
            line[n++] = c;
            if (c == '\n')
                break;
        }
        line[n] = '\0';
        if (line[0] == '#' || !strstr(line, "Port"))
            continue;
        int number = 0;
        *port = PortNumber(line, line + strlen(line), &number) ? number : 0;
        return true;
    }
    return false;
}

namespace {

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

// The port of a Listen argument: "port", "address:port" or
// "[address]:port"; [begin, end) holds no blank.
bool ListenArgumentPort(const char* begin, const char* end, int* port)
{
    const char* digits = begin;
    if (begin < end && *begin == '[') {
        const char* close = begin;
        while (close < end && *close != ']')
            ++close;
        if (close + 1 >= end || close[1] != ':')
            return false;
        digits = close + 2;
    } else {
        const char* colon = nullptr;
        for (const char* p = begin; p < end; ++p) {
            if (*p == ':') {
                if (colon)
                    return false;  // an IPv6 address without brackets
                colon = p;
            }
        }
        if (colon)
            digits = colon + 1;
    }
    if (digits == end || end - digits > 5)
        return false;
    int value = 0;
    for (const char* p = digits; p < end; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + (*p - '0');
    }
    if (value < 1 || value > 65535)
        return false;
    *port = value;
    return true;
}

// The line at *pos, up to its LF or first NUL byte, after its leading
// blanks; *pos moves past the LF.
const char* NextLine(const char* text, size_t length, size_t* pos, const char** end)
{
    size_t lineEnd = *pos;
    while (lineEnd < length && text[lineEnd] != '\n')
        ++lineEnd;
    const char* p = text + *pos;
    *end = text + lineEnd;
    for (const char* q = p; q < *end; ++q) {
        if (*q == '\0') {
            *end = q;
            break;
        }
    }
    *pos = lineEnd + 1;
    while (p < *end && IsSpace(*p))
        ++p;
    return p;
}

}  // namespace

bool ReadApacheListenPort(const char* text, size_t length, int* port)
{
    size_t pos = 0;
    while (pos < length) {
        const char* end;
        const char* p = NextLine(text, length, &pos, &end);
        if (end - p < 7 || _strnicmp(p, "Listen", 6) != 0 || !IsSpace(p[6]))
            continue;
        p += 6;
        while (p < end && IsSpace(*p))
            ++p;
        const char* wordEnd = p;
        while (wordEnd < end && !IsSpace(*wordEnd))
            ++wordEnd;
        int value = 0;
        if (!ListenArgumentPort(p, wordEnd, &value))
            return false;
        *port = value;
        return true;
    }
    return false;
}

bool ReadApachePortDirective(const char* text, size_t length, int* port)
{
    size_t pos = 0;
    while (pos < length) {
        const char* end;
        const char* p = NextLine(text, length, &pos, &end);
        if (end - p < 4 || strncmp(p, "Port", 4) != 0 || (end - p > 4 && !IsSpace(p[4])))
            continue;
        int number = 0;
        *port = PortNumber(p, end, &number) ? number : 0;
        return true;
    }
    return false;
}

bool ReadApacheWebPort(const char* text, size_t length, bool httpd, int* port)
{
    bool decided = httpd ? ReadApachePortDirective(text, length, port) : ReadApachePort(text, length, port);
    return decided || ReadApacheListenPort(text, length, port);
}
