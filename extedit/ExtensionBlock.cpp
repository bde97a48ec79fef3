#include "ExtensionBlock.h"

#include <stdio.h>
#include <string.h>

#include "System.h"
#include "Texts.h"
#include "resource.h"

namespace {

const char StartMarker[] = ";PHPExt";
const char EndMarker[] = ";/PHPExt";
const char EntryPrefix[] = "extension=php_";
const int EntryPrefixLength = 14;

// The head as a load writes it always ends with the start marker line.
const char HeadEnd[] = ";PHPExt\r\n";
const DWORD HeadEndLength = 9;

bool IsLine(const char* line, int length, const char* text)
{
    return length == (int)strlen(text) && memcmp(line, text, length) == 0;
}

}  // namespace

FileOps workFileOps = {CreateFileA, WriteFile, FlushFileBuffers, CloseHandle, MoveFileExA};

TextBuffer::~TextBuffer()
{
    if (data)
        HeapFree(GetProcessHeap(), 0, data);
}

bool TextBuffer::reserve(DWORD needed)
{
    if (needed <= size)
        return true;
    DWORD grown = size ? size : 4096;
    while (grown < needed) {
        if (grown > 0x7FFFFFFF)
            return false;
        grown *= 2;
    }
    char* bigger = (char*)(data ? HeapReAlloc(GetProcessHeap(), 0, data, grown) : HeapAlloc(GetProcessHeap(), 0, grown));
    if (!bigger)
        return false;
    data = bigger;
    size = grown;
    return true;
}

bool TextBuffer::append(char c)
{
    if (length == size && !reserve(length + 1))
        return false;
    data[length++] = c;
    return true;
}

bool TextBuffer::append(const void* bytes, DWORD count)
{
    if (length + count < length || !reserve(length + count))
        return false;
    memcpy(data + length, bytes, count);
    length += count;
    return true;
}

namespace {

// Reads a text file by lines: CR is dropped, LF ends a line, Ctrl-Z ends
// the file. A line longer than LineSize - 1 characters yields its first
// characters and ends the reading.
class LineReader {
public:
    enum Result { Line, LongLine, NoLine };

    LineReader() : file(INVALID_HANDLE_VALUE), pos(0), len(0), ended(false), failed(false), ioError(false) {}
    ~LineReader() { close(); }

    bool open(const char* path)
    {
        file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        return file != INVALID_HANDLE_VALUE;
    }

    void close()
    {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }

    // The open file's size.
    bool size(ULARGE_INTEGER* size)
    {
        size->LowPart = GetFileSize(file, &size->HighPart);
        return size->LowPart != INVALID_FILE_SIZE || GetLastError() == NO_ERROR;
    }

    // Fills line (LineSize bytes) and its length; on NoLine the line is empty.
    Result read(char* line, int* length)
    {
        int n = 0;
        line[0] = '\0';
        *length = 0;
        if (failed)
            return NoLine;
        for (;;) {
            if (!available()) {
                line[n] = '\0';
                *length = n;
                if (n > 0)
                    return Line;
                failed = true;
                return NoLine;
            }
            // The buffered bytes up to the line end, taken in one go.
            const char* from = buffer + pos;
            DWORD span = len - pos;
            const char* lineEnd = (const char*)memchr(from, '\n', span);
            if (lineEnd)
                span = (DWORD)(lineEnd - from);
            for (DWORD i = 0; i < span; ++i) {
                char c = from[i];
                if (c == '\r')
                    continue;
                if (c == 0x1A) {
                    // Ctrl-Z ends the file here.
                    ended = true;
                    lineEnd = nullptr;
                    span = i;
                    break;
                }
                if (n == LineSize - 1) {
                    pos += i + 1;
                    line[n] = '\0';
                    *length = n;
                    failed = true;
                    return LongLine;
                }
                line[n++] = c;
            }
            pos += span;
            if (lineEnd) {
                ++pos;
                line[n] = '\0';
                *length = n;
                return Line;
            }
        }
    }

    // Everything not yet read, without CR, up to the end of the file.
    // False when it does not fit in memory.
    bool readRest(TextBuffer* rest)
    {
        rest->clear();
        if (failed)
            return true;
        for (int c; (c = next()) >= 0;)
            if (c != '\r' && !rest->append((char)c))
                return false;
        return true;
    }

