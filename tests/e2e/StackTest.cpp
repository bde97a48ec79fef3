// The shipped programs end to end, on a kit of the stand-ins: Tarvane.exe
// started from the kit folder and used only as a user does (command words,
// keys, the tray menu, the window's controls), the extension editor it
// opens, and what the user sees or gets: status texts, log lines, message
// boxes, the web page, processes, services, php.ini.
#include <winsock2.h>
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "E2eKit.h"
#include "IniFiles.h"
#include "TestKit.h"
#include "WebTestKit.h"

using e2e::ManagerRun;
using testkit::PumpFor;
using testkit::PumpUntil;

namespace {

const int servicesBox = 1019, applyButton = 1029;

BOOL CALLBACK CountEditors(HWND window, LPARAM count)
{
    char title[64] = "";
    GetWindowTextA(window, title, sizeof title);
    *reinterpret_cast<int*>(count) += !strcmp(title, "VAV Ozuvuzuded Avedo");
    return TRUE;
}

// The Apache layouts the manager knows, as rows of the same steps.
struct ApacheKit {
    testkit::KitApache layout;
    const char* program;  // the server's file name
    const char* portLine;  // how httpd.conf names a port (%d)
    const char* refused;  // a line this Apache refuses, and what it says
    const char* refusal;
};

const ApacheKit apacheKits[] = {
    {testkit::KitApache13, "apache.exe", "Port %d\r\n", "Define X\r\n", "Invalid command 'Define'"},
    {testkit::KitApache24, "httpd.exe", "Listen 127.0.0.1:%d\r\n", "Port 80\r\n",
     "Invalid command 'Port', perhaps misspelled"},
};

class EndToEnd : public ::testing::Test {
protected:
    void Open(const e2e::Keys& keys = {}, testkit::KitApache apache = testkit::KitApache13)
    {
        run.reset(new ManagerRun("e2e", keys, apache));
        ASSERT_TRUE(run->ok());
        ASSERT_TRUE(run->launch()) << "no manager window";
        ASSERT_TRUE(run->waitStatus("Stopped")) << Status();
    }
    std::string Status()
    {
        std::string all = "status \"" + run->text(1027) + "\" \"" + run->text(1026) + "\"\nlog:\n" + run->log();
        for (const std::string& live : run->liveStandIns())
            all += "running " + live + "\n";
        return all;
    }
    // The kit's page served on the port.
    bool Serves(int port)
    {
        int status = 0;
        std::string body;
        return PumpUntil([&] { return e2e::HttpGet(port, "/", &status, &body) && status == 200 &&
                                      body == e2e::PageText; }, 5000);
    }
    // Both status texts "Started" and the page served.
    void ExpectStarted(const char* after, int port = 0)
    {
        EXPECT_TRUE(run->waitStatus("Started")) << after << "\n" << Status();
        EXPECT_TRUE(Serves(port ? port : run->kit.port())) << after;
    }
    void ExpectStopped(const char* after)
    {
        EXPECT_TRUE(run->waitStatus("Stopped")) << after << "\n" << Status();
        EXPECT_TRUE(run->waitNoStandIns()) << after << "\n" << Status();
    }
    // How many server processes the kit's records show launched.
    int Launches()
    {
        int n = 0;
        // Apache 2.x runs in its console without -k.
        for (const auto& r : run->kit.apacheRecords())
            n += r.event == "run" && (r.cmdLine.find("-k start") != std::string::npos ||
                                      (r.program == "httpd.exe" && r.cmdLine.find(" -") == std::string::npos));
        for (const auto& r : run->kit.mysqlRecords())
            n += r.event == "run" && r.program == "mysqld-nt.exe";
        return n;
    }
    // Answers the manager's next message box with No; its text, or "" when
    // none came within ms.
    std::string AnswerNo(DWORD ms = 10000)
    {
        std::string text;
        if (HWND box = testkit::AnswerMessageBox(IDNO, run->pid, nullptr, ms, &text))
            PumpUntil([&] { return !IsWindow(box); }, 5000);
        return text;
    }

    void ApacheKitSteps(const ApacheKit& row);

    // /browse reaches the shell as an http address: the recorder stands in
    // for the browser (the environment reaches the manager at its launch).
    webkit::RecordFile opened;
    webkit::TestAssociations associations;
    std::unique_ptr<ManagerRun> run;
};

}  // namespace

