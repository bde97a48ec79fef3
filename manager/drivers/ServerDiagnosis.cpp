// Why a server ended at once: exit codes, import tables, MySQL's error log
// and the kit's folder, put in words.
#include "ServerDiagnosis.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ConsoleCapture.h"
#include "Texts.h"
#include "resource.h"

namespace {

// --- Exit codes ---

struct CodeText {
    DWORD code;
    UINT text;
};

const CodeText CodeTexts[] = {
    {0xC0000135, IDS_DIAG_CODE_DLL_NOT_FOUND},     // STATUS_DLL_NOT_FOUND
    {0xC0000139, IDS_DIAG_CODE_ENTRY_POINT},       // STATUS_ENTRYPOINT_NOT_FOUND
    {0xC0000138, IDS_DIAG_CODE_ENTRY_POINT},       // STATUS_ORDINAL_NOT_FOUND
    {0xC000007B, IDS_DIAG_CODE_BAD_IMAGE},         // STATUS_INVALID_IMAGE_FORMAT
    {0xC0000005, IDS_DIAG_CODE_ACCESS_VIOLATION},  // STATUS_ACCESS_VIOLATION
    {0xC0000006, IDS_DIAG_CODE_ACCESS_VIOLATION},  // STATUS_IN_PAGE_ERROR
    {0xC0000142, IDS_DIAG_CODE_DLL_INIT},          // STATUS_DLL_INIT_FAILED
    {0xC0000409, IDS_DIAG_CODE_FAST_FAIL},         // STATUS_STACK_BUFFER_OVERRUN (also __fastfail)
    {0xC00000FD, IDS_DIAG_CODE_STACK_OVERFLOW},    // STATUS_STACK_OVERFLOW
    {0xC000001D, IDS_DIAG_CODE_BAD_INSTRUCTION},   // STATUS_ILLEGAL_INSTRUCTION
    {0xC0000096, IDS_DIAG_CODE_BAD_INSTRUCTION},   // STATUS_PRIVILEGED_INSTRUCTION
    {0xC0000017, IDS_DIAG_CODE_NO_MEMORY},         // STATUS_NO_MEMORY
    {0xC000009A, IDS_DIAG_CODE_NO_MEMORY},         // STATUS_INSUFFICIENT_RESOURCES
    {0xC000012D, IDS_DIAG_CODE_NO_MEMORY},         // STATUS_COMMITMENT_LIMIT
    {0xC0000374, IDS_DIAG_CODE_HEAP},              // STATUS_HEAP_CORRUPTION
    {0xC000013A, IDS_DIAG_CODE_INTERRUPTED},       // STATUS_CONTROL_C_EXIT
};

// --- PE images ---

// A whole file read into memory (the images looked at are the servers'
// programs and DLLs: at most some tens of MB, read once on a failure).
class FileImage {
public:
    explicit FileImage(const char* path) : data_(nullptr), size_(0)
    {
        HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return;
        DWORD high = 0;
        DWORD size = GetFileSize(file, &high);
        HANDLE mapping = (high == 0 && size != INVALID_FILE_SIZE && size > 0)
                             ? CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr)
                             : nullptr;
        if (mapping) {
            data_ = static_cast<const BYTE*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
            if (data_)
                size_ = size;
            CloseHandle(mapping);
        }
        CloseHandle(file);
    }
    ~FileImage()
    {
        if (data_)
            UnmapViewOfFile(data_);
    }
    // The NT headers, checked to lie inside the file; null when none.
    const IMAGE_NT_HEADERS32* headers() const
    {
        if (size_ < sizeof(IMAGE_DOS_HEADER))
            return nullptr;
        const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(data_);
        if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew < 0 ||
            static_cast<DWORD>(dos->e_lfanew) > size_ - sizeof(IMAGE_NT_HEADERS64))
            return nullptr;
        const IMAGE_NT_HEADERS32* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(data_ + dos->e_lfanew);
        return nt->Signature == IMAGE_NT_SIGNATURE ? nt : nullptr;
    }
    // The file offset of an address relative to the image; 0 when no
    // section holds it.
    DWORD offsetOf(DWORD rva) const
    {
        const IMAGE_NT_HEADERS32* nt = headers();
        const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
        DWORD end = static_cast<DWORD>(reinterpret_cast<const BYTE*>(section) - data_);
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
            end += sizeof *section;
            if (end > size_)
                return 0;
            DWORD span = section->SizeOfRawData > section->Misc.VirtualSize ? section->SizeOfRawData
                                                                            : section->Misc.VirtualSize;
            if (rva >= section->VirtualAddress && rva - section->VirtualAddress < span) {
                DWORD offset = rva - section->VirtualAddress + section->PointerToRawData;
                return offset < size_ ? offset : 0;
            }
        }
        return 0;
    }
    // The zero-terminated text at an image address, when it ends inside
    // the file; null otherwise.
    const char* textAt(DWORD rva) const
    {
        DWORD offset = offsetOf(rva);
        if (!offset)
            return nullptr;
        const char* text = reinterpret_cast<const char*>(data_ + offset);
        return memchr(text, 0, size_ - offset) ? text : nullptr;
    }
    const BYTE* data_;
    DWORD size_;

