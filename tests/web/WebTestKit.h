// Helpers of the web tests: the recorder stand-in and its record file, test
// associations in the prefix, a loopback HTTP server standing in for the
// product site, and an answerer for the prompts of the code under test.
#pragma once

#include <windows.h>
#include <string>
#include <vector>

namespace webkit {

// The recorder (tvrecord.exe) appends "<its file name> <its arguments>" to
// the file TVRECORD_FILE names; the variable points at a fresh file for the
// life of this object, and child processes inherit it.
class RecordFile {
public:
    RecordFile();
    ~RecordFile();
    std::vector<std::string> lines() const;
    // Pumps messages until the file holds line number index (from 0);
    // returns it, or "" after the timeout.
    std::string waitLine(size_t index, DWORD timeoutMs = 10000) const;

private:
    std::string dir_;
    std::string path_;
};

// A copy of the recorder under another name (notepad.exe, Morvex.exe),
// deleted again with the object.
class StandIn {
public:
    explicit StandIn(const std::string& path);
    ~StandIn();
    bool ok() const { return ok_; }

private:
    std::string path_;
    bool ok_;
};

// One value of the prefix's classes set for a test and put back afterwards
// (a key the test created goes as a whole).
// Wine's HKEY_CLASSES_ROOT shows HKLM\Software\Classes only, where Windows
// lays HKCU\Software\Classes over it: test associations therefore go to
// HKLM\Software\Classes, which both read.
class ClassesValue {
public:
    ClassesValue(const std::string& subkey, const std::string& data);
    ~ClassesValue();

private:
    std::string key_;
    std::string createdRoot_;
    bool hadValue_ = false;
    std::string oldData_;
};

// Associations that all lead to the recorder: http and mailto links, and
// the .html, .log and .ini file types (through one test file class); or
// .log of a class without a program.
class TestAssociations {
public:
    explicit TestAssociations(bool logType = true);
    ~TestAssociations();

private:
    std::vector<ClassesValue*> values_;
};

// The product site: an HTTP server on TARVANE_TEST_SITE_ADDR port 80 (the
// test runs where the site's host resolves to that address) that answers
// every request with one body and keeps the last request.
class SiteServer {
public:
    SiteServer();
    ~SiteServer();
    bool start();  // false when the address cannot be bound
    void stop();
    void setBody(const std::string& body);
    std::string lastRequest();
    const std::string& address() const { return address_; }

private:
    static DWORD WINAPI serve(void* self);
    void answer(UINT_PTR client);

    std::string address_;
    UINT_PTR listener_;
    HANDLE thread_ = nullptr;
    volatile LONG stopping_ = 0;
    CRITICAL_SECTION lock_;
    std::string body_;
    std::string request_;
};

// Answers the message boxes this thread shows while the object lives: keeps
// the caption and text of the last one and presses the given button.
class PromptAnswerer {
public:
    explicit PromptAnswerer(int button);
    ~PromptAnswerer();
    int count = 0;
    std::string caption;
    std::string text;

private:
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD);
    int button_;
    UINT_PTR timer_;
};

}  // namespace webkit
