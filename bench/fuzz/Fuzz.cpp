// Random and mutated inputs for the readers of text that comes from outside:
// the command words of the manager's command line, the reply of the version
// check, the Port and Listen lines of httpd.conf, the entry lines of php.ini's
// extension block and the block's loader on a real php.ini. Every reading is compared
// with a plain reference reading written here from the rules of the format.
//
//   tarvane_fuzz [--smoke] [--count N] [--load-count N] [--seed S] [--only NAME]
//
// N inputs per target (default 1000000; --smoke: 2000, and 500 for the
// loader, which works on php.ini in the Windows directory at about a
// millisecond per input under Wine).
//
// Inputs sit flush against a no-access page, after them or (every other
// input) before them, so that a read or a write past either end faults; so
// do the output buffers and the loader object. The product sources are
// compiled into this program with the undefined-behaviour checks, which
// trap. The process's heaps are validated every 1024 inputs; Wine's heap
// checks proper (tail and free checks, the whole heap validated at every
// call) are switched on from outside, see scripts/fuzz.sh. A fault ends the
// run with exit code 3 and names the target and the input, which is saved
// to fuzz-crash.bin; a mismatch ends it with 1. The last line tells success.
#include <windows.h>

#include <ctype.h>
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "ApachePort.h"
#include "ExtensionBlock.h"
#include "ManagerWindow.h"
#include "VersionCheck.h"