private:
    FileImage(const FileImage&) = delete;
    FileImage& operator=(const FileImage&) = delete;
};

bool StartsWithNoCase(const char* text, const char* prefix)
{
    return _strnicmp(text, prefix, strlen(prefix)) == 0;
}

const char* FileNameOf(const char* path)
{
    const char* slash = strrchr(path, '\\');
    const char* other = strrchr(path, '/');
    if (other > slash)
        slash = other;
    return slash ? slash + 1 : path;
}

void AddFolder(DllSearch* search, const char* folder, int length)
{
    if (length <= 0 || search->count >= DllSearch::MaxFolders || length >= MAX_PATH - 1)
        return;
    char* slot = search->folders[search->count];
    memcpy(slot, folder, static_cast<size_t>(length));
    slot[length] = '\0';
    if (slot[length - 1] != '\\' && slot[length - 1] != '/') {
        slot[length] = '\\';
        slot[length + 1] = '\0';
    }
    ++search->count;
}

// Names the loader resolves through the system's API sets, not as files.
bool IsApiSet(const char* dll)
{
    return StartsWithNoCase(dll, "api-ms-") || StartsWithNoCase(dll, "ext-ms-");
}

struct Walk {
    const DllSearch* search;
    WORD machine;
    char seen[128][64];
    int seenCount;
    DllProblem* problem;
};

bool WalkImports(Walk* walk, const char* module, int depth)
{
    const int nameSize = 64, maxNames = 96;
    char names[maxNames][nameSize];
    int count = ImportedDlls(module, names[0], nameSize, maxNames);
    for (int i = 0; i < count; ++i) {
        const char* dll = names[i];
        bool seen = false;
        for (int s = 0; s < walk->seenCount && !seen; ++s)
            seen = _stricmp(walk->seen[s], dll) == 0;
        if (seen)
            continue;
        if (walk->seenCount < 128)
            lstrcpynA(walk->seen[walk->seenCount++], dll, nameSize);

        char path[MAX_PATH];
        int found = -1;
        for (int f = 0; f < walk->search->count && found < 0; ++f) {
            snprintf(path, sizeof path, "%s%s", walk->search->folders[f], dll);
            if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
                found = f;
        }
        if (found < 0 && IsApiSet(dll)) {
            // Windows 10 and later hold no such files: the system maps the
            // name to the DLL that implements it.
            HMODULE loaded = LoadLibraryExA(dll, nullptr, LOAD_LIBRARY_AS_DATAFILE);
            if (loaded) {
                FreeLibrary(loaded);
                continue;
            }
        }
        if (found < 0) {
            walk->problem->kind = DllProblem::Missing;
            lstrcpynA(walk->problem->dll, dll, sizeof walk->problem->dll);
            lstrcpynA(walk->problem->neededBy, module, sizeof walk->problem->neededBy);
            return true;
        }
        WORD machine = ImageMachine(path);
        if (machine && walk->machine && machine != walk->machine) {
            walk->problem->kind = DllProblem::WrongWidth;
            lstrcpynA(walk->problem->dll, dll, sizeof walk->problem->dll);
            lstrcpynA(walk->problem->neededBy, module, sizeof walk->problem->neededBy);
            lstrcpynA(walk->problem->foundAt, path, sizeof walk->problem->foundAt);
            return true;
        }
        // The system's own DLLs are whole; the others are followed.
        bool systemFolder = found >= 1 && found <= walk->search->systemFolders;
        if (!systemFolder && depth < 16 && WalkImports(walk, path, depth + 1))
            return true;
    }
    return false;
}