TEST_F(EndToEnd, WordsKeysAndMenuDriveTheStack)
{
    Open();
    ASSERT_TRUE(run->run("/browse"));  // stopped: opens nothing
    ASSERT_TRUE(run->run("/start"));
    ExpectStarted("/start");
    EXPECT_EQ(1, run->logCount("Tarvane: Demarrage des serveurs"));
    ASSERT_TRUE(run->run("/browse"));
    EXPECT_EQ("tvrecord.exe http://" + e2e::ComputerName() + ":" + std::to_string(run->kit.port()) + "/",
              opened.waitLine(0));

    // Each way of starting, stopping and restarting, in turn; a start
    // while started and a stop while stopped change nothing.
    struct Step {
        const char* name;
        std::function<void()> act;
        const char* state;  // after it
    } steps[] = {
        {"/restart", [&] { EXPECT_TRUE(run->run("/restart")); }, "restart"},
        {"F3", [&] { run->key(VK_F3); }, "Stopped"},
        {"F3 again", [&] { run->key(VK_F3); }, "Stopped"},
        {"F2", [&] { run->key(VK_F2); }, "Started"},
        {"F2 again", [&] { run->key(VK_F2); }, "Started"},
        {"F5", [&] { run->key(VK_F5); }, "restart"},
        {"menu \"&Stop\"", [&] { EXPECT_TRUE(run->pickFromMenu("s")); }, "Stopped"},
        {"menu \"&Start\"", [&] { EXPECT_TRUE(run->pickFromMenu("s")); }, "Started"},
        {"/stop", [&] { EXPECT_TRUE(run->run("/stop")); }, "Stopped"},
        {"/start", [&] { EXPECT_TRUE(run->run("/start")); }, "Started"},
    };
    for (const Step& step : steps) {
        int launches = Launches();
        step.act();
        if (!strcmp(step.state, "restart")) {
            // A new Apache and a new MySQL.
            EXPECT_TRUE(PumpUntil([&] { return Launches() == launches + 2; }, 15000)) << step.name << Status();
            ExpectStarted(step.name);
        } else if (!strcmp(step.state, "Started")) {
            ExpectStarted(step.name);
        } else {
            ExpectStopped(step.name);
        }
    }
    EXPECT_EQ(2, run->logCount("Tarvane: Server are restarting..."));
    EXPECT_EQ(3, run->logCount("Tarvane: Arret des serveurs")) << "F3 acts only while started";
    EXPECT_EQ(4, run->logCount("Tarvane: Demarrage des serveurs")) << "F2 acts only while stopped";

    // Quit with the servers as processes: they end with the manager.
    ASSERT_TRUE(run->run("/quit"));
    EXPECT_TRUE(run->ended(10000));
    EXPECT_TRUE(run->waitNoStandIns()) << Status();
    EXPECT_EQ(4, run->logCount("Tarvane: Arret des serveurs"));
    EXPECT_EQ(1u, opened.lines().size()) << "the first /browse, while stopped, opened nothing";
}

TEST_F(EndToEnd, CrashOfEachServerStopsItsPartner)
{
    Open();
    const struct {
        const char* program;
        const char* line;
    } crashes[] = {
        {"apache.exe", "Apache : Unexpected end of Apache !"},
        {"mysqld-nt.exe", "MySql  : Unexpected end of MySql !"},
    };
    for (const auto& crash : crashes) {
        ASSERT_TRUE(run->run("/start"));
        ExpectStarted(crash.program);
        ASSERT_TRUE(run->kill(crash.program)) << Status();
        EXPECT_TRUE(run->waitLog(crash.line, 1)) << Status();
        ExpectStopped(crash.program);
    }
}

