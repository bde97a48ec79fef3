// Apache's syntax test as the driver runs it (the program itself, its
// output through a pipe, judged whole once it has ended) with an apache.exe
// whose answer the test chooses, and the Port line of httpd.conf.
#include <windows.h>
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <cstring>
#include <string>
#include <vector>

#include "ApacheServer.h"
#include "ServerKit.h"
#include "TestKit.h"

namespace {

// A hidden window that takes the driver's ConfigError notifications, with
// the text they point to as it stands when they are handled.
class NoteWindow {
public:
    explicit NoteWindow(UINT messageId)
    {
        self = this;
        message = messageId;
        WNDCLASSA wc = {};
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "ServersNoteWindow";
        RegisterClassA(&wc);
        hwnd = CreateWindowA("ServersNoteWindow", "notes", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                             nullptr);
    }
    ~NoteWindow()
    {
        DestroyWindow(hwnd);
        self = nullptr;
    }

    HWND hwnd;
    UINT message;
    std::vector<WPARAM> codes;
    std::vector<std::string> texts;

private:
    static NoteWindow* self;

    static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        // StateChanged (posted as the state moves) carries no text.
        if (self && msg == self->message && wParam != StateChanged) {
            self->codes.push_back(wParam);
            self->texts.push_back(lParam ? (const char*)lParam : "(null)");
            return 0;
        }
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
};

NoteWindow* NoteWindow::self;

class ApacheCheckTest : public ServerKitTest {
protected:
    // Lays out the kit with the stub answering `bytes`, builds the driver
    // and the window that receives its notifications.
    void Prepare(const std::string& bytes)
    {
        LayOut();
        UseCheckStub(bytes);
        apache.reset(new ApacheServer(kitFolder()));
        window.reset(new NoteWindow(apache->messageId()));
        apache->setNotifyWindow(window->hwnd);
    }

    // Runs one check; returns the verdict and keeps the time it took and
    // how many notifications had arrived when it returned; then lets what
    // it posted arrive.
    bool Check()
    {
        DWORD before = GetTickCount();
        bool verdict = apache->checkConfig();
        checkMs = GetTickCount() - before;
        notesAtReturn = window->codes.size();
        testkit::PumpFor(50);
        return verdict;
    }

    std::vector<kitrecord::Record> checkRuns() const
    {
        std::vector<kitrecord::Record> out;
        for (const auto& r : apacheRuns())
            if (r.cmdLine.find(" -t") != std::string::npos)
                out.push_back(r);
        return out;
    }

    void TearDown() override
    {
        window.reset();
        apache.reset();
        ServerKitTest::TearDown();
    }