// --- MySQL's log ---

// Finds `needle` in [text, text + length); null when absent.
const char* FindIn(const char* text, size_t length, const char* needle)
{
    size_t size = strlen(needle);
    if (size == 0 || size > length)
        return nullptr;
    for (const char* at = text; at + size <= text + length; ++at) {
        at = static_cast<const char*>(memchr(at, needle[0], static_cast<size_t>(text + length - at)));
        if (!at || at + size > text + length)
            return nullptr;
        if (memcmp(at, needle, size) == 0)
            return at;
    }
    return nullptr;
}

const char* FindAny(const char* text, size_t length, const char* const* needles)
{
    for (; *needles; ++needles) {
        const char* at = FindIn(text, length, *needles);
        if (at)
            return at;
    }
    return nullptr;
}

// Copies the text between the first two `quote` characters after `from`.
void Quoted(const char* from, const char* end, char quote, char* out, int size)
{
    out[0] = '\0';
    const char* open = static_cast<const char*>(memchr(from, quote, static_cast<size_t>(end - from)));
    if (!open)
        return;
    const char* close = static_cast<const char*>(memchr(open + 1, quote, static_cast<size_t>(end - open - 1)));
    if (!close)
        return;
    int length = static_cast<int>(close - open - 1);
    if (length > size - 1)
        length = size - 1;
    memcpy(out, open + 1, static_cast<size_t>(length));
    out[length] = '\0';
}

// How far back the log is read at most: a run's start-up writes a few KB;
// a server that ran for months with warnings may have written much more.
const DWORD LogReadBytes = 256 * 1024;

void FolderOf(const char* path, char* folder, int size)
{
    lstrcpynA(folder, path, size);
    char* name = const_cast<char*>(FileNameOf(folder));
    *name = '\0';
}

// The pid in the first *.pid file of a folder, when that process lives.
DWORD LivingPidFromFolder(const char* folder)
{
    char pattern[MAX_PATH];
    snprintf(pattern, sizeof pattern, "%s*.pid", folder);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    DWORD pid = 0;
    do {
        char path[MAX_PATH];
        snprintf(path, sizeof path, "%s%s", folder, found.cFileName);
        HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            continue;
        char text[32] = "";
        DWORD got = 0;
        ReadFile(file, text, sizeof text - 1, &got, nullptr);
        CloseHandle(file);
        text[got] = '\0';
        DWORD candidate = strtoul(text, nullptr, 10);
        HANDLE process = candidate ? OpenProcess(SYNCHRONIZE, FALSE, candidate) : nullptr;
        if (process) {
            if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT)
                pid = candidate;
            CloseHandle(process);
        }
    } while (!pid && FindNextFileA(search, &found));
    FindClose(search);
    return pid;
}

}  // namespace