namespace {

// ---------------------------------------------------------------- harness

// splitmix64: the same seed gives the same inputs on every machine.
class Rng {
public:
    explicit Rng(uint64_t seed) : state(seed) {}
    uint64_t next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t below(size_t n) { return n ? (size_t)(next() % n) : 0; }

private:
    uint64_t state;
};

// Bytes with a no-access page on either side.
class GuardedArea {
public:
    explicit GuardedArea(size_t bytes)
    {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        page = info.dwPageSize;
        size = (bytes + page - 1) / page * page;
        base = (char*)VirtualAlloc(nullptr, size + 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        DWORD old;
        if (!base || !VirtualProtect(base, page, PAGE_NOACCESS, &old) ||
            !VirtualProtect(base + page + size, page, PAGE_NOACCESS, &old)) {
            fprintf(stderr, "no guarded memory (error %lu)\n", GetLastError());
            exit(2);
        }
    }
    // n bytes that end at the guard page after them, or start at the one
    // before them.
    char* room(size_t n, bool atEnd) { return atEnd ? base + page + size - n : base + page; }
    char* place(const void* bytes, size_t n, bool atEnd)
    {
        char* at = room(n, atEnd);
        memcpy(at, bytes, n);
        return at;
    }

private:
    char* base;
    size_t page, size;
};

// What a fault report names.
const char* currentTarget = "";
long long currentIndex = -1;
const std::string* currentInput = nullptr;

// Reports a fault and ends the run at once, without the heap (which may be
// what broke) and without the C runtime's exit.
void Fatal(const char* what)
{
    char text[256];
    int n = snprintf(text, sizeof text, "%s in %s at input %lld\n", what, currentTarget, currentIndex);
    DWORD done;
    fflush(stdout);
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, n > 0 && n < (int)sizeof text ? n : 0, &done, nullptr);
    if (currentInput) {
        HANDLE file = CreateFileA("fuzz-crash.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            WriteFile(file, currentInput->data(), (DWORD)currentInput->size(), &done, nullptr);
            CloseHandle(file);
            static const char saved[] = "the input is saved in fuzz-crash.bin\n";
            WriteFile(GetStdHandle(STD_ERROR_HANDLE), saved, sizeof saved - 1, &done, nullptr);
        }
    }
    TerminateProcess(GetCurrentProcess(), 3);
}

LONG WINAPI OnFault(EXCEPTION_POINTERS* info)
{
    char what[128];
    DWORD code = info->ExceptionRecord->ExceptionCode;
    snprintf(what, sizeof what, "FAULT 0x%08lx%s at %p", code,
             code == EXCEPTION_ILLEGAL_INSTRUCTION ? " (undefined behaviour)" : "",
             info->ExceptionRecord->ExceptionAddress);
    Fatal(what);
    return EXCEPTION_EXECUTE_HANDLER;
}

// With Wine's heap checks a damaged heap refuses every allocation.
void OnNoMemory()
{
    Fatal("OUT OF MEMORY (damaged heap?)");
}

std::string Escaped(const std::string& s, size_t limit = 200)
{
    std::string out;
    for (size_t i = 0; i < s.size() && i < limit; ++i) {
        unsigned char c = (unsigned char)s[i];
        char hex[8];
        if (c == '\\')
            out += "\\\\";
        else if (c >= 32 && c < 127)
            out += (char)c;
        else {
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    if (s.size() > limit)
        out += "...";
    return out;
}

// Seeds and building blocks of one kind of input.
struct Corpus {
    std::vector<std::string> seeds;
    std::vector<std::string> tokens;
    size_t maxLength;
};

std::string Token(Rng& rng, const Corpus& corpus)
{
    return corpus.tokens[rng.below(corpus.tokens.size())];
}

void Mutate(Rng& rng, const Corpus& corpus, std::string* s)
{
    size_t pos = rng.below(s->size() + 1);
    size_t span = 1 + rng.below(rng.below(64) + 1);
    static const char special[] = {'\0', '\r', '\n', '\x1A', ' ', '\t', '\v', '\f', '/', ';', '#',
                                   '=',  '+',  '-',  '0',    '9', '\x80', '\xA0', '\xFF'};
    switch (rng.below(8)) {
    case 0:  // any byte
        if (pos < s->size())
            (*s)[pos] = (char)rng.below(256);
        break;
    case 1:  // a byte that means something to one of the readers
        if (pos < s->size())
            (*s)[pos] = special[rng.below(sizeof special)];
        break;
    case 2:
        s->insert(pos, Token(rng, corpus));
        break;
    case 3:
        s->erase(pos, span);
        break;
    case 4:  // a copy of a piece
        s->insert(pos, s->substr(rng.below(s->size() + 1), span));
        break;
    case 5: {  // a run, often near a line limit (255, 299) or the reply chunk
        static const size_t lengths[] = {7, 14, 15, 49, 50, 254, 255, 256, 298, 299, 300, 1023, 1024};
        size_t n = rng.below(2) ? lengths[rng.below(sizeof lengths / sizeof lengths[0])] : 1 + rng.below(400);
        char c = rng.below(2) ? 'x' : special[rng.below(sizeof special)];
        s->insert(pos, std::string(n, c));
        break;
    }
    case 6:
        s->resize(pos);
        break;
    case 7: {  // the start of this one, the end of another seed
        const std::string& other = corpus.seeds[rng.below(corpus.seeds.size())];
        *s = s->substr(0, pos) + other.substr(rng.below(other.size() + 1));
        break;
    }
    }
}

std::string Generate(Rng& rng, const Corpus& corpus)
{
    std::string s;
    if (rng.below(4) == 0) {
        size_t length = rng.below(rng.below(corpus.maxLength) + 1);
        while (s.size() < length)
            s += rng.below(2) ? Token(rng, corpus) : std::string(1, (char)rng.below(256));
    } else {
        s = corpus.seeds[rng.below(corpus.seeds.size())];
        for (size_t n = 1 + rng.below(4); n > 0; --n)
            Mutate(rng, corpus, &s);
    }
    if (s.size() > corpus.maxLength)
        s.resize(corpus.maxLength);
    return s;
}

std::string CString(const std::string& s)
{
    return s.substr(0, s.find('\0'));
}

// A target checks one input against its reference; false and *why on a
// mismatch. It sets readValue when the input gave something (a command, a
// version, a port, an entry, a loaded block), to show how many inputs got
// past the first check.
bool readValue;
struct Target {
    const char* name;
    Corpus corpus;
    bool (*check)(const std::string& input, bool atEnd, std::string* why);
    bool fileBased;
};

GuardedArea& InputArea()
{
    static GuardedArea area(64 * 1024);
    return area;
}

GuardedArea& OutputArea()
{
    static GuardedArea area(sizeof(ExtensionBlock) + 4096);
    return area;
}

// ---------------------------------------------------------- command words

HWND commandSink;

// The scan as written for the command line: p moves on one character, a
// word runs to the next blank (which becomes a terminator), and a whole
// word equal, letters folded, to a command posts it.
std::vector<WPARAM> ReferenceCommandWords(std::string* text)
{
    static const std::pair<const char*, WPARAM> words[] = {
        {"start", 32771}, {"stop", 32772}, {"restart", 32794}, {"quit", 32776}, {"browse", 32785}};
    std::vector<WPARAM> ids;
    size_t p = 0;
    // Terminators written at blanks all lie before p: the text from p on
    // is the rest of the string.
    while (text->find('/', p) != std::string::npos) {
        ++p;
        size_t blank = text->find(' ', p);
        std::string word = text->substr(p, blank == std::string::npos ? std::string::npos : blank - p);
        for (char& c : word)
            if (c >= 'A' && c <= 'Z')
                c = (char)(c - 'A' + 'a');
        for (const auto& w : words)
            if (word == w.first)
                ids.push_back(w.second);
        if (blank != std::string::npos) {
            (*text)[blank] = '\0';
            p = blank + 1;
        }
    }
    return ids;
}

bool CheckCommandWords(const std::string& input, bool atEnd, std::string* why)
{
    std::string text = CString(input);
    char* line = InputArea().place(text.c_str(), text.size() + 1, atEnd);
    DispatchCommandWords(line, commandSink);
    std::vector<WPARAM> got;
    MSG msg;
    while (PeekMessageA(&msg, commandSink, 0, 0, PM_REMOVE))
        got.push_back(msg.message == WM_COMMAND && msg.lParam == 0 ? msg.wParam : (WPARAM)-1);

    std::string after = text;
    std::vector<WPARAM> want = ReferenceCommandWords(&after);
    readValue = !want.empty();
    if (got == want && memcmp(line, after.c_str(), after.size() + 1) == 0)
        return true;
    char counts[96];
    snprintf(counts, sizeof counts, "posted %u commands, reference %u; text after %s", (unsigned)got.size(),
             (unsigned)want.size(), memcmp(line, after.c_str(), after.size() + 1) ? "differs" : "same");
    *why = counts;
    return false;
}

// ---------------------------------------------------------- version reply

bool CheckVersionReply(const std::string& input, bool atEnd, std::string* why)
{
    std::string text = CString(input);
    const char* reply = InputArea().place(text.c_str(), text.size() + 1, atEnd);
    char* out = OutputArea().room(VersionTextSize, atEnd);
    memset(out, '?', VersionTextSize);
    bool got = ParseVersionReply(reply, out);

    // The reading the check page's reply is made for.
    char want[VersionTextSize] = "";
    bool found = sscanf(text.c_str(), "TarvaneVersion=%49s", want) == 1;
    readValue = found;
    if (got == found && strcmp(out, found ? want : "") == 0)
        return true;
    *why = std::string("got ") + (got ? "true \"" : "false \"") + Escaped(out) + "\", reference " +
           (found ? "true \"" : "false \"") + Escaped(want) + "\"";
    return false;
}

// ------------------------------------------------------------- port line

// httpd.conf as text mode gives it, in the pieces fgets(300) reads; the
// first piece not starting with '#' that names "Port" decides, read as a C
// string: "Port" at its start and a number as strtol takes it (blanks, a
// sign, digits, within int), else 0.
std::pair<bool, int> ReferencePort(const std::string& text)
{
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        size_t end = eol == std::string::npos ? text.size() : eol + 1;
        if (end - pos > 299)
            end = pos + 299;
        std::string piece = text.substr(pos, end - pos);
        pos = end;
        const char* line = piece.c_str();
        if (line[0] == '#' || !strstr(line, "Port"))
            continue;
        long value = 0;
        if (strncmp(line, "Port", 4) == 0) {
            char* stop;
            errno = 0;
            value = strtol(line + 4, &stop, 10);
            if (stop == line + 4 || errno == ERANGE)
                value = 0;
        }
        return {true, (int)value};
    }
    return {false, 0};
}

// The line at *pos, up to its LF, then up to its first NUL; *pos moves on.
std::string ReferenceLine(const std::string& text, size_t* pos)
{
    size_t eol = text.find('\n', *pos);
    std::string line = text.substr(*pos, eol == std::string::npos ? std::string::npos : eol - *pos);
    *pos = eol == std::string::npos ? text.size() : eol + 1;
    return line.substr(0, line.find('\0'));
}

// Without a deciding Port line, Apache 2.x's Listen: the lines at LF, each
// up to its first NUL; leading blanks; '#' makes a comment; the first line
// whose first word is "Listen" in any case, followed by a blank, gives the
// port of its next word ("port", "address:port", "[address]:port"): 1 to 5
// digits from 1 to 65535, or nothing.
std::pair<bool, int> ReferenceListen(const std::string& text)
{
    const std::string blanks = " \t\v\f\r";
    size_t pos = 0;
    while (pos < text.size()) {
        std::string line = ReferenceLine(text, &pos);
        size_t start = line.find_first_not_of(blanks);
        if (start == std::string::npos)
            continue;
        line = line.substr(start);
        std::string first = line.substr(0, 6);
        for (char& c : first)
            c = (char)tolower((unsigned char)c);
        if (first != "listen" || line.size() < 7 || blanks.find(line[6]) == std::string::npos)
            continue;
        std::string rest = line.substr(6);
        size_t from = rest.find_first_not_of(blanks);
        std::string word = from == std::string::npos ? "" : rest.substr(from, rest.find_first_of(blanks, from) - from);
        std::string digits = word;
        if (!word.empty() && word[0] == '[') {
            size_t close = word.find(']');
            digits = close != std::string::npos && close + 1 < word.size() && word[close + 1] == ':'
                         ? word.substr(close + 2)
                         : std::string("x");
        } else if (std::count(word.begin(), word.end(), ':') == 1) {
            digits = word.substr(word.find(':') + 1);
        } else if (std::count(word.begin(), word.end(), ':') > 1) {
            digits = "x";
        }
        if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
            return {false, 0};
        long value = strtol(digits.c_str(), nullptr, 10);
        if (value < 1 || value > 65535)
            return {false, 0};
        return {true, (int)value};
    }
    return {false, 0};
}

// Apache 2.x's Port directive: the lines at LF, each up to its first NUL;
// after leading blanks, "Port" followed by a blank or the line's end
// decides, its number as strtol takes it (within int), else 0.
std::pair<bool, int> ReferencePortDirective(const std::string& text)
{
    const std::string blanks = " \t\v\f\r";
    size_t pos = 0;
    while (pos < text.size()) {
        std::string line = ReferenceLine(text, &pos);
        size_t start = line.find_first_not_of(blanks);
        if (start == std::string::npos || line.compare(start, 4, "Port") != 0 ||
            (line.size() > start + 4 && blanks.find(line[start + 4]) == std::string::npos))
            continue;
        const char* from = line.c_str() + start + 4;
        char* stop;
        errno = 0;
        long value = strtol(from, &stop, 10);
        if (stop == from || errno == ERANGE)
            value = 0;
        return {true, (int)value};
    }
    return {false, 0};
}

// Both readings: Apache 1.3's Port line, and httpd.exe's Port directive;
// Listen where neither decides.
bool CheckApachePort(const std::string& input, bool atEnd, std::string* why)
{
    const char* text = InputArea().place(input.data(), input.size(), atEnd);
    readValue = false;
    for (bool httpd : {false, true}) {
        int port = -12345;
        bool decided = ReadApacheWebPort(text, input.size(), httpd, &port);
        std::pair<bool, int> want = httpd ? ReferencePortDirective(input) : ReferencePort(input);
        if (!want.first)
            want = ReferenceListen(input);
        readValue = readValue || (want.first && want.second != 0);
        if (decided == want.first && (!decided || port == want.second) && (decided || port == -12345))
            continue;
        char text2[96];
        snprintf(text2, sizeof text2, "%s: got %d/%d, reference %d/%d", httpd ? "httpd" : "1.3", decided, port,
                 want.first, want.second);
        *why = text2;
        return false;
    }
    return true;
}

// ------------------------------------------------------- php.ini entries

const char EnabledPrefix[] = "extension=php_";
const char DisabledPrefix[] = ";extension=php_";

bool StartsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, strlen(prefix), prefix) == 0;
}