TEST_F(EndToEnd, HttpdConfEditsAndErrors)
{
    Open({{"AutoReloadConf", "Y"}});
    ASSERT_TRUE(run->run("/start"));
    ExpectStarted("/start");

    // A new port: Apache restarted on it, the local web address follows.
    const int port = testkit::FreeTcpPort();
    const std::string conf = testkit::DefaultHttpdConf(port);
    int launches = Launches();
    ASSERT_TRUE(run->kit.writeHttpdConf(conf));
    // The change's own log line.
    EXPECT_TRUE(run->waitLog("Apache : The configuration file has been modified\r\n", 1)) << Status();
    EXPECT_TRUE(PumpUntil([&] { return Launches() == launches + 1; }, 15000)) << Status();
    ExpectStarted("new port", port);
    ASSERT_TRUE(run->run("/browse"));
    EXPECT_EQ("tvrecord.exe http://" + e2e::ComputerName() + ":" + std::to_string(port) + "/", opened.waitLine(0));

    // A broken file: one prompt per write, answered No; Apache serves on.
    for (const char* broken : {"<Directory\r\n", "<Directory \r\n"}) {
        Sleep(20);
        ASSERT_TRUE(run->kit.writeHttpdConf(conf + broken));
        std::string text = AnswerNo();
        EXPECT_EQ(0u, text.find("Error in Apache configuration file:\n\n\"")) << "got \"" << text << "\"";
        EXPECT_NE(std::string::npos, text.find("\"\n\nEdit ?")) << "got \"" << text << "\"";
        EXPECT_EQ("", AnswerNo(2000)) << "a second prompt for the same write";
        EXPECT_TRUE(Serves(port));
    }
    EXPECT_EQ(2, run->logCount("Tarvane: Erreur dans le fichier de configuration d'Apache"));
    // Mended: taken up like any change.
    launches = Launches();
    ASSERT_TRUE(run->kit.writeHttpdConf(conf));
    EXPECT_TRUE(PumpUntil([&] { return Launches() == launches + 1; }, 15000)) << Status();
    ExpectStarted("mended", port);
}

TEST_F(EndToEnd, WebPortHeldByAnotherProgram)
{
    // This program holds the kit's web port.
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET holder = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Open();
    address.sin_port = htons(static_cast<u_short>(run->kit.port()));
    ASSERT_EQ(0, bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address)) << WSAGetLastError();
    ASSERT_EQ(0, listen(holder, 1));

    ASSERT_TRUE(run->run("/start"));
    const std::string line = "Apache : Port " + std::to_string(run->kit.port()) + " is used by ";
    EXPECT_TRUE(run->waitLog(line, 1)) << Status();
    std::string log = run->log();
    ASSERT_NE(std::string::npos, log.find(line));
    std::string holderName = log.substr(log.find(line) + line.size());
    holderName = holderName.substr(0, holderName.find('\r'));
    // The line ends with the next step.
    const std::string next = ". Stop that program, or move Apache to another port.";
    ASSERT_LT(next.size(), holderName.size()) << holderName;
    EXPECT_EQ(next, holderName.substr(holderName.size() - next.size()));
    holderName.resize(holderName.size() - next.size());
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, sizeof self);
    // Wine (8.0) lists every listener with owning process id 0: the holder
    // cannot be named there. Windows names this program.
    if (holderName == "another program")
        printf("the system gave no owner for port %d\n", run->kit.port());
    else
        EXPECT_EQ(std::string(strrchr(self, '\\') + 1) + " (pid " + std::to_string(GetCurrentProcessId()) + ")",
                  holderName);
    // What Apache said in its console before it ended is shown too.
    EXPECT_TRUE(run->waitLog("Apache : no listening sockets available, shutting down", 1)) << Status();
    // MySQL, started first, is taken down with the Apache that could not start.
    ExpectStopped("port held");
    closesocket(holder);
    WSACleanup();
}

