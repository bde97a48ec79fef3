// The directory the kit was installed into.
#pragma once

// The install directory in short (8.3) form, ending with a backslash: the
// "Path" value of HKCU\Software\Tarvane when it is a string, else the folder
// of the manager's executable. Resolved at the first call and kept for the
// whole run.
const char* GetInstallDir();