// 1 and the name, 0 and the name, or -1 and the line unchanged.
short ReferenceEntry(const std::string& line, std::string* name)
{
    if (StartsWith(line, DisabledPrefix)) {
        *name = line.substr(strlen(DisabledPrefix));
        return 0;
    }
    if (StartsWith(line, EnabledPrefix)) {
        *name = line.substr(strlen(EnabledPrefix));
        return 1;
    }
    *name = line;
    return -1;
}

bool CheckEntryLine(const std::string& input, bool atEnd, std::string* why)
{
    std::string line = CString(input);
    char* buffer = InputArea().place(line.c_str(), line.size() + 1, atEnd);
    short got = ParseEntryLine(buffer);
    std::string name;
    short want = ReferenceEntry(line, &name);
    readValue = want >= 0;
    if (got == want && name == buffer)
        return true;
    *why = "got " + std::to_string(got) + " \"" + Escaped(buffer) + "\", reference " + std::to_string(want) +
           " \"" + Escaped(name) + "\"";
    return false;
}

// ------------------------------------------------------ php.ini loading

const char FormatProblem[] = "Probleme dans le format du fichier php.ini !";
const char ProblemCaption[] = "Probl\xE8me";

struct Item {
    std::string text;
    bool checked;
    bool operator==(const Item& o) const { return text == o.text && checked == o.checked; }
};