TEST_F(EndToEnd, ServiceModeOnAndOffAndQuit)
{
    Open();
    ASSERT_TRUE(run->run("/start"));
    ExpectStarted("/start");
    ASSERT_TRUE(IsWindowEnabled(GetDlgItem(run->window, servicesBox))) << "the user administers the machine";

    // On: the processes stop, the services are installed and started.
    run->click(servicesBox);
    ASSERT_TRUE(PumpUntil([&] { return IsDlgButtonChecked(run->window, servicesBox) == BST_CHECKED; }, 3000));
    run->click(applyButton);
    EXPECT_TRUE(PumpUntil([&] { return testkit::ServiceState("Apache") == SERVICE_RUNNING &&
                                       testkit::ServiceState("MySql") == SERVICE_RUNNING; }, 30000)) << Status();
    EXPECT_EQ(1u, testkit::ServiceImagePath("Apache").find(run->kit.root())) << testkit::ServiceImagePath("Apache");
    ExpectStarted("services on");

    // A quit leaves the services running; the next manager takes them up.
    ASSERT_TRUE(run->run("/quit"));
    EXPECT_TRUE(run->ended(10000));
    PumpFor(1500);
    EXPECT_EQ(SERVICE_RUNNING, testkit::ServiceState("Apache"));
    EXPECT_EQ(SERVICE_RUNNING, testkit::ServiceState("MySql"));
    EXPECT_TRUE(Serves(run->kit.port()));
    ASSERT_TRUE(run->launch());
    ExpectStarted("relaunched on services");
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(run->window, servicesBox));

    // Off: the services go, the servers run as processes again.
    run->click(servicesBox);
    ASSERT_TRUE(PumpUntil([&] { return IsDlgButtonChecked(run->window, servicesBox) == BST_UNCHECKED; }, 3000));
    run->click(applyButton);
    EXPECT_TRUE(PumpUntil([&] { return testkit::ServiceState("Apache") == 0 &&
                                       testkit::ServiceState("MySql") == 0; }, 30000)) << Status();
    ExpectStarted("services off");
    // "Started" shows as soon as the processes live, which may be before a
    // stand-in has written its record.
    std::string live;
    EXPECT_TRUE(PumpUntil([&] {
        live.clear();
        for (const std::string& process : run->liveStandIns())
            live += process + " ";
        return live.find("apache.exe") != std::string::npos && live.find("mysqld-nt.exe") != std::string::npos;
    }, 5000)) << live;
    ASSERT_TRUE(run->run("/quit"));
    EXPECT_TRUE(run->ended(10000));
    EXPECT_TRUE(run->waitNoStandIns()) << Status();
}

TEST_F(EndToEnd, ExtensionToggledThroughTheMenusEditor)
{
    IniFiles files;
    const std::string head = "[PHP]\r\nengine = On\r\n;PHPExt\r\n";
    ASSERT_TRUE(files.writeIni(head + "extension=php_a.dll\r\n;extension=php_b.dll\r\n;/PHPExt\r\n"));
    Open({{"ExpertMode", "Y"}});

    // "&Configuration" > "Php &Extension".
    ASSERT_TRUE(run->pickFromMenu("ce"));
    HWND form = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (form = FindWindowA("TfrmMain", "VAV Ozuvuzuded Avedo")) != nullptr; },
                          10000));
    DWORD editorPid = 0;
    GetWindowThreadProcessId(form, &editorPid);
    struct Editor {
        HANDLE process;
        ~Editor()  // ended by the test if "&Quitter" did not end it
        {
            if (process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT)
                TerminateProcess(process, 1);
            if (process)
                CloseHandle(process);
        }
    } editor = {OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, editorPid)};
    // The form is found while it still builds its controls.
    HWND list = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return SendMessageA(list = GetDlgItem(form, 1000), LB_GETCOUNT, 0, 0) == 2; },
                          5000));

    // A click on the box of the second item (13 pixels per item), then
    // "&Valider".
    PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(6, 13 + 6));
    PostMessageA(list, WM_LBUTTONUP, 0, MAKELPARAM(6, 13 + 6));
    ASSERT_TRUE(PumpUntil([&] { return SendMessageA(list, LB_GETITEMDATA, 1, 0) == 1; }, 5000));
    PostMessageA(GetDlgItem(form, 1002), BM_CLICK, 0, 0);
    const std::string expected = head + "extension=php_a.dll\r\nextension=php_b.dll\r\n;/PHPExt";
    // Watched without opening php.ini while the editor replaces it.
    EXPECT_TRUE(PumpUntil([&] { return files.iniSize() == expected.size(); }, 5000)) << files.iniSize();
    EXPECT_EQ(expected, files.readIni());

    // The same item again brings the open editor forward: no second one.
    ASSERT_TRUE(run->pickFromMenu("ce"));
    PumpFor(1500);
    int editors = 0;
    EnumWindows(CountEditors, reinterpret_cast<LPARAM>(&editors));
    EXPECT_EQ(1, editors);

    PostMessageA(GetDlgItem(form, 1001), BM_CLICK, 0, 0);  // "&Quitter"
    EXPECT_TRUE(testkit::WaitProcess(editor.process, 10000));
    EXPECT_FALSE(testkit::FileExists(files.work));
    EXPECT_EQ(expected, files.readIni());
}

