// The extension block of php.ini: the lines between ";PHPExt" and
// ";/PHPExt" at the end of the file, one PHP extension per line, either
// "extension=php_<name>" (enabled) or ";extension=php_<name>" (disabled).
//
// ExtensionBlock loads the block into a list (the window's check list box,
// seen through ExtensionView) and writes php.ini back from it. Between the
// two, the working file tmpphp.ini in the Windows directory holds the head
// of php.ini (every line up to and including the start marker).
#pragma once

#include <windows.h>

// A line holds at most 255 characters; buffers keep one more for the NUL.
enum { LineSize = 256, PathSize = 256 };

// The item index of the list is a 16-bit signed number.
enum { MaxEntries = 32767 };

// Classifies one line of the block. Returns 1 for "extension=php_<name>",
// 0 for ";extension=php_<name>" (the buffer then holds the name alone) and
// -1 for any other line (the buffer is left as it was).
short ParseEntryLine(char* line);

// php.ini as PHP ships it has no block: its extensions are lines that
// start, at their first character, with "extension=" or
// "zend_extension=", disabled by a ";" in front ("; extension=" with a
// blank is a comment that shows the syntax, not an extension).
enum StandardKind { NotExtension = 0, PlainExtension = 1, ZendExtension = 2 };
// Classifies one line (its bytes without the line end). For an extension
// line, enabled tells whether it has no leading ";" and nameAt is the
// offset of the text after "=".
StandardKind ParseStandardLine(const char* line, DWORD length, bool* enabled, DWORD* nameAt);
// The text the list shows for such a line: the text after "=" up to the
// line end (trailing CRs dropped), cut at a NUL byte and to size - 1
// characters; zend_extension items carry ZendLabel in front.
void StandardItemText(const char* line, DWORD length, char* buffer, int size);
extern const char ZendLabel[];
// Is one line of the file, read by the text rules (CR dropped, Ctrl-Z ends
// the file), exactly the start marker ";PHPExt"?
bool HasStartMarker(const char* bytes, DWORD length);

// What the block needs from the window: the list's operations and the
// owner of its message boxes.
class ExtensionView {
public:
    virtual void clear() = 0;
    // Adds an unchecked item at the end; returns its index, or -1 when the
    // list cannot take it.
    virtual int add(const char* text) = 0;
    virtual void setChecked(int index, bool checked) = 0;
    virtual bool checked(int index) = 0;
    // Copies the item's text (cut to size - 1 characters); false when the
    // index is out of range.
    virtual bool text(int index, char* buffer, int size) = 0;
    virtual int count() = 0;
    // A message box with one OK button and no icon, owned by the window.
    virtual void showMessage(const char* text, const char* caption) = 0;

protected:
    ~ExtensionView() {}
};

// The file operations by which the working file is written and replaces
// php.ini: the system's own, unless a test puts in its own to make any one
// step fail.
struct FileOps {
    HANDLE(WINAPI* createFile)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* writeFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* flushFileBuffers)(HANDLE);
    BOOL(WINAPI* closeHandle)(HANDLE);
    BOOL(WINAPI* moveFileEx)(LPCSTR, LPCSTR, DWORD);
};
extern FileOps workFileOps;

// Replaces php.ini by the finished working file in one step. On systems
// without MoveFileExA (the Windows 95 family) it falls back to
// ReplaceByRenames. php.ini is left as it was whenever false is returned.
bool ReplaceIniFile(const char* workPath, const char* iniPath);
// The fallback: php.ini is renamed aside to backupPath, the working file
// takes its name, and the backup is removed; when the second rename fails
// the backup goes back to its place.
bool ReplaceByRenames(const char* workPath, const char* iniPath, const char* backupPath);

// Bytes that grow on the process heap.
struct TextBuffer {
    TextBuffer() : data(nullptr), length(0), size(0) {}
    ~TextBuffer();
    bool append(char c);
    bool append(const void* bytes, DWORD count);
    // Room for at least needed bytes in all.
    bool reserve(DWORD needed);
    void clear() { length = 0; }

    char* data;
    DWORD length, size;

private:
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;
};

class ExtensionBlock {
public:
    explicit ExtensionBlock(ExtensionView& view);

    // The load: clears the list, reads php.ini into it and writes the head
    // into the working file. Reports failures by message boxes.
    void load();
    // The apply: writes php.ini from the head and the list, then loads
    // again. Returns false when an error escapes (an apply on an empty
    // list); escapedError() then holds its text.
    bool apply();
    // The second half of the quit: removes the working file.
    void removeWorkFile();

    const char* escapedError() const { return errorText_; }
    // Both paths as the last load built them.
    const char* iniFile() const { return iniPath_; }
    const char* workFile() const { return tmpPath_; }

    // The last load read a php.ini without the start marker as PHP ships it.
    bool standardFile() const { return standard_; }

private:
    bool writeNewIni();
    // The standard file: the list from its extension lines; false (and the
    // list empty) when it has none.
    bool loadStandard();
    // Writes the loaded bytes with the leading ";" of every changed item's
    // line added or taken away; 1 done, 0 failed, -1 the list no longer
    // matches the lines it was loaded from.
    int writeStandardIni();
    void formatError();
    // php.ini's size and last write time now, against the ones the last
    // load read: false when another program has written it since.
    bool iniUnchanged() const;

    ExtensionView& view_;

    char curLine_[LineSize];          // the line just read; after classification, the name
    int curLength_;                   // its length in bytes (a line may hold a NUL byte)
    char outLine_[LineSize + 20];     // the entry line being written by apply
    char iniPath_[PathSize];
    char tmpPath_[PathSize];

    bool headSaved_;                  // the last load wrote the whole head to the working file
    DWORD headBytes_;                 // its size in bytes
    TextBuffer tail_;                 // the user's lines after the end marker, LF line ends
    bool stampKnown_;                 // the last load read php.ini's size and write time:
    ULARGE_INTEGER loadedSize_;
    FILETIME loadedWrite_;
    char errorText_[128];

    bool standard_;                   // the last load took the standard road:
    TextBuffer whole_;                // php.ini's bytes as loaded
    TextBuffer lines_;                // per item: the DWORD offset of its line in whole
    int standardItems_;
};
