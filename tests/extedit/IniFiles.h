// php.ini and tmpphp.ini in the Windows directory for one test: whatever
// was there is set aside at the start and put back at the end.
#pragma once

#include <windows.h>
#include <string>

#include "TestKit.h"

class IniFiles {
public:
    IniFiles()
        : ini(testkit::WindowsDir() + "\\php.ini"), work(testkit::WindowsDir() + "\\tmpphp.ini"),
          backup(testkit::WindowsDir() + "\\tmpphp.old")
    {
        hadIni = testkit::ReadFileBytes(ini, &savedIni);
        hadWork = testkit::ReadFileBytes(work, &savedWork);
        removeAll();
    }

    ~IniFiles()
    {
        removeAll();
        if (hadIni)
            testkit::WriteFileBytes(ini, savedIni);
        if (hadWork)
            testkit::WriteFileBytes(work, savedWork);
    }

    bool writeIni(const std::string& bytes) const { return testkit::WriteFileBytes(ini, bytes); }

    std::string readIni() const
    {
        std::string bytes;
        testkit::ReadFileBytes(ini, &bytes);
        return bytes;
    }

    // php.ini's size (MAXDWORD: none) from its folder's listing: an open
    // handle, even a reader's, would make the editor's replacement fail.
    DWORD iniSize() const
    {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(ini.c_str(), &found);
        return search != INVALID_HANDLE_VALUE && FindClose(search) ? found.nFileSizeLow : MAXDWORD;
    }

    std::string readWork() const
    {
        std::string bytes;
        testkit::ReadFileBytes(work, &bytes);
        return bytes;
    }

    const std::string ini, work, backup;

private:
    static void removePath(const std::string& path)
    {
        DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            testkit::RemoveTree(path);
        } else {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    }

    void removeAll()
    {
        removePath(ini);
        removePath(work);
        removePath(backup);
    }

    bool hadIni, hadWork;
    std::string savedIni, savedWork;
};