// Each Apache layout: start, the local web address, a restart on a new
// port written to httpd.conf, a line Apache refuses shown to the user, the
// switch to the service "Apache" and back, and the stop.
void EndToEnd::ApacheKitSteps(const ApacheKit& row)
{
    Open({{"AutoReloadConf", "Y"}}, row.layout);
    ASSERT_TRUE(run->run("/start"));
    ExpectStarted("/start");
    ASSERT_TRUE(run->run("/browse"));
    const std::string site = "tvrecord.exe http://" + e2e::ComputerName() + ":";
    EXPECT_EQ(site + std::to_string(run->kit.port()) + "/", opened.waitLine(0));

    const int port = testkit::FreeTcpPort();
    std::string conf = testkit::DefaultHttpdConf(port, row.layout);
    const std::string plain =
        (row.layout == testkit::KitApache24 ? "Listen " : "Port ") + std::to_string(port) + "\r\n";
    char portLine[64];
    snprintf(portLine, sizeof portLine, row.portLine, port);
    ASSERT_NE(std::string::npos, conf.find(plain));
    conf.replace(conf.find(plain), plain.size(), portLine);
    int launches = Launches();
    ASSERT_TRUE(run->kit.writeHttpdConf(conf));
    EXPECT_TRUE(PumpUntil([&] { return Launches() == launches + 1; }, 15000)) << Status();
    ExpectStarted("new port", port);
    ASSERT_TRUE(run->run("/browse"));
    EXPECT_EQ(site + std::to_string(port) + "/", opened.waitLine(1));

    Sleep(20);
    ASSERT_TRUE(run->kit.writeHttpdConf(conf + row.refused));
    std::string text = AnswerNo();
    EXPECT_EQ(0u, text.find("Error in Apache configuration file:\n\n\"")) << "got \"" << text << "\"";
    EXPECT_NE(std::string::npos, text.find(row.refusal)) << "got \"" << text << "\"";
    EXPECT_TRUE(Serves(port));
    launches = Launches();
    ASSERT_TRUE(run->kit.writeHttpdConf(conf));
    EXPECT_TRUE(PumpUntil([&] { return Launches() == launches + 1; }, 15000)) << Status();
    ExpectStarted("mended", port);

    // The services: Apache's is "Apache" whichever Apache registers it.
    run->click(servicesBox);
    ASSERT_TRUE(PumpUntil([&] { return IsDlgButtonChecked(run->window, servicesBox) == BST_CHECKED; }, 3000));
    run->click(applyButton);
    EXPECT_TRUE(PumpUntil([&] { return testkit::ServiceState("Apache") == SERVICE_RUNNING &&
                                       testkit::ServiceState("MySql") == SERVICE_RUNNING; }, 30000)) << Status();
    EXPECT_NE(std::string::npos, testkit::ServiceImagePath("Apache").find(row.program))
        << testkit::ServiceImagePath("Apache");
    EXPECT_EQ(0u, testkit::ServiceState("Apache2.4"));
    ExpectStarted("services on", port);
    run->click(servicesBox);
    ASSERT_TRUE(PumpUntil([&] { return IsDlgButtonChecked(run->window, servicesBox) == BST_UNCHECKED; }, 3000));
    run->click(applyButton);
    EXPECT_TRUE(PumpUntil([&] { return testkit::ServiceState("Apache") == 0 &&
                                       testkit::ServiceState("MySql") == 0; }, 30000)) << Status();
    ExpectStarted("services off", port);
    std::string live;
    for (const std::string& process : run->liveStandIns())
        live += process + " ";
    EXPECT_NE(std::string::npos, live.find(row.program)) << live;

    ASSERT_TRUE(run->run("/stop"));
    ExpectStopped("/stop");
    ASSERT_TRUE(run->run("/quit"));
    EXPECT_TRUE(run->ended(10000));
}

TEST_F(EndToEnd, Apache13Kit)
{
    ApacheKitSteps(apacheKits[0]);
}

TEST_F(EndToEnd, Apache24Kit)
{
    ApacheKitSteps(apacheKits[1]);
}