    // The whole file's bytes as they are, then back to its start for
    // reading by lines. False on a read error or when it does not fit.
    bool readAll(TextBuffer* bytes)
    {
        bytes->clear();
        bool ok = true;
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr) || (got > 0 && !bytes->append(buffer, got)))
                ok = false;
            if (!ok || got == 0)
                break;
        }
        pos = len = 0;
        ended = failed = false;
        // Reading by lines starts over from the first byte, or not at all.
        if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
            ioError = failed = true;
            return false;
        }
        return ok;
    }

    bool hadIoError() const { return ioError; }

private:
    // True when a byte is buffered, reading more when needed.
    bool available()
    {
        if (ended)
            return false;
        if (pos == len) {
            DWORD got = 0;
            if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
                ioError = true;
                got = 0;
            }
            if (got == 0) {
                ended = true;
                return false;
            }
            pos = 0;
            len = got;
        }
        return true;
    }

    int next()
    {
        if (!available())
            return -1;
        unsigned char c = (unsigned char)buffer[pos++];
        if (c == 0x1A) {
            ended = true;
            return -1;
        }
        return c;
    }

    HANDLE file;
    char buffer[65536];
    DWORD pos, len;
    bool ended, failed, ioError;
};

// Buffered writes to one file; every write, the flush and the close are
// checked and the first failure sticks.
class FileWriter {
public:
    FileWriter() : file(INVALID_HANDLE_VALUE), used(0), total(0), ok(false) {}
    ~FileWriter() { close(); }