class MemoryView : public ExtensionView {
public:
    void clear() override { items.clear(); }
    int add(const char* text) override
    {
        items.push_back({text, false});
        return (int)items.size() - 1;
    }
    void setChecked(int index, bool checked) override { items.at(index).checked = checked; }
    bool checked(int index) override { return items.at(index).checked; }
    bool text(int index, char* buffer, int size) override
    {
        if (index < 0 || index >= (int)items.size())
            return false;
        snprintf(buffer, size, "%s", items[index].text.c_str());
        return true;
    }
    int count() override { return (int)items.size(); }
    void showMessage(const char* text, const char* caption) override { messages.push_back({text, caption}); }

    std::vector<Item> items;
    std::vector<std::pair<std::string, std::string>> messages;
};

// php.ini without the start marker, read as PHP ships it: up to a Ctrl-Z,
// each line (split at LF, CRs kept) that starts with "extension=" or
// "zend_extension=", a ";" in front or not, is an item; its text is what
// follows "=", without trailing CRs, up to a NUL, zend_extension ones
// behind "[Zend] ", cut to 255 characters. starts: each item's line offset.
struct StandardReading {
    std::vector<Item> items;
    std::vector<size_t> starts;
};

bool HasMarkerLine(const std::string& bytes)
{
    std::string text = bytes.substr(0, bytes.find('\x1A')), line;
    for (size_t pos = 0; pos <= text.size(); ++pos) {
        if (pos == text.size() || text[pos] == '\n') {
            if (line == ";PHPExt")
                return true;
            line.clear();
        } else if (text[pos] != '\r') {
            line += text[pos];
        }
    }
    return false;
}