UINT ExitCodeTextId(DWORD code)
{
    for (const CodeText& entry : CodeTexts)
        if (entry.code == code)
            return entry.text;
    return 0;
}

WORD ImageMachine(const char* path)
{
    FileImage image(path);
    const IMAGE_NT_HEADERS32* nt = image.headers();
    return nt ? nt->FileHeader.Machine : 0;
}

int ImportedDlls(const char* path, char* names, int nameSize, int maxNames)
{
    FileImage image(path);
    const IMAGE_NT_HEADERS32* nt = image.headers();
    if (!nt || !names || nameSize <= 0)
        return -1;
    DWORD directory = 0, directorySize = 0;
    if (nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        const IMAGE_NT_HEADERS64* nt64 = reinterpret_cast<const IMAGE_NT_HEADERS64*>(nt);
        if (nt64->OptionalHeader.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_IMPORT) {
            directory = nt64->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
            directorySize = nt64->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].Size;
        }
    } else if (nt->OptionalHeader.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_IMPORT) {
        directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
        directorySize = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].Size;
    }
    if (!directory || !directorySize)
        return 0;
    DWORD offset = image.offsetOf(directory);
    if (!offset)
        return -1;
    int count = 0;
    for (;; offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        if (offset + sizeof(IMAGE_IMPORT_DESCRIPTOR) > image.size_)
            break;
        const IMAGE_IMPORT_DESCRIPTOR* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(image.data_ + offset);
        if (!entry->Name)
            break;
        const char* name = image.textAt(entry->Name);
        if (name && count < maxNames)
            lstrcpynA(names + count++ * nameSize, name, nameSize);
    }
    return count;
}

