// Helpers of the web tests: the recorder stand-in (tvrecord.exe) and its
// record file, test associations, a loopback HTTP server standing in for the
// product site, and a driver for the dialog boxes of the code under test.
#pragma once

#include <windows.h>
#include <functional>
#include <string>
#include <vector>

namespace webkit {

// The recorder appends "<its file name> <its arguments>" to the file that
// TVRECORD_FILE names: a fresh file for the life of this object.
class RecordFile {
public:
    RecordFile();
    ~RecordFile();
    std::vector<std::string> lines() const;
    // Pumps messages until line number index (from 0) exists; "" on timeout.
    std::string waitLine(size_t index) const;

private:
    std::string dir_;
};

// A copy of the recorder under another name, deleted with the object.
struct StandIn {
    explicit StandIn(const std::string& path);
    ~StandIn();
    std::string path;
    bool ok;
};

// http, mailto, .html, .ini and .log open with the recorder; with
// logProgram false .log names a class without any program. Wine's
// HKEY_CLASSES_ROOT shows HKLM\Software\Classes only (Windows lays the
// user's classes over it), so the associations go there; the previous
// values come back with the object.
class TestAssociations {
public:
    explicit TestAssociations(bool logProgram = true);
    ~TestAssociations();

private:
    struct Saved {
        std::string key;
        bool existed;
        std::string value;
    };
    std::vector<Saved> saved_;
};

// The product site: an HTTP server on port 80 of TARVANE_TEST_SITE_ADDR
// (see site-hosts.sh).
class SiteServer {
public:
    SiteServer();
    ~SiteServer();
    bool start();  // false when the address cannot be bound
    void stop();
    std::string address;
    std::string body;     // the answer to every request
    std::string headers;  // further header lines of the answer, each ending in \r\n
    std::string request;  // the last request

private:
    static DWORD WINAPI serve(void* self);
    UINT_PTR listener_;
    HANDLE thread_ = nullptr;
    volatile LONG stopping_ = 0;
};

// While the object lives, a timer hands the first dialog box (class #32770)
// this thread shows to the script, inside the box's own message loop; a box
// still up 5 s after the script ran is ended by force.
class OnDialog {
public:
    explicit OnDialog(std::function<void(HWND)> script);
    ~OnDialog();
    bool ran = false;
    bool forced = false;

private:
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD);
    std::function<void(HWND)> script_;
    DWORD ranAt_ = 0;
    UINT_PTR timer_;
};

std::string Text(HWND window);

}  // namespace webkit