StandardReading ReferenceStandard(const std::string& bytes)
{
    StandardReading reading;
    if (HasMarkerLine(bytes))
        return reading;
    std::string text = bytes.substr(0, bytes.find('\x1A'));
    for (size_t pos = 0; pos < text.size();) {
        size_t eol = text.find('\n', pos);
        std::string line = text.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
        std::string rest = line[0] == ';' ? line.substr(1) : line, label;
        if (StartsWith(rest, "extension="))
            rest = rest.substr(10);
        else if (StartsWith(rest, "zend_extension="))
            rest = rest.substr(15), label = "[Zend] ";
        else
            rest = "\n";
        if (rest != "\n") {
            while (!rest.empty() && rest.back() == '\r')
                rest.pop_back();
            reading.items.push_back({(label + CString(rest)).substr(0, 255), line[0] != ';'});
            reading.starts.push_back(pos);
        }
        pos = eol == std::string::npos ? text.size() : eol + 1;
    }
    return reading;
}

struct LoadResult {
    bool formatError;
    std::vector<Item> items;
    std::string head;  // what the working file holds
};

// php.ini read by the text rules: Ctrl-Z ends the file, CRs are dropped,
// LF ends a line; a line of more than 255 characters gives its first 255
// and ends the reading. The head runs up to and including ";PHPExt"; each
// block line must be an entry (and hold no NUL byte, which could not be
// written back) until ";/PHPExt"; a failed read is an empty line.
LoadResult ReferenceLoad(const std::string& bytes)
{
    StandardReading standard = ReferenceStandard(bytes);
    if (!standard.items.empty())
        return {false, standard.items, ""};  // the working file is not written
    std::string text;
    for (char c : bytes.substr(0, bytes.find('\x1A')))
        if (c != '\r')
            text += c;
    std::vector<std::string> lines;
    size_t pos = 0;
    bool failed = false;
    while (pos < text.size() && !failed) {
        size_t eol = text.find('\n', pos);
        std::string line = text.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
        pos = eol == std::string::npos ? text.size() : eol + 1;
        if (line.size() > 255) {
            line.resize(255);
            failed = true;  // the over-long line is the last one read
        }
        lines.push_back(line);
    }
    size_t next = 0;
    LoadResult result{false, {}, ""};
    while (next < lines.size()) {
        const std::string& line = lines[next++];
        result.head += line + "\r\n";
        if (line == ";PHPExt")
            break;
    }
    for (;;) {
        std::string line = next < lines.size() ? lines[next++] : "";
        if (line == ";/PHPExt")
            break;
        std::string name;
        short kind = ReferenceEntry(line, &name);
        if (kind < 0 || line.find('\0') != std::string::npos) {
            result.formatError = true;
            result.items.assign(1, Item{FormatProblem, false});
            break;
        }
        result.items.push_back({name, kind == 1});
    }
    return result;
}

std::string iniPath, workPath, oldPath;

// Rewritten in place: Wine takes ten times longer to create a file over an
// existing one.
bool WriteBytes(const std::string& path, const std::string& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD done = 0;
    bool ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &done, nullptr) && done == bytes.size() &&
              SetEndOfFile(file);
    return CloseHandle(file) && ok;
}

bool ReadBytes(const std::string& path, std::string* bytes)
{
    bytes->clear();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char buffer[16384];
    DWORD got;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got)
        bytes->append(buffer, got);
    CloseHandle(file);
    return true;
}