void BuildDllSearch(const char* program, const char* pathVariable, DllSearch* search)
{
    search->count = 0;
    search->systemFolders = 0;
    char folder[MAX_PATH];
    FolderOf(program ? program : "", folder, sizeof folder);
    AddFolder(search, folder, static_cast<int>(strlen(folder)));

    // The system folder of the program's width: a 32-bit manager sees
    // SysWOW64 under the name System32, and reaches the 64-bit one through
    // Sysnative; a 64-bit manager finds the 32-bit one in SysWOW64.
    char windows[MAX_PATH] = "";
    GetWindowsDirectoryA(windows, sizeof windows);
    char system[MAX_PATH] = "";
    GetSystemDirectoryA(system, sizeof system);
    WORD machine = program ? ImageMachine(program) : 0;
    bool program64 = machine == IMAGE_FILE_MACHINE_AMD64 || machine == 0xAA64;
    bool self64 = sizeof(void*) == 8;
    BOOL wow = FALSE;
    typedef BOOL(WINAPI * IsWow64Fn)(HANDLE, BOOL*);
    IsWow64Fn isWow64 =
        reinterpret_cast<IsWow64Fn>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process"));
    if (isWow64)
        isWow64(GetCurrentProcess(), &wow);
    if (machine && program64 && !self64 && wow) {
        snprintf(system, sizeof system, "%s\\Sysnative", windows);
    } else if (machine && !program64 && self64) {
        typedef UINT(WINAPI * Wow64DirFn)(char*, UINT);
        Wow64DirFn wow64Dir = reinterpret_cast<Wow64DirFn>(
            GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemWow64DirectoryA"));
        if (!wow64Dir || !wow64Dir(system, sizeof system))
            GetSystemDirectoryA(system, sizeof system);
    }
    int before = search->count;
    AddFolder(search, system, static_cast<int>(strlen(system)));
    AddFolder(search, windows, static_cast<int>(strlen(windows)));
    search->systemFolders = search->count - before;

    const char* at = pathVariable ? pathVariable : "";
    while (*at) {
        const char* end = strchr(at, ';');
        if (!end)
            end = at + strlen(at);
        const char* begin = at;
        if (end - begin >= 2 && *begin == '"' && end[-1] == '"') {
            ++begin;
            AddFolder(search, begin, static_cast<int>(end - 1 - begin));
        } else {
            AddFolder(search, begin, static_cast<int>(end - begin));
        }
        at = *end ? end + 1 : end;
    }
}

bool FindDllProblem(const char* program, const DllSearch& search, DllProblem* problem)
{
    if (!problem)
        return false;
    ZeroMemory(problem, sizeof *problem);
    if (!program)
        return false;
    Walk walk;
    walk.search = &search;
    walk.machine = ImageMachine(program);
    walk.seenCount = 0;
    walk.problem = problem;
    return WalkImports(&walk, program, 0);
}

bool RuntimeForDll(const char* dll, WORD machine, char* runtime, int size)
{
    struct Family {
        const char* prefix;  // a DLL name begins with it (case ignored)
        const char* version;
    };
    // The C runtime of Visual C++ 2015 and later is one family: the
    // Universal CRT (the api-ms-win-crt names, ucrtbase.dll) comes with
    // Windows 10 and with that package before it.
    static const Family families[] = {
        {"vcruntime140", "2015-2022"}, {"msvcp140", "2015-2022"}, {"concrt140", "2015-2022"},
        {"vccorlib140", "2015-2022"},  {"vcomp140", "2015-2022"}, {"api-ms-win-crt-", "2015-2022"},
        {"ucrtbase", "2015-2022"},     {"msvcr120", "2013"},      {"msvcp120", "2013"},
        {"vcomp120", "2013"},          {"msvcr110", "2012"},      {"msvcp110", "2012"},
        {"msvcr100", "2010"},          {"msvcp100", "2010"},      {"msvcr90", "2008"},
        {"msvcp90", "2008"},           {"msvcr80", "2005"},       {"msvcp80", "2005"},
    };
    if (!dll || !runtime || size <= 0)
        return false;
    runtime[0] = '\0';
    for (const Family& family : families) {
        if (!StartsWithNoCase(dll, family.prefix))
            continue;
        const char* width = machine == IMAGE_FILE_MACHINE_AMD64 ? "x64" : machine == 0xAA64 ? "ARM64" : "x86";
        snprintf(runtime, static_cast<size_t>(size), "Microsoft Visual C++ %s Redistributable (%s)", family.version,
                 width);
        return true;
    }
    return false;
}

size_t LastRunStart(const char* text, size_t length)
{
    static const char marker[] = "starting as process";
    size_t start = 0;
    size_t from = 0;
    while (from < length) {
        const char* at = FindIn(text + from, length - from, marker);
        if (!at)
            break;
        size_t lineStart = static_cast<size_t>(at - text);
        while (lineStart > 0 && text[lineStart - 1] != '\n')
            --lineStart;
        start = lineStart;
        from = static_cast<size_t>(at - text) + sizeof marker - 1;
    }
    return start;
}

MySqlSituation ClassifyMySqlLog(const char* text, size_t length, char* detail, int detailSize)
{
    if (detail && detailSize > 0)
        detail[0] = '\0';
    if (!text)
        return MySqlNothingKnown;
    // Message texts as the servers print them (share/errmsg-utf8.txt and,
    // for 8.0, messages_to_error_log.txt); the examples are in the tests'
    // data.
    static const char* const portTaken[] = {"Do you already have another mysqld server running on port", nullptr};
    static const char* const dataHeld[] = {"Unable to lock ./ibdata1", "Unable to lock .\\ibdata1",
                                           "must be writable", "Check that you do not already have another mysqld",
                                           nullptr};
    static const char* const unrecoverable[] = {"Ignoring the redo log",       // 5.7, a damaged redo log
                                                "Redo log corruption found",   // 8.0
                                                "Malformed log record",        // 5.6, MariaDB
                                                "Your database may be corrupt",
                                                "is in the future!",
                                                "Database page corruption",
                                                "Assertion failure",
                                                nullptr};
    static const char* const crashed[] = {"is marked as crashed", nullptr};
    static const char* const recovering[] = {"Starting crash recovery", "Database was not shutdown normally",
                                             nullptr};
    static const char* const recovered[] = {"ready for connections", "Crash recovery finished", nullptr};

    const char* at = FindAny(text, length, portTaken);
    if (at) {
        // "... running on port: 3306 ?"
        const char* colon = static_cast<const char*>(memchr(at, ':', static_cast<size_t>(text + length - at)));
        if (colon && detail && detailSize > 0)
            snprintf(detail, static_cast<size_t>(detailSize), "%lu", strtoul(colon + 1, nullptr, 10));
        return MySqlPortTaken;
    }
    if (FindAny(text, length, dataHeld))
        return MySqlDataFolderHeld;
    if (FindAny(text, length, unrecoverable) && FindIn(text, length, "[ERROR]"))
        return MySqlRecoveryImpossible;
    at = FindAny(text, length, crashed);
    if (at) {
        const char* lineStart = at;
        while (lineStart > text && lineStart[-1] != '\n')
            --lineStart;
        if (detail && detailSize > 0)
            Quoted(lineStart, at, '\'', detail, detailSize);
        return MySqlTableCrashed;
    }
    if (FindAny(text, length, recovering) && !FindAny(text, length, recovered))
        return MySqlRecovering;
    return MySqlNothingKnown;
}

int KitFolderWarnings(const char* folder, UINT ids[3])
{
    int count = 0;
    if (!folder || !ids)
        return 0;
    for (const unsigned char* at = reinterpret_cast<const unsigned char*>(folder); *at; ++at) {
        if (*at >= 0x80) {
            ids[count++] = IDS_DIAG_FOLDER_NON_ASCII;
            break;
        }
    }
    bool remote = (folder[0] == '\\' && folder[1] == '\\' && !(folder[2] == '?' || folder[2] == '.'));
    if (!remote && folder[0] && folder[1] == ':') {
        char root[4] = {folder[0], ':', '\\', '\0'};
        remote = GetDriveTypeA(root) == DRIVE_REMOTE;
    }
    if (remote)
        ids[count++] = IDS_DIAG_FOLDER_NETWORK;
    if (static_cast<int>(strlen(folder)) > KitFolderMaxLength)
        ids[count++] = IDS_DIAG_FOLDER_TOO_LONG;
    return count;
}

int ExplainServerEnd(const char* program, DWORD pid, DWORD exitCode, bool codeKnown,
                     char lines[][LogTailLineSize], int maxLines)
{
    int count = 0;
    if (!lines || maxLines <= 0)
        return 0;
    if (program && program[0] && GetFileAttributesA(program) == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            FormatText(lines[count++], LogTailLineSize, IDS_DIAG_PROGRAM_GONE, program);
        return count;
    }
    const char* name = program ? FileNameOf(program) : "";
    if (codeKnown && exitCode != 0 && count < maxLines) {
        UINT id = ExitCodeTextId(exitCode);
        char words[LogTailLineSize] = "";
        if (id)
            CopyText(words, sizeof words, id);
        char* line = lines[count++];
        FormatText(line, LogTailLineSize, IDS_DIAG_END_CODE, name, static_cast<unsigned long>(exitCode), words);
        // A code without words (a server's own code) ends with the number.
        size_t length = strlen(line);
        while (!words[0] && length > 0 && (line[length - 1] == ' ' || line[length - 1] == ':'))
            line[--length] = '\0';
    }
    bool loaderCode = codeKnown && (exitCode == 0xC0000135 || exitCode == 0xC000007B);
    if (loaderCode && program && count < maxLines) {
        char path[4096] = "";
        if (!GetEnvironmentVariableA("PATH", path, sizeof path))
            path[0] = '\0';
        DllSearch search;
        BuildDllSearch(program, path, &search);
        DllProblem problem;
        if (FindDllProblem(program, search, &problem)) {
            if (problem.kind == DllProblem::Missing)
                FormatText(lines[count++], LogTailLineSize, IDS_DIAG_DLL_MISSING, problem.dll,
                           FileNameOf(problem.neededBy));
            else
                FormatText(lines[count++], LogTailLineSize, IDS_DIAG_DLL_WRONG_WIDTH, problem.dll,
                           problem.foundAt, FileNameOf(problem.neededBy),
                           ImageMachine(program) == IMAGE_FILE_MACHINE_AMD64 ? 64 : 32);
            char runtime[96];
            if (count < maxLines && RuntimeForDll(problem.dll, ImageMachine(program), runtime, sizeof runtime))
                FormatText(lines[count++], LogTailLineSize, IDS_DIAG_DLL_RUNTIME, runtime);
        }
    }
    if (count < maxLines) {
        char console[4][LogTailLineSize];
        int got = CapturedConsoleLines(pid, console[0], LogTailLineSize, 4);
        if (got > 0) {
            CopyText(lines[count++], LogTailLineSize, IDS_DIAG_CONSOLE);
            for (int i = 0; i < got && count < maxLines; ++i)
                lstrcpynA(lines[count++], console[i], LogTailLineSize);
        }
    }
    return count;
}

int ExplainMySqlLog(const char* path, char lines[][LogTailLineSize], int maxLines)
{
    if (!path || !lines || maxLines <= 0)
        return 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    DWORD wanted = (high != 0 || size > LogReadBytes) ? LogReadBytes : size;
    char* text = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, wanted + 1));
    DWORD got = 0;
    if (text && wanted > 0 &&
        (SetFilePointer(file, -static_cast<LONG>(wanted), nullptr, FILE_END) != INVALID_SET_FILE_POINTER ||
         GetLastError() == NO_ERROR))
        ReadFile(file, text, wanted, &got, nullptr);
    CloseHandle(file);
    if (!text)
        return 0;
    size_t start = LastRunStart(text, got);
    char detail[128];
    MySqlSituation situation = ClassifyMySqlLog(text + start, got - start, detail, sizeof detail);
    HeapFree(GetProcessHeap(), 0, text);

    char folder[MAX_PATH];
    FolderOf(path, folder, sizeof folder);
    switch (situation) {
    case MySqlPortTaken:
        FormatText(lines[0], LogTailLineSize, IDS_DIAG_MYSQL_PORT_TAKEN, detail);
        return 1;
    case MySqlDataFolderHeld: {
        char holder[32] = "";
        DWORD pid = LivingPidFromFolder(folder);
        if (pid)
            snprintf(holder, sizeof holder, " (pid %lu)", static_cast<unsigned long>(pid));
        FormatText(lines[0], LogTailLineSize, IDS_DIAG_MYSQL_DATA_HELD, folder, holder);
        return 1;
    }
    case MySqlRecoveryImpossible:
        FormatText(lines[0], LogTailLineSize, IDS_DIAG_MYSQL_UNRECOVERABLE, folder);
        return 1;
    case MySqlTableCrashed:
        FormatText(lines[0], LogTailLineSize, IDS_DIAG_MYSQL_TABLE_CRASHED, detail);
        return 1;
    case MySqlRecovering:
        CopyText(lines[0], LogTailLineSize, IDS_DIAG_MYSQL_RECOVERING);
        return 1;
    case MySqlNothingKnown:
        break;
    }
    return 0;
}

int ExplainKitFolder(const char* folder, char lines[][LogTailLineSize], int maxLines)
{
    UINT ids[3];
    int count = KitFolderWarnings(folder, ids);
    if (count > maxLines)
        count = maxLines;
    for (int i = 0; i < count; ++i)
        FormatText(lines[i], LogTailLineSize, ids[i], folder, KitFolderMaxLength);
    return count;
}
