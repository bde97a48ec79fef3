// The version check against a loopback HTTP server standing in for the
// product site. ctest starts this program through site-hosts.sh, where the
// site's host resolves to the server's address. The program carries the
// manager's resources, so its own version is the manager's.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <wininet.h>
#include <gtest/gtest.h>

#include "DialogWindow.h"
#include "TestKit.h"
#include "VersionCheck.h"
#include "WebTestKit.h"
#include "resource.h"

namespace {

const std::string Key = "TarvaneVersion=";
const char* const OwnVersion = TARVANE_VERSION_TEXT;
const std::string Cut49(49, '9');

struct Prompt {
    int shown = 0;
    std::string caption, text;
};

// Runs the whole check, answering a prompt with the given button.
Prompt Check(HWND owner, int answer)
{
    Prompt prompt;
    webkit::OnDialog box([&](HWND b) {
        ++prompt.shown;
        prompt.caption = webkit::Text(b);
        testkit::AnswerMessageBox(answer, GetCurrentProcessId(), nullptr, 0, &prompt.text);
    });
    char published[VersionTextSize];
    FetchPublishedVersion(published);
    bool offered = OfferNewVersion(owner, "Tarvane", published);
    EXPECT_EQ(offered, prompt.shown == 1);
    return prompt;
}

std::string Resolve(const char* host)
{
    addrinfo hints = {}, *found = nullptr;
    hints.ai_family = AF_INET;
    if (getaddrinfo(host, "80", &hints, &found) != 0)
        return "";
    std::string address = inet_ntoa(reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr);
    freeaddrinfo(found);
    return address;
}

class VersionCheck : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(server.address.empty()) << "run through site-hosts.sh";
        ASSERT_EQ(Resolve(ProductSiteHost), server.address) << "the site's host must lead to the server";
        ASSERT_TRUE(server.start()) << "cannot listen on " << server.address << ":80";
        owner = CreateWindowA("STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                              nullptr);
    }
    void TearDown() override
    {
        DestroyWindow(owner);
        // The Internet client keeps the replies in the prefix's URL cache.
        DeleteUrlCacheEntryA("http://www.tarvane.org/checktarvane.php3");
    }

    webkit::SiteServer server;
    HWND owner = nullptr;
};

}  // namespace

TEST_F(VersionCheck, RepliesAndPrompts)
{
    const std::string pad(1024 - Key.size() - 3, ' ');
    const struct {
        const char* name;
        std::string body;
        const char* published;  // what the fetch gives; null: nothing
        bool prompt;
    } cases[] = {
        {"same version", Key + OwnVersion + "\r\n", OwnVersion, false},
        {"newer", Key + "2.2\n", "2.2", true},
        // Only a newer release is offered.
        {"older", Key + "0.9.0.0", "0.9.0.0", false},
        {"fewer parts, older", Key + "1.0", "1.0", false},
        {"own with fewer parts", Key + "1.0.0", "1.0.0", false},
        {"blanks and line breaks first", Key + " \t\r\n 3.0\tx", "3.0", true},
        {"second key ignored", Key + "3.0\r\nTarvaneVersion=4.0", "3.0", true},
        {"tenth minor", Key + "1.10", "1.10", true},
        {"key alone", Key, nullptr, false},
        {"blanks after the key", Key + " \r\n\t", nullptr, false},
        {"empty reply", "", nullptr, false},
        {"key in lower case", "tarvaneversion=2.2", nullptr, false},
        // The key only further on carries no version: a page that merely
        // mentions it is no reply of the check page.
        {"key not first", "<html>" + Key + "2.2", nullptr, false},
        {"key past 1024 bytes", std::string(1024, ' ') + Key + "2.2", nullptr, false},
        {"token past 1024 bytes", Key + pad + "   3.0", nullptr, false},
        {"exactly 1024 bytes", Key + pad + "2.2", "2.2", true},
        {"1025 bytes, the last unread", Key + pad + "2.25", "2.2", true},
        {"token of 60", Key + std::string(60, '9'), Cut49.c_str(), true},
        {"not a number", Key + "beta", "beta", false},
    };
    for (const auto& c : cases) {
        server.body = c.body;
        char published[VersionTextSize];
        memset(published, 'x', sizeof published);
        EXPECT_EQ(FetchPublishedVersion(published), c.published != nullptr) << c.name;
        EXPECT_STREQ(published, c.published ? c.published : "") << c.name;

        Prompt prompt = Check(owner, IDNO);
        EXPECT_EQ(prompt.shown, c.prompt ? 1 : 0) << c.name;
        if (c.prompt && prompt.shown) {
            EXPECT_EQ(prompt.text, std::string("A new version (") + c.published + ") is available. Go to the Tarvane web ?");
            EXPECT_EQ(prompt.caption, "Tarvane");
        }
    }
}