bool CheckIniLoad(const std::string& input, bool atEnd, std::string* why)
{
    if (!WriteBytes(iniPath, input)) {
        *why = "cannot write php.ini";
        return false;
    }
    DeleteFileA(workPath.c_str());
    MemoryView view;
    // The loader's buffers end at a guard page (or start at one).
    ExtensionBlock* block = new (OutputArea().room(sizeof(ExtensionBlock), atEnd)) ExtensionBlock(view);
    block->load();
    block->~ExtensionBlock();
    std::string head;
    ReadBytes(workPath, &head);

    LoadResult want = ReferenceLoad(input);
    readValue = !want.formatError;
    bool messagesRight = want.formatError
                             ? view.messages.size() == 1 && view.messages[0].first == FormatProblem &&
                                   view.messages[0].second == ProblemCaption
                             : view.messages.empty();
    if (view.items == want.items && messagesRight && head == want.head)
        return true;
    *why = "items " + std::to_string(view.items.size()) + " (reference " + std::to_string(want.items.size()) +
           ")" + (view.items == want.items ? "" : " differ") + ", messages " + std::to_string(view.messages.size()) +
           (messagesRight ? "" : " wrong") + ", head " + (head == want.head ? "same" : "differs: \"" +
           Escaped(head) + "\" against \"" + Escaped(want.head) + "\"");
    return false;
}

// A file without the start marker: the list is the reference reading, and
// an apply that toggles some items (chosen by the input's length) writes
// the input back with only those lines' leading ";" added or taken away.
bool CheckStandardIni(const std::string& input, bool atEnd, std::string* why)
{
    StandardReading want = ReferenceStandard(input);
    readValue = !want.items.empty();
    if (!readValue)
        return true;  // the block's way: the ini-load target's part
    if (!WriteBytes(iniPath, input)) {
        *why = "cannot write php.ini";
        return false;
    }
    MemoryView view;
    ExtensionBlock* block = new (OutputArea().room(sizeof(ExtensionBlock), atEnd)) ExtensionBlock(view);
    block->load();
    bool loaded = view.items == want.items && view.messages.empty();
    std::string expected = input;
    for (size_t i = view.items.size(); loaded && i-- > 0;) {
        if ((i + input.size()) % 3 != 0)
            continue;
        view.items[i].checked = !view.items[i].checked;
        if (want.items[i].checked)
            expected.insert(want.starts[i], 1, ';');
        else
            expected.erase(want.starts[i], 1);
    }
    bool applied = loaded && block->apply() && view.messages.empty();
    block->~ExtensionBlock();
    std::string written;
    ReadBytes(iniPath, &written);
    if (loaded && applied && written == expected)
        return true;
    *why = "items " + std::to_string(view.items.size()) + " (reference " + std::to_string(want.items.size()) + ")" +
           (loaded ? "" : " differ") + ", messages " + std::to_string(view.messages.size()) + ", written \"" +
           Escaped(written) + "\" against \"" + Escaped(expected) + "\"";
    return false;
}

// Whatever php.ini, tmpphp.ini and tmpphp.old the Windows directory holds
// is set aside for the run and put back after it.
class IniFilesAside {
public:
    IniFilesAside()
    {
        char dir[MAX_PATH];
        GetWindowsDirectoryA(dir, sizeof dir);
        iniPath = std::string(dir) + "\\php.ini";
        workPath = std::string(dir) + "\\tmpphp.ini";
        oldPath = std::string(dir) + "\\tmpphp.old";
        for (int i = 0; i < 3; ++i)
            had[i] = ReadBytes(*paths[i], &saved[i]);
    }
    ~IniFilesAside()
    {
        for (int i = 0; i < 3; ++i) {
            DeleteFileA(paths[i]->c_str());
            if (had[i])
                WriteBytes(*paths[i], saved[i]);
        }
    }

private:
    const std::string* paths[3] = {&iniPath, &workPath, &oldPath};
    bool had[3];
    std::string saved[3];
};

// ------------------------------------------------------------------ seeds

const char PhpIni[] =
    "[PHP]\r\n"
    ";;;;;;;;;;;;;;;;;;;\r\n"
    "; About this file ;\r\n"
    ";;;;;;;;;;;;;;;;;;;\r\n"
    "engine = On\r\n"
    "short_open_tag = On\r\n"
    "precision    =  12\r\n"
    "memory_limit = 8M\r\n"
    "include_path = \".;c:\\php\\includes\"\r\n"
    "extension_dir = \"C:\\Tarvane\\php\\extensions\\\"\r\n"
    "[mail function]\r\n"
    "SMTP = localhost\r\n"
    "; The block below lists the extensions; a line\r\n"
    "; without \";\" loads the extension when Apache starts.\r\n"
    ";PHPExt\r\n"
    "extension=php_bz2.dll\r\n"
    ";extension=php_calendar.dll\r\n"
    "extension=php_curl.dll\r\n"
    ";extension=php_domxml.dll\r\n"
    "extension=php_gd2.dll ; image functions\r\n"
    ";extension=php_imap.dll\r\n"
    "extension=php_mbstring.dll\r\n"
    "extension=php_\r\n"
    ";extension=php_zip.dll\r\n"
    ";/PHPExt";

