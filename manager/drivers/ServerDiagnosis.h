// Why a server ended at once, in words: its exit code, the DLL its
// program lacks (with the runtime that provides it), a program that is
// gone, what MySQL's error log says of its last run, and a kit folder some
// servers cannot use. The decisions are small functions; the Explain...
// functions turn them into lines for the event log in the user's language.
#pragma once

#include <windows.h>

#include "Diagnostics.h"

// --- Exit codes -----------------------------------------------------------

// The text id that says an exit code in words: the loader's and the
// usual crash codes; 0 for any other code.
UINT ExitCodeTextId(DWORD code);

// --- Import tables --------------------------------------------------------

// The machine a program or DLL is built for (IMAGE_FILE_MACHINE_I386,
// IMAGE_FILE_MACHINE_AMD64...); 0 when the file is missing or no PE image.
WORD ImageMachine(const char* path);

// The names of the DLLs a PE image imports (the import directory only:
// delay-loaded DLLs fail later, not at the start), each cut to nameSize - 1
// characters; their count, at most maxNames; -1 when the file is not a
// readable PE image.
int ImportedDlls(const char* path, char* names, int nameSize, int maxNames);

// Where the loader looks for a DLL of `program` (its folder, the system
// folder of the program's width, the Windows folder, then the folders of
// `pathVariable`, a PATH value that may be null), as a list of folders
// each ending with a backslash.
struct DllSearch {
    static const int MaxFolders = 48;
    char folders[MaxFolders][MAX_PATH];
    int count;
    int systemFolders;  // folders[1 .. systemFolders] are the system's
};
void BuildDllSearch(const char* program, const char* pathVariable, DllSearch* search);

// The first DLL the program needs that the loader will not find: missing
// from every folder of the search, or found first with the wrong width.
// The program's imports are read, then those of each DLL found outside
// the system folders, depth first, each DLL once.
struct DllProblem {
    enum Kind { None, Missing, WrongWidth } kind;
    char dll[64];              // the DLL's name as imported
    char neededBy[MAX_PATH];   // the module that imports it (full path)
    char foundAt[MAX_PATH];    // WrongWidth: the copy the loader takes
};
bool FindDllProblem(const char* program, const DllSearch& search, DllProblem* problem);

// The Microsoft runtime that installs a DLL of this name ("Microsoft
// Visual C++ 2015-2022 Redistributable (x64)"), for a program of the given
// machine; false when the DLL is none of theirs.
bool RuntimeForDll(const char* dll, WORD machine, char* runtime, int size);

// --- MySQL's error log ----------------------------------------------------

enum MySqlSituation {
    MySqlNothingKnown,
    MySqlPortTaken,           // another server listens on its port
    MySqlDataFolderHeld,      // another mysqld has the data files open
    MySqlRecoveryImpossible,  // InnoDB cannot bring its data back
    MySqlTableCrashed,        // a MyISAM table needs a repair
    MySqlRecovering,          // crash recovery began and never finished
};

// Where the server's last run begins in a log text: the start of the last
// line that says "starting as process" (every MySQL from 5.5 writes it
// first); the text's start when none does.
size_t LastRunStart(const char* text, size_t length);

// What a run's log text says (the most serious situation found); detail
// gets the table of a crashed table or the port of a taken one (else it is
// emptied).
MySqlSituation ClassifyMySqlLog(const char* text, size_t length, char* detail, int detailSize);

// --- The kit's folder -----------------------------------------------------

// The longest kit folder the servers' deepest files still fit under in
// MAX_PATH characters: MySQL's data files (MySql\data\<database of up to
// 64 characters>\<table of up to 64 characters>.ibd) need about 150 more.
const int KitFolderMaxLength = MAX_PATH - 1 - 150;

// The trouble a kit folder will cause, as text ids (non-ASCII characters,
// a network drive or UNC path, a path too long for the servers' deepest
// files); their count, at most 3.
int KitFolderWarnings(const char* folder, UINT ids[3]);

// --- Lines for the event log ------------------------------------------------

// Why the program ended: gone from the disk (an antivirus may have taken
// it), its exit code in words, the DLL it lacks with its runtime, and the
// first lines it wrote in its console. exitCode counts only with codeKnown.
// Returns the number of lines.
int ExplainServerEnd(const char* program, DWORD pid, DWORD exitCode, bool codeKnown,
                     char lines[][LogTailLineSize], int maxLines);

// What MySQL's error log at `path` says of its last run, in words (one line,
// or 0 lines when nothing known is found). The log is read from the start
// of the last run, at most its last 256 KB; a data folder held by another
// mysqld is named with that server's pid from the folder's pid file.
int ExplainMySqlLog(const char* path, char lines[][LogTailLineSize], int maxLines);

// The lines to log once at start-up for the kit folder.
int ExplainKitFolder(const char* folder, char lines[][LogTailLineSize], int maxLines);
