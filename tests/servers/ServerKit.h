// A kit (testkit::KitLayout, no mysqld) laid out in a temporary folder for
// the driver tests, which build their drivers on it, and everything
// started from it ended again.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../../testkit/record.h"
#include "KitLayout.h"
#include "TestKit.h"

// The four MySQL server builds, in the driver's order of choice.
extern const char* const allMySqlBuilds[4];

class ServerKitTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Lays the kit out below <temp>\<sub> (sub may be empty, or hold a
    // folder name of its own such as "a-nt"). Call before constructing a
    // driver.
    void LayOut(const char* sub = "");
    // The kit's folder a driver is built on (kitShort).
    const char* kitFolder() const { return kitShort.c_str(); }
    // Copies the stand-in server builds (file names) into <kit>\MySql\bin.
    void AddMySqlBuilds(const std::vector<const char*>& names);
    // Replaces apache.exe by the check stub, which writes `bytes` to its
    // error output for "-t".
    void UseCheckStub(const std::string& bytes);
    void WriteHttpdConf(const std::string& text);
    // Turns the laid-out kit into Apache 2.x's layout: apache.exe moves to
    // Apache\bin\httpd.exe, and httpd.conf names the port of its Port line
    // in a Listen line instead.
    void UseHttpdLayout();
    // The kit's web port.
    int webPort = 0;

    // The kit's folders as the drivers see them (short form, trailing
    // backslash).
    std::string apacheDir() const { return kitShort + "Apache\\"; }
    std::string mySqlDir() const { return kitShort + "MySql\\"; }
    std::string mySqlBin() const { return kitShort + "MySql\\bin\\"; }

    // Runs the probe program (FamilyProbe.cpp) with an action, under the
    // Windows version Wine gives it ("win98", "winxp"); returns its report
    // ("key=value" lines).
    std::string RunProbe(const char* version, const char* action);

    std::vector<kitrecord::Record> apacheRuns() const;
    // The recorded Apache runs whose command line holds `part`.
    std::vector<kitrecord::Record> runsWith(const char* part) const;
    std::vector<kitrecord::Record> mySqlRuns() const;

    std::string temp;      // the test's temporary folder
    std::string kit;       // long form, trailing backslash
    std::string kitShort;  // GetShortPathNameA of kit

private:
    std::unique_ptr<testkit::KitLayout> layout;
};

// Ends every process of the stand-in programs (by their file names).
void KillKitProcesses();
using testkit::ServiceExists;
using testkit::ProcessAlive;
using testkit::WaitProcessGone;