    std::unique_ptr<ApacheServer> apache;
    std::unique_ptr<NoteWindow> window;
    DWORD checkMs = 0;
    size_t notesAtReturn = 0;
};

TEST_F(ApacheCheckTest, SyntaxOkIsValidAndWritesNothingIntoTheKit)
{
    Prepare("Syntax OK\r\n");
    EXPECT_TRUE(Check());
    EXPECT_TRUE(window->codes.empty()) << "notifications: " << window->codes.size();
    EXPECT_FALSE(testkit::FileExists(apacheDir() + "chkap.bat"));
    EXPECT_FALSE(testkit::FileExists(apacheDir() + "chkap.txt"));
    ASSERT_EQ(checkRuns().size(), 1u);
    EXPECT_EQ(checkRuns()[0].cmdLine, apacheDir() + "Apache.exe -t");
}

TEST_F(ApacheCheckTest, ErrorIsPostedToTheWindowWithoutItsLastLine)
{
    Prepare("Syntax error on line 3 of httpd.conf:\r\nInvalid command 'Lisen'\r\nAH00526\r\n");
    EXPECT_FALSE(Check());
    // Posted, never sent: nothing of the window runs inside the check.
    EXPECT_EQ(notesAtReturn, 0u);
    ASSERT_EQ(window->codes.size(), 1u);
    EXPECT_EQ(window->codes[0], (WPARAM)ConfigError);
    EXPECT_EQ(window->message, RegisterWindowMessageA("Tarvane_Apache"));
    EXPECT_EQ(window->texts[0], "Syntax error on line 3 of httpd.conf:\nInvalid command 'Lisen'\nAH00526");
    testkit::PumpFor(200);
    EXPECT_EQ(window->codes.size(), 1u) << "nothing further arrives";
    EXPECT_FALSE(testkit::FileExists(apacheDir() + "chkap.txt"));
}

TEST_F(ApacheCheckTest, TextAfterTheLastLineFeedIsDropped)
{
    Prepare("first line\nsecond line without end");
    EXPECT_FALSE(Check());
    ASSERT_EQ(window->texts.size(), 1u);
    EXPECT_EQ(window->texts[0], "first line");
}

TEST_F(ApacheCheckTest, TenBytesWithoutLineFeedAreAnError)
{
    Prepare("0123456789");
    EXPECT_FALSE(Check());
    ASSERT_EQ(window->texts.size(), 1u);
    EXPECT_EQ(window->texts[0], "0123456789");
}

TEST_F(ApacheCheckTest, AShortAnswerIsJudgedToo)
{
    Prepare("Bad line\n");
    EXPECT_FALSE(Check());
    ASSERT_EQ(window->texts.size(), 1u);
    EXPECT_EQ(window->texts[0], "Bad line");
    EXPECT_EQ(checkRuns().size(), 1u) << "the test runs once, its whole output is judged once";
}

bool served;
void CALLBACK MarkServed(HWND, UINT, UINT_PTR, DWORD)
{
    served = true;
}

// A test that has not ended within the bound gives no verdict (valid) and
// is ended; the window's messages went on meanwhile.
TEST_F(ApacheCheckTest, ATestStillRunningAtTheBoundGivesValidAndTheWindowIsServed)
{
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, "TvCheckStubGo");
    ASSERT_TRUE(go != nullptr);
    Prepare("WAIT:Syntax error on line 3\n");
    apache->setCheckLimit(1500);
    served = false;
    UINT_PTR timer = SetTimer(nullptr, 0, 100, MarkServed);
    EXPECT_TRUE(Check());
    KillTimer(nullptr, timer);
    EXPECT_TRUE(served) << "messages were dispatched during the wait";
    EXPECT_GE(checkMs, 1490u);
    EXPECT_TRUE(window->codes.empty());
    ASSERT_EQ(checkRuns().size(), 1u);
    EXPECT_TRUE(testkit::WaitProcessGone(checkRuns()[0].pid, 5000)) << "the test was ended";
    CloseHandle(go);
}

// The whole output is judged, however long: warnings before "Syntax OK"
// do not make it an error; a long error is shown from its start.
TEST_F(ApacheCheckTest, TheWholeOutputIsJudged)
{
    std::string warnings;
    for (int i = 0; i < 400; ++i)
        warnings += "AH00112: Warning: DocumentRoot [C:/www/" + std::to_string(i) + "] does not exist\r\n";
    Prepare(warnings + "Syntax OK\r\n");
    EXPECT_TRUE(Check());
    EXPECT_TRUE(window->codes.empty());

    ASSERT_TRUE(testkit::WriteFileBytes(kit + "Apache\\checkstub.txt", warnings + "Invalid command 'Lisen'\r\n"));
    EXPECT_FALSE(Check());
    ASSERT_EQ(window->texts.size(), 1u);
    EXPECT_EQ(window->texts[0].find("AH00112: Warning: DocumentRoot [C:/www/0] does not exist\nAH00112"), 0u);
    EXPECT_LE(window->texts[0].size(), (size_t)ApacheCheckOutputSize);
}

// The reader judges what it is given in any pieces: "Syntax OK" split at
// every place, CR LF read as LF, the kept text cut at its last LF.
TEST(ApacheCheckOutputTest, AnyPiecesGiveTheSameVerdictAndText)
{
    const std::string bytes = "AH00558: warning\r\nSyntax OK\r\n";
    for (size_t cut = 0; cut <= bytes.size(); ++cut) {
        ApacheCheckOutput output;
        output.clear();
        output.add(bytes.data(), cut);
        output.add(bytes.data() + cut, bytes.size() - cut);
        output.finish();
        EXPECT_TRUE(output.syntaxOk) << cut;
        EXPECT_STREQ(output.text, "AH00558: warning\nSyntax OK") << cut;
    }
    ApacheCheckOutput output;
    output.clear();
    output.add("Syntax O", 8);
    output.add("\nK", 2);
    EXPECT_FALSE(output.syntaxOk);
}