// The Dynamic Extensions part of PHP 8.2's php.ini-development.
const char StandardIni[] =
    "[PHP]\n"
    "; If you wish to have an extension loaded automatically, use the following\n"
    "; syntax:\n"
    ";\n"
    ";   extension=modulename\n"
    ";\n"
    ";extension=bz2\n"
    ";extension=curl\n"
    ";extension=mbstring\n"
    ";extension=exif      ; Must be after mbstring as it depends on it\n"
    ";extension=mysqli\n"
    ";extension=oci8_12c  ; Use with Oracle Database 12c Instant Client\n"
    ";zend_extension=opcache\n"
    "\n"
    "[CLI Server]\n"
    "cli_server.color = On\n";

const char HttpdConf[] =
    "# httpd.conf of the kit\n"
    "ServerType standalone\n"
    "ServerRoot \"C:/Tarvane/Apache\"\n"
    "Timeout 300\n"
    "#Port 8080\n"
    "Port 8080\n"
    "ServerAdmin admin@localhost\n"
    "DocumentRoot \"C:/Tarvane/www\"\n"
    "<Directory \"C:/Tarvane/www\">\n"
    "    AllowOverride All\n"
    "</Directory>\n"
    "Listen 81\n";

std::vector<Target> Targets()
{
    return {
        {"command-words",
         {{"/start /browse", "/START", "/restart", "/start  /stop", "/start/stop", "start", "", "/quit",
           "/Stop /ReStart /BROWSE /quit", "xstart /y", "/st-art /re'start", "////", "/start\t/stop",
           "C:\\Tarvane\\Tarvane.exe /start", "\"/stop\" /browse "},
          {"/", " ", "  ", "start", "stop", "restart", "quit", "browse", "START", "Quit", "/start ", "\t", "//"},
          4096},
         CheckCommandWords,
         false},
        {"version-reply",
         {{"TarvaneVersion=2.2\n", "TarvaneVersion=2.1.0.0", "TarvaneVersion= \r\n 2.0.0.0\r\n", "TarvaneVersion=",
           "<html><body>TarvaneVersion=2.2</body></html>", "TarvaneVersion=" + std::string(60, '9'),
           "HTTP/1.1 404 Not Found\r\n\r\n", "TarvaneVersion=2.2\tbeta\r\nOther=1"},
          {"TarvaneVersion=", "TarvaneVersion", "=", " ", "\t", "\r\n", "\n", "\v", "\f", "2.", "1.0.0.3", "\xA0"},
          2048},
         CheckVersionReply,
         false},
        {"apache-port",
         {{HttpdConf, "Port 81\n", "#Port 81\n", "  Port 81\nPort 82\n", "Port\t+81\n", "Port -1\n",
           "Port 2147483647\n", "Port 2147483648\n", "Port -2147483648\n", "Port 4294967377\n", "ServerPort 81\n",
           std::string(299, 'x') + "Port 81\n", "Listen 8080\n", "Port", "Port 81", "Listen 127.0.0.1:8080\n",
           "Listen [::1]:8080\n", "Listen 0.0.0.0:80 http\n", " \tlisten\t8080\r\n", "#Listen 1\nListen 2\n",
           "Listen ::1\nListen 3\n", "Listen [::1]8080\n", "Listen 65536\n", "Listen 000080\n", "Listen\n8080\n",
           "# Listen: bind to ports\nListen 8080\n", "  Port 81\n", "\tPort\n", "PortX 81\n"},
          {"Port", "Port ", "#", "\n", " ", "\t", "+", "-", "0", "81", "2147483647", "2147483648", "99999999999",
           std::string(1, '\0'), "\r", "Listen ", "LISTEN", "[", "]", ":", "[::1]:", "127.0.0.1:", " http", "65535",
           "65536", "\v"},
          4096},
         CheckApachePort,
         false},
        {"entry-line",
         {{"extension=php_gd.dll", ";extension=php_mysql.dll", "extension=php_", ";extension=php_",
           "Extension=php_gd.dll", " extension=php_x.dll", "; extension=php_gd.dll", "extension=gd.dll", ";PHPExt",
           ";/PHPExt", "extension=php_gd.dll ; image functions", ""},
          {"extension=php_", ";extension=php_", "extension", "=", "php_", ";", ".dll", " "},
          400},
         CheckEntryLine,
         false},
        {"ini-load",
         {{PhpIni, ";PHPExt\r\n;/PHPExt", ";PHPExt\n;/PHPExt\nafter\n", "no block\r\n",
           std::string(PhpIni) + "\r\n; after the block\r\n", ";PHPExt\r\n" + std::string(255, 'x') + "\r\n;/PHPExt"},
          {";PHPExt\r\n", ";/PHPExt", "\r\n;/PHPExt", "extension=php_", ";extension=php_", "\r\n", "\n",
           "\x1A", std::string(1, '\0'), "a.dll", ";PHPExt", "\r"},
          6000},
         CheckIniLoad,
         true},
        {"standard-ini",
         {{StandardIni, ";extension=php_curl.dll\r\nextension=php_gd2.dll\r\n", "extension=", ";zend_extension=opcache",
           "; extension=x\n;   extension=y\nextension=z", ";extension=a\r\r\n;PHPExt\r\n",
           "extension=" + std::string(300, 'n') + "\n;extension=b"},
          {"\nextension=", "\n;extension=", "zend_extension=", ";", "\r\n", "\n", "\r", "\x1A",
           std::string(1, '\0'), "curl", " ; comment", ";PHPExt", "="},
          6000},
         CheckStandardIni,
         true},
    };
}