TEST_F(VersionCheck, YesOpensTheSiteRoot)
{
    webkit::TestAssociations associations;
    webkit::RecordFile records;
    server.body = Key + "2.2\n";
    EXPECT_EQ(Check(owner, IDYES).shown, 1);
    EXPECT_EQ(records.waitLine(0), "tvrecord.exe http://www.tarvane.org/");

    const std::string& request = server.request;
    EXPECT_EQ(request.find("GET /checktarvane.php3 HTTP/1."), 0u) << request;
    EXPECT_NE(request.find("\r\nUser-Agent: Tarvane Manager\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("\r\nHost: www.tarvane.org\r\n"), std::string::npos) << request;
}

TEST_F(VersionCheck, SilentWithoutOwnVersionOrServer)
{
    char own[VersionTextSize];
    EXPECT_TRUE(GetVersionString(GetModuleHandleA(nullptr), own));
    EXPECT_STREQ(own, OwnVersion);

    // The manager's module without a version resource: the published
    // version comes, but nothing is said.
    HMODULE plain = LoadLibraryExA((testkit::BinDir() + "tvrecord.exe").c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(plain, nullptr);
    memset(own, 'x', sizeof own);
    EXPECT_FALSE(GetVersionString(plain, own));
    EXPECT_STREQ(own, "");
    server.body = Key + "2.2\n";
    SetAppInstance(plain);
    EXPECT_EQ(Check(owner, IDNO).shown, 0);
    SetAppInstance(nullptr);
    FreeLibrary(plain);
    EXPECT_EQ(server.request.find("GET /checktarvane.php3 "), 0u);

    // Nobody listening; the cursor from before the check comes back.
    server.stop();
    char published[VersionTextSize];
    EXPECT_FALSE(FetchPublishedVersion(published));
    EXPECT_STREQ(published, "");
    SetCursor(LoadCursorA(nullptr, IDC_CROSS));
    HCURSOR before = GetCursor();
    EXPECT_EQ(Check(owner, IDNO).shown, 0);
    EXPECT_EQ(GetCursor(), before);
}

TEST(VersionOrder, DottedNumbersCompared)
{
    const struct {
        const char *a, *b;
        int order;
    } cases[] = {
        {"1.0.0.0", "1.0.0.0", 0}, {"1.0", "1.0.0.0", 0},  {"1", "1.0.0.1", -1},  {"2.2", "2.1.0.3", 1},
        {"2.10", "2.9", 1},        {"2.09", "2.9", 0},     {"0.9.9.9", "1.0", -1}, {"10.0", "9.99", 1},
        {"1.0.0.10", "1.0.0.9", 1}, {"", "0.0", 0},        {"", "0.1", -1},       {"1.2rc", "1.2", 0},
        {"1.3rc", "1.2.9", 1},     {"beta", "1.0", -1},
        {"99999999999999999999999.1", "99999999999999999999999.0", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CompareVersions(c.a, c.b), c.order) << c.a << " against " << c.b;
        EXPECT_EQ(CompareVersions(c.b, c.a), -c.order) << c.b << " against " << c.a;
    }
}

namespace {

// A window of the test thread that receives the fetch's message and counts
// the ticks of a 50 ms timer: they go on only while the thread is free.
struct FetchWindow {
    FetchWindow()
    {
        handle = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        SetWindowLongPtrA(handle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        previous = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(handle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Proc)));
        SetTimer(handle, 1, 50, nullptr);
    }
    ~FetchWindow() { DestroyWindow(handle); }
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<FetchWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (message == WM_TIMER)
            ++self->ticks;
        else if (message == VersionCheckMessage) {
            ++self->posted;
            self->found = wParam;
            self->lParam = lParam;
            return 0;
        }
        return CallWindowProcA(self->previous, window, message, wParam, lParam);
    }
    static const UINT VersionCheckMessage = WM_APP + 1;
    HWND handle;
    WNDPROC previous;
    int ticks = 0, posted = 0;
    WPARAM found = 0;
    LPARAM lParam = 0;
};

}  // namespace

TEST_F(VersionCheck, FetchOnItsOwnThreadAskedAfresh)
{
    // A reply the client may keep for an hour is not taken from its cache.
    server.headers = "Cache-Control: max-age=3600\r\n";
    const char* const bodies[] = {"2.2\n", "2.3\n"};
    for (const char* body : bodies) {
        server.body = Key + body;
        server.request.clear();
        FetchWindow window;
        VersionFetch fetch;
        ASSERT_TRUE(fetch.start(window.handle, FetchWindow::VersionCheckMessage));
        EXPECT_FALSE(fetch.start(window.handle, FetchWindow::VersionCheckMessage)) << "one at a time";
        ASSERT_TRUE(testkit::PumpUntil([&] { return window.posted > 0; }, 15000));
        EXPECT_EQ(window.found, 1u);
        ASSERT_NE(fetch.result(window.lParam), nullptr);
        EXPECT_EQ(std::string(fetch.result(window.lParam)) + "\n", body);
        EXPECT_EQ(fetch.result(window.lParam + 1), nullptr);
        EXPECT_EQ(server.request.find("GET /checktarvane.php3 "), 0u) << body;
    }
}

TEST_F(VersionCheck, SiteThatNeverAnswersBlocksNothing)
{
    // A listener that never accepts: the connection is made, the request
    // sent, and no reply ever comes.
    server.stop();
    SOCKET mute = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in where = {};
    where.sin_family = AF_INET;
    where.sin_port = htons(80);
    where.sin_addr.s_addr = inet_addr(server.address.c_str());
    ASSERT_EQ(bind(mute, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
    ASSERT_EQ(listen(mute, 8), 0);

    FetchWindow window;
    {
        VersionFetch fetch;
        DWORD started = GetTickCount();
        ASSERT_TRUE(fetch.start(window.handle, FetchWindow::VersionCheckMessage));
        // The thread of the window goes on: its timer ticks while the
        // request waits.
        EXPECT_TRUE(testkit::PumpUntil([&] { return window.ticks >= 10; }, 3000)) << window.ticks;
        EXPECT_EQ(window.posted, 0);
        // The request's own time-outs end it.
        ASSERT_TRUE(testkit::PumpUntil([&] { return window.posted > 0; }, 30000));
        EXPECT_EQ(window.found, 0u);
        EXPECT_GE(GetTickCount() - started, 4000u);

        // A cancelled request posts nothing, and the cancel waits for
        // nothing: the thread ends on its own.
        window.posted = 0;
        ASSERT_TRUE(fetch.start(window.handle, FetchWindow::VersionCheckMessage));
        testkit::PumpUntil([&] { return window.ticks >= 20; }, 3000);
        started = GetTickCount();
        fetch.cancel();
        EXPECT_LT(GetTickCount() - started, 250u);
    }
    testkit::PumpUntil([] { return false; }, 300);
    EXPECT_EQ(window.posted, 0);
    closesocket(mute);
}