TEST_F(ApacheCheckTest, AnOutputFileLeftFromEarlierIsNotTakenForTheAnswer)
{
    // An output file of the old batch-file check, left in the kit folder:
    // neither read nor touched.
    Prepare("Syntax OK\n");
    const std::string old = "Invalid command 'Lisen' from before\n";
    ASSERT_TRUE(testkit::WriteFileBytes(apacheDir() + "chkap.txt", old));
    EXPECT_TRUE(Check());
    EXPECT_TRUE(window->codes.empty()) << (window->texts.empty() ? "" : window->texts[0]);
    std::string left;
    ASSERT_TRUE(testkit::ReadFileBytes(apacheDir() + "chkap.txt", &left));
    EXPECT_EQ(left, old);
    DeleteFileA((apacheDir() + "chkap.txt").c_str());
}

TEST_F(ApacheCheckTest, AnInvalidConfigurationBlocksStartAndStop)
{
    Prepare("Invalid command 'Lisen'\n");
    EXPECT_EQ(apache->startProcess(), 1u);
    EXPECT_EQ(apache->stopProcess(), 1u);
    testkit::PumpFor(50);
    EXPECT_EQ(window->codes.size(), 2u);

    // start runs the check itself, refuses quietly and stays Stopped.
    EXPECT_EQ(apache->start(), 0u);
    EXPECT_EQ(apache->state(), Stopped);
    testkit::PumpFor(50);
    EXPECT_EQ(window->codes.size(), 3u);

    // Only syntax tests were run, nothing else.
    testkit::PumpFor(300);
    auto runs = apacheRuns();
    EXPECT_EQ(runs.size(), 3u);
    for (const auto& r : runs)
        EXPECT_NE(r.cmdLine.find(" -t"), std::string::npos) << r.cmdLine;
}

// The Port line of httpd.conf.
class ApachePortTest : public ServerKitTest {
protected:
    int PortFor(const std::string& conf)
    {
        LayOut();
        WriteHttpdConf(conf);
        ApacheServer apache(kitFolder());
        return apache.port();
    }
};

TEST_F(ApachePortTest, PortLineGivesItsNumber)
{
    int port = PortFor("ServerRoot \"C:/kit/Apache\"\n#Port 8080\nPort 81\nListen 82\n");
    EXPECT_EQ(port, 81) << "got " << port;
}

TEST_F(ApachePortTest, CommentedOutLineKeeps80)
{
    int port = PortFor("#Port 81\nServerName localhost\n");
    EXPECT_EQ(port, 80) << "got " << port;
}

TEST_F(ApachePortTest, IndentedLineGives0)
{
    int port = PortFor("  Port 81\nPort 82\n");
    EXPECT_EQ(port, 0) << "got " << port;
}

TEST_F(ApachePortTest, NoPortOrListenLineKeeps80)
{
    int port = PortFor("ServerRoot \"C:/kit/Apache\"\n#Listen 8080\n");
    EXPECT_EQ(port, 80) << "got " << port;
}

// Apache 2.x has no Port line: the first Listen line outside comments
// names the port, whatever address or protocol it carries.
TEST_F(ApachePortTest, WithoutPortLineTheFirstListenLineGivesThePort)
{
    const struct {
        const char* conf;
        int port;
    } cases[] = {
        {"Listen 8080\n", 8080},
        {"Listen 127.0.0.1:8081\n", 8081},
        {"Listen [::1]:8082\n", 8082},
        {"Listen 0.0.0.0:80 http\n", 80},
        {"# Listen 1\n  listen\t8083\r\nListen 8084\n", 8083},
        {"ListenBacklog 5\nListen 8085\n", 8085},
        {"Listen ::1\nListen 8086\n", 80},
        {"Listen 65536\n", 80},
        {"Listen 8087\nPort 81\n", 81},
    };
    LayOut();
    for (const auto& c : cases) {
        WriteHttpdConf(c.conf);
        ApacheServer apache(kitFolder());
        EXPECT_EQ(apache.port(), c.port) << "conf \"" << c.conf << "\" got " << apache.port();
    }
}