// ---------------------------------------------------------------- running

// Every heap of the process: the C runtime's malloc has a heap of its own.
bool HeapsValid()
{
    HANDLE heaps[64];
    DWORD n = GetProcessHeaps(64, heaps);
    for (DWORD i = 0; i < n && i < 64; ++i)
        if (!HeapValidate(heaps[i], 0, nullptr))
            return false;
    return true;
}

uint64_t NameHash(const char* name)
{
    uint64_t h = 1469598103934665603ull;
    for (; *name; ++name)
        h = (h ^ (unsigned char)*name) * 1099511628211ull;
    return h;
}

// Runs count inputs; returns the number of mismatches.
long long Run(const Target& target, long long count, uint64_t seed)
{
    Rng rng(seed ^ NameHash(target.name));
    currentTarget = target.name;
    long long mismatches = 0, values = 0;
    DWORD started = GetTickCount();
    for (long long i = 0; i < count; ++i) {
        std::string input = Generate(rng, target.corpus);
        currentIndex = i;
        currentInput = &input;
        std::string why;
        readValue = false;
        bool same = target.check(input, i % 2 == 0, &why);
        values += readValue;
        if (!same) {
            if (++mismatches <= 5)
                printf("  MISMATCH %s input %lld \"%s\": %s\n", target.name, i, Escaped(input).c_str(), why.c_str());
            fflush(stdout);
        }
        if (i % 1024 == 1023 && !HeapsValid())
            Fatal("HEAP DAMAGED by this input or one before");
    }
    currentInput = nullptr;
    if (!HeapsValid())
        Fatal("HEAP DAMAGED by this input or one before");
    printf("%-14s %9lld inputs %6lld mismatches %8.1f s   (%lld gave a value)\n", target.name, count, mismatches,
           (GetTickCount() - started) / 1000.0, values);
    fflush(stdout);
    return mismatches;
}

}  // namespace

int main(int argc, char** argv)
{
    long long count = 1000000, loadCount = -1;
    uint64_t seed = 1;
    const char* only = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--smoke"))
            count = 2000, loadCount = 500;
        else if (!strcmp(argv[i], "--count") && i + 1 < argc)
            count = atoll(argv[++i]);
        else if (!strcmp(argv[i], "--load-count") && i + 1 < argc)
            loadCount = atoll(argv[++i]);
        else if (!strcmp(argv[i], "--seed") && i + 1 < argc)
            seed = strtoull(argv[++i], nullptr, 0);
        else if (!strcmp(argv[i], "--only") && i + 1 < argc)
            only = argv[++i];
        else {
            fprintf(stderr, "usage: tarvane_fuzz [--smoke] [--count N] [--load-count N] [--seed S] [--only NAME]\n");
            return 2;
        }
    }
    if (loadCount < 0)
        loadCount = count;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(OnFault);
    std::set_new_handler(OnNoMemory);
    commandSink = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (!commandSink) {
        fprintf(stderr, "no message window (error %lu)\n", GetLastError());
        return 2;
    }
    printf("seed %llu\n", (unsigned long long)seed);
    IniFilesAside aside;
    long long mismatches = 0;
    for (const Target& target : Targets())
        if (!only || !strcmp(only, target.name))
            mismatches += Run(target, target.fileBased ? loadCount : count, seed);
    DestroyWindow(commandSink);
    // Checked by the callers as well as the exit code: a process that Wine
    // ends on a broken heap may end with 0.
    if (mismatches) {
        printf("fuzz: %lld MISMATCHES\n", mismatches);
        return 1;
    }
    printf("fuzz: every input read as the reference reads it\n");
    return 0;
}