    bool create(const char* path)
    {
        file = workFileOps.createFile(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ok = file != INVALID_HANDLE_VALUE;
        return ok;
    }

    // Takes over an open handle positioned where writing starts.
    void attach(HANDLE handle)
    {
        file = handle;
        ok = true;
    }

    void write(const char* data, DWORD size)
    {
        while (ok && size > 0) {
            DWORD room = sizeof buffer - used;
            DWORD part = size < room ? size : room;
            memcpy(buffer + used, data, part);
            used += part;
            data += part;
            size -= part;
            if (used == sizeof buffer)
                flush();
        }
    }

    // Writes text whose lines end with LF with CR LF line ends.
    void writeText(const char* text, DWORD length)
    {
        DWORD begin = 0;
        for (DWORD i = 0; i < length; ++i) {
            if (text[i] == '\n') {
                write(text + begin, i - begin);
                write("\r\n", 2);
                begin = i + 1;
            }
        }
        write(text + begin, length - begin);
    }

    // Flushes, commits to disk when asked, closes; true when every step of
    // the file's life succeeded.
    bool close(bool commit = false)
    {
        if (file == INVALID_HANDLE_VALUE)
            return false;
        flush();
        if (ok && commit && !workFileOps.flushFileBuffers(file))
            ok = false;
        if (!workFileOps.closeHandle(file))
            ok = false;
        file = INVALID_HANDLE_VALUE;
        return ok;
    }

    DWORD written() const { return total + used; }

private:
    void flush()
    {
        if (!ok || used == 0)
            return;
        DWORD done = 0;
        if (!workFileOps.writeFile(file, buffer, used, &done, nullptr) || done != used)
            ok = false;
        total += used;
        used = 0;
    }

    HANDLE file;
    char buffer[16384];
    DWORD used, total;
    bool ok;
};

// Is the open working file still the head the last load wrote?
bool HeadIntact(HANDLE file, DWORD headBytes)
{
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    if (size == INVALID_FILE_SIZE || high != 0 || size != headBytes || size < HeadEndLength)
        return false;
    if (SetFilePointer(file, (LONG)(size - HeadEndLength), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return false;
    char end[HeadEndLength];
    DWORD got = 0;
    if (!ReadFile(file, end, HeadEndLength, &got, nullptr) || got != HeadEndLength)
        return false;
    return memcmp(end, HeadEnd, HeadEndLength) == 0;
}

// Cuts the working file back to the head after a failed apply, so that the
// next apply starts from the head again.
bool TruncateWorkFile(const char* path, DWORD headBytes)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = SetFilePointer(file, (LONG)headBytes, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
              SetEndOfFile(file);
    return CloseHandle(file) && ok;
}

bool Exists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

short ParseEntryLine(char* line)
{
    if (line[0] == ';') {
        if (strncmp(line + 1, EntryPrefix, EntryPrefixLength) != 0)
            return -1;
        memmove(line, line + 1 + EntryPrefixLength, strlen(line + 1 + EntryPrefixLength) + 1);
        return 0;
    }
    if (strncmp(line, EntryPrefix, EntryPrefixLength) != 0)
        return -1;
    memmove(line, line + EntryPrefixLength, strlen(line + EntryPrefixLength) + 1);
    return 1;
}

const char ZendLabel[] = "[Zend] ";

StandardKind ParseStandardLine(const char* line, DWORD length, bool* enabled, DWORD* nameAt)
{
    static const struct {
        const char* prefix;
        DWORD length;
        StandardKind kind;
    } forms[] = {{"extension=", 10, PlainExtension}, {"zend_extension=", 15, ZendExtension}};
    DWORD skip = length > 0 && line[0] == ';' ? 1 : 0;
    for (const auto& form : forms) {
        if (length - skip >= form.length && memcmp(line + skip, form.prefix, form.length) == 0) {
            *enabled = skip == 0;
            *nameAt = skip + form.length;
            return form.kind;
        }
    }
    return NotExtension;
}

void StandardItemText(const char* line, DWORD length, char* buffer, int size)
{
    buffer[0] = '\0';
    bool enabled;
    DWORD at;
    StandardKind kind = ParseStandardLine(line, length, &enabled, &at);
    if (kind == NotExtension || size < 1)
        return;
    DWORD end = length;
    while (end > at && line[end - 1] == '\r')
        --end;
    const char* nul = (const char*)memchr(line + at, '\0', end - at);
    if (nul)
        end = (DWORD)(nul - line);
    snprintf(buffer, size, "%s%.*s", kind == ZendExtension ? ZendLabel : "", (int)(end - at), line + at);
}

bool HasStartMarker(const char* bytes, DWORD length)
{
    if (length == 0)
        return false;
    const char* stop = (const char*)memchr(bytes, 0x1A, length);
    if (stop)
        length = (DWORD)(stop - bytes);
    const DWORD markerLength = sizeof StartMarker - 1;
    for (DWORD at = 0; at < length;) {
        const char* line = bytes + at;
        const char* lf = (const char*)memchr(line, '\n', length - at);
        DWORD lineLength = lf ? (DWORD)(lf - line) : length - at;
        at += lineLength + 1;
        if (lineLength < markerLength)
            continue;
        // The line without its CRs, as a load reads it.
        DWORD matched = 0, i = 0;
        for (; i < lineLength; ++i) {
            if (line[i] == '\r')
                continue;
            if (matched == markerLength || line[i] != StartMarker[matched])
                break;
            ++matched;
        }
        if (i == lineLength && matched == markerLength)
            return true;
    }
    return false;
}

bool ReplaceByRenames(const char* workPath, const char* iniPath, const char* backupPath)
{
    bool hadIni = Exists(iniPath);
    if (Exists(backupPath)) {
        // Left by an interrupted replacement: while php.ini is missing it
        // may be the only copy, so it stays.
        if (!hadIni)
            return false;
        DeleteFileA(backupPath);
    }
    if (hadIni && !MoveFileA(iniPath, backupPath))
        return false;
    if (!MoveFileA(workPath, iniPath)) {
        if (hadIni)
            MoveFileA(backupPath, iniPath);
        return false;
    }
    if (hadIni)
        DeleteFileA(backupPath);
    return true;
}

// What php.ini carries besides its bytes: its attributes and its access
// rights, read before the replacement and given to the new file, as
// ReplaceFile does (which the Windows 95 family lacks).
class FileIdentity {
public:
    explicit FileIdentity(const char* path) : attributes(GetFileAttributesA(path)), security(nullptr)
    {
        DWORD needed = 0;
        const SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION;
        if (!GetFileSecurityA(path, what, nullptr, 0, &needed) && needed > 0 &&
            (security = HeapAlloc(GetProcessHeap(), 0, needed)) != nullptr &&
            !GetFileSecurityA(path, what, security, needed, &needed)) {
            HeapFree(GetProcessHeap(), 0, security);
            security = nullptr;
        }
    }
    ~FileIdentity()
    {
        if (security)
            HeapFree(GetProcessHeap(), 0, security);
    }
    void giveTo(const char* path) const
    {
        if (security)
            SetFileSecurityA(path, DACL_SECURITY_INFORMATION, security);
        if (attributes != INVALID_FILE_ATTRIBUTES && GetFileAttributesA(path) != attributes)
            SetFileAttributesA(path, attributes);
    }

private:
    FileIdentity(const FileIdentity&);
    FileIdentity& operator=(const FileIdentity&);
    DWORD attributes;
    void* security;
};

bool ReplaceIniFile(const char* workPath, const char* iniPath)
{
    FileIdentity identity(iniPath);
    if (workFileOps.moveFileEx(workPath, iniPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        identity.giveTo(iniPath);
        return true;
    }
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED)
        return false;
    // The Windows 95 family has no MoveFileExA.
    char backup[PathSize];
    snprintf(backup, sizeof backup, "%s", iniPath);
    char* slash = strrchr(backup, '\\');
    size_t dirLength = slash ? (size_t)(slash + 1 - backup) : 0;
    if (dirLength + sizeof "tmpphp.old" > sizeof backup)
        return false;
    strcpy(backup + dirLength, "tmpphp.old");
    if (!ReplaceByRenames(workPath, iniPath, backup))
        return false;
    identity.giveTo(iniPath);
    return true;
}

ExtensionBlock::ExtensionBlock(ExtensionView& view)
    : view_(view), curLength_(0), headSaved_(false), headBytes_(0), stampKnown_(false), loadedSize_(), loadedWrite_(),
      standard_(false), standardItems_(0)
{
    curLine_[0] = outLine_[0] = iniPath_[0] = tmpPath_[0] = errorText_[0] = '\0';
}

void ExtensionBlock::load()
{
    char caption[64], message[128];
    CopyText(caption, sizeof caption, IDS_PROBLEM_CAPTION);

    view_.clear();
    headSaved_ = false;
    headBytes_ = 0;
    stampKnown_ = false;
    tail_.clear();
    standard_ = false;
    standardItems_ = 0;
    whole_.clear();
    lines_.clear();

    // A path that does not fit is left empty rather than cut into the name
    // of some other file.
    char windowsDir[PathSize];
    UINT dirLength = GetWindowsDirectoryA(windowsDir, sizeof windowsDir);
    iniPath_[0] = tmpPath_[0] = '\0';
    if (dirLength > 0 && dirLength < sizeof windowsDir) {
        if (snprintf(iniPath_, sizeof iniPath_, "%s\\php.ini", windowsDir) >= (int)sizeof iniPath_)
            iniPath_[0] = '\0';
        if (snprintf(tmpPath_, sizeof tmpPath_, "%s\\tmp%s", windowsDir, "php.ini") >= (int)sizeof tmpPath_)
            tmpPath_[0] = '\0';
    }

    LineReader ini;
    if (!iniPath_[0] || !ini.open(iniPath_)) {
        CopyText(message, sizeof message, IDS_INI_PROBLEM);
        view_.showMessage(message, caption);
        return;
    }

    // What the list will show is php.ini as it stands now: an apply checks
    // that no other program has written it since.
    stampKnown_ = ini.size(&loadedSize_) && FileWriteTime(iniPath_, &loadedWrite_);

    // A php.ini without the start marker anywhere is read as PHP ships it,
    // when it has extension lines; one with neither goes the block's way
    // below, to its format error.
    if (ini.readAll(&whole_) && !HasStartMarker(whole_.data, whole_.length) && loadStandard()) {
        standard_ = true;
        return;
    }

    // The head, up to and including the start marker, goes to the working
    // file. When that file cannot be written the list is still shown, but
    // no apply will replace php.ini.
    FileWriter work;
    bool workOk = tmpPath_[0] && work.create(tmpPath_);
    bool startFound = false;
    for (;;) {
        LineReader::Result read = ini.read(curLine_, &curLength_);
        if (read == LineReader::NoLine)
            break;
        work.write(curLine_, (DWORD)curLength_);
        work.write("\r\n", 2);
        if (read == LineReader::LongLine)
            break;
        if (IsLine(curLine_, curLength_, StartMarker)) {
            startFound = true;
            break;
        }
    }
    if (workOk) {
        workOk = work.close();
        headBytes_ = work.written();
    }

    // The block: a read that fails leaves an empty line, which is no entry.
    int index = 0;
    bool endFound = true;
    ini.read(curLine_, &curLength_);
    while (!IsLine(curLine_, curLength_, EndMarker)) {
        // A NUL byte inside a line or an entry beyond the list's index
        // range could not be written back as read.
        short kind = -1;
        if ((int)strlen(curLine_) == curLength_ && index < MaxEntries)
            kind = ParseEntryLine(curLine_);
        if (kind < 0 || view_.add(curLine_) < 0) {
            formatError();
            endFound = false;
            break;
        }
        if (kind == 1)
            view_.setChecked(index, true);
        ini.read(curLine_, &curLength_);
        ++index;
    }

    // Lines after the end marker belong to the user: apply puts them back.
    bool tailRead = !endFound || ini.readRest(&tail_);
    headSaved_ = workOk && startFound && endFound && tailRead && !ini.hadIoError();
}

namespace {

// The length of the line at offset at, up to its LF or the end.
DWORD LineLength(const char* bytes, DWORD length, DWORD at)
{
    const char* lf = (const char*)memchr(bytes + at, '\n', length - at);
    return lf ? (DWORD)(lf - (bytes + at)) : length - at;
}

// What a standard file's lines are read from: up to a Ctrl-Z.
DWORD TextLength(const TextBuffer& bytes)
{
    const char* stop = bytes.length ? (const char*)memchr(bytes.data, 0x1A, bytes.length) : nullptr;
    return stop ? (DWORD)(stop - bytes.data) : bytes.length;
}

}  // namespace

bool ExtensionBlock::loadStandard()
{
    DWORD length = TextLength(whole_);
    char text[LineSize];
    for (DWORD at = 0; at < length && standardItems_ < MaxEntries;) {
        const char* line = whole_.data + at;
        DWORD lineLength = LineLength(whole_.data, length, at);
        bool enabled;
        DWORD nameAt;
        if (ParseStandardLine(line, lineLength, &enabled, &nameAt) != NotExtension) {
            StandardItemText(line, lineLength, text, sizeof text);
            // A list that takes no more shows fewer items; the lines of the
            // others are never changed.
            if (view_.add(text) != standardItems_ || !lines_.append(&at, sizeof at))
                break;
            if (enabled)
                view_.setChecked(standardItems_, true);
            ++standardItems_;
        }
        at += lineLength + 1;
    }
    if (standardItems_ > 0)
        return true;
    view_.clear();
    return false;
}

int ExtensionBlock::writeStandardIni()
{
    if (!stampKnown_ || !iniPath_[0] || !tmpPath_[0])
        return 0;
    DWORD attributes = GetFileAttributesA(iniPath_);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return 0;

    // Item i stands for the line at offset i only while the list holds
    // the items the load put there.
    if (view_.count() != standardItems_)
        return -1;
    DWORD length = TextLength(whole_);
    char shown[LineSize], loaded[LineSize];
    for (int i = 0; i < standardItems_; ++i) {
        DWORD at;
        memcpy(&at, lines_.data + i * sizeof at, sizeof at);
        StandardItemText(whole_.data + at, LineLength(whole_.data, length, at), loaded, sizeof loaded);
        if (!view_.text(i, shown, sizeof shown) || strcmp(shown, loaded) != 0)
            return -1;
    }

    FileWriter work;
    if (!work.create(tmpPath_))
        return 0;
    DWORD copied = 0;
    for (int i = 0; i < standardItems_; ++i) {
        DWORD at;
        memcpy(&at, lines_.data + i * sizeof at, sizeof at);
        bool wasEnabled = whole_.data[at] != ';';
        if (view_.checked(i) == wasEnabled)
            continue;
        work.write(whole_.data + copied, at - copied);
        if (wasEnabled) {
            work.write(";", 1);
            copied = at;
        } else {
            copied = at + 1;  // the ";" goes
        }
    }
    work.write(whole_.data + copied, whole_.length - copied);
    if (work.close(true) && ReplaceIniFile(tmpPath_, iniPath_))
        return 1;
    DeleteFileA(tmpPath_);
    return 0;
}

void ExtensionBlock::formatError()
{
    char caption[64], message[128];
    CopyText(caption, sizeof caption, IDS_PROBLEM_CAPTION);
    CopyText(message, sizeof message, IDS_FORMAT_PROBLEM);
    view_.clear();
    view_.add(message);
    view_.showMessage(message, caption);
}

bool ExtensionBlock::apply()
{
    char caption[64], message[256];
    CopyText(caption, sizeof caption, IDS_PROBLEM_CAPTION);
    errorText_[0] = '\0';

    char first[LineSize];
    if (!view_.text(0, first, sizeof first)) {
        char format[64];
        CopyText(format, sizeof format, IDS_LIST_INDEX);
        snprintf(errorText_, sizeof errorText_, format, 0);
        return false;
    }

    CopyText(message, sizeof message, IDS_FORMAT_PROBLEM);
    if (strcmp(first, message) == 0) {
        view_.showMessage(message, caption);
        load();
        return true;
    }

    if (!iniUnchanged()) {
        // Another program wrote php.ini after the load: writing the list
        // would undo its changes unseen. Nothing is written; the list
        // shows the file as it is now.
        CopyText(message, sizeof message, IDS_INI_CHANGED);
        view_.showMessage(message, caption);
        load();
        return true;
    }

    if (standard_) {
        int written = writeStandardIni();
        if (written < 0) {
            CopyText(message, sizeof message, IDS_LIST_CHANGED);
            view_.showMessage(message, caption);
            load();
            return true;
        }
        if (written == 0) {
            CopyText(message, sizeof message, IDS_INI_PROBLEM);
            view_.showMessage(message, caption);
            return true;
        }
        load();
        return true;
    }

    if (!writeNewIni()) {
        // php.ini is as it was; the marks stay so the user can try again.
        CopyText(message, sizeof message, IDS_INI_PROBLEM);
        view_.showMessage(message, caption);
        return true;
    }
    load();
    return true;
}

bool ExtensionBlock::writeNewIni()
{
    if (!headSaved_ || !iniPath_[0] || !tmpPath_[0])
        return false;
    // A read-only php.ini is the user's decision, not ours to overrule.
    DWORD attributes = GetFileAttributesA(iniPath_);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return false;

    HANDLE file = workFileOps.createFile(tmpPath_, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    if (!HeadIntact(file, headBytes_)) {
        workFileOps.closeHandle(file);
        return false;
    }

    // The working file is positioned after the head.
    FileWriter work;
    work.attach(file);
    int count = view_.count();
    char name[LineSize];
    for (int i = 0; i < count; ++i) {
        name[0] = '\0';
        view_.text(i, name, sizeof name);
        int length = snprintf(outLine_, sizeof outLine_, "%s%s\r\n", view_.checked(i) ? EntryPrefix : ";extension=php_",
                              name);
        if (length >= (int)sizeof outLine_)
            length = (int)sizeof outLine_ - 1;
        work.write(outLine_, (DWORD)length);
        outLine_[0] = '\0';
    }
    work.write(EndMarker, (DWORD)strlen(EndMarker));
    if (tail_.length) {
        work.write("\r\n", 2);
        work.writeText(tail_.data, tail_.length);
    }
    if (work.close(true) && ReplaceIniFile(tmpPath_, iniPath_))
        return true;
    if (!TruncateWorkFile(tmpPath_, headBytes_))
        headSaved_ = false;
    return false;
}

bool ExtensionBlock::iniUnchanged() const
{
    if (!stampKnown_)
        return true;  // nothing to compare: the apply's own checks decide
    WIN32_FILE_ATTRIBUTE_DATA now;
    if (!GetFileAttributesExA(iniPath_, GetFileExInfoStandard, &now))
        return false;  // gone or unreadable since the load
    return now.nFileSizeLow == loadedSize_.LowPart && now.nFileSizeHigh == loadedSize_.HighPart &&
           CompareFileTime(&now.ftLastWriteTime, &loadedWrite_) == 0;
}

void ExtensionBlock::removeWorkFile()
{
    if (tmpPath_[0])
        DeleteFileA(tmpPath_);
}