// The file is read in text mode, in lines of at most 299 characters; a
// number int cannot hold is no number (sscanf's %d would be undefined there).
TEST_F(ApachePortTest, TextModeLinesAndNumbersOutOfRange)
{
    const struct {
        std::string conf;
        int port;
    } cases[] = {
        {"Port 81\r\n", 81},
        {"Port\t+81\n", 81},
        {"Port -2147483648\n", INT_MIN},
        {"Port 2147483648\n", 0},
        {"Port 4294967377\n", 0},
        {"Listen 1\n\x1APort 81\n", 1},
        {std::string(299, 'x') + "Port 81\n", 81},
        {std::string(300, 'x') + "Port 81\n", 0},
    };
    LayOut();
    for (const auto& c : cases) {
        WriteHttpdConf(c.conf);
        ApacheServer apache(kitFolder());
        EXPECT_EQ(apache.port(), c.port) << "conf \"" << c.conf.substr(0, 40) << "\" got " << apache.port();
    }
}

TEST_F(ApachePortTest, ReadOnlyFileStillGivesItsPort)
{
    LayOut();
    WriteHttpdConf("Port 81\n");
    std::string conf = kit + "Apache\\conf\\httpd.conf";
    ASSERT_TRUE(SetFileAttributesA(conf.c_str(), FILE_ATTRIBUTE_READONLY));
    ApacheServer apache(kitFolder());
    EXPECT_EQ(apache.port(), 81) << "got " << apache.port();
    SetFileAttributesA(conf.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// An editor that holds httpd.conf open and shares it for reading only
// must not keep the port from being read. (Wine lets root write files
// marked read-only, so this lock is what shows a read-write open failing.)
TEST_F(ApachePortTest, FileSharedForReadingOnlyStillGivesItsPort)
{
    LayOut();
    WriteHttpdConf("Port 81\n");
    HANDLE editor = CreateFileA((kit + "Apache\\conf\\httpd.conf").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(editor, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    ApacheServer apache(kitFolder());
    EXPECT_EQ(apache.port(), 81) << "got " << apache.port();
    CloseHandle(editor);
}

// Paths longer than their buffers are cut, never written past them.
TEST_F(ApachePortTest, AnOverlongInstallPathIsCut)
{
    // 249 characters: the value itself fits.
    std::string path = "C:\\" + std::string(245, 'x') + "\\";
    ApacheServer apache(path.c_str());
    EXPECT_EQ(std::string(apache.directory()), path + "Apache\\");
    EXPECT_EQ(std::string(apache.configPath()), (path + "Apache\\conf\\httpd.conf").substr(0, 259));
    EXPECT_EQ(apache.port(), 80);
    apache.setSsl(true);
    EXPECT_TRUE(apache.checkConfig()) << "no apache.exe there: no verdict";
    EXPECT_NE(apache.startProcess(), 0u);
    EXPECT_NE(apache.stopProcess(), 0u);
    EXPECT_FALSE(apache.installService());
}

TEST_F(ApachePortTest, ReloadConfigReadsThePortAgain)
{
    LayOut();
    WriteHttpdConf("Port 81\n");
    ApacheServer apache(kitFolder());
    EXPECT_STREQ(apache.configPath(), (apacheDir() + "conf\\httpd.conf").c_str());
    WriteHttpdConf("Port 8080\n");
    EXPECT_EQ(apache.reloadConfig(), 0u);
    EXPECT_EQ(apache.port(), 8080) << "got " << apache.port();
    // A missing file leaves the last port.
    DeleteFileA((kit + "Apache\\conf\\httpd.conf").c_str());
    EXPECT_EQ(apache.reloadConfig(), 0u);
    EXPECT_EQ(apache.port(), 8080) << "got " << apache.port();
}

}  // namespace
