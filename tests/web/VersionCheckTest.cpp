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
        prompt.text = webkit::Text(GetDlgItem(b, 0xFFFF));  // the message box's text
        SendMessageA(GetDlgItem(b, answer), BM_CLICK, 0, 0);
    });
    CheckForNewVersion(owner, "Tarvane");
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
        {"older", Key + "0.9.0.0", "0.9.0.0", true},
        {"fewer parts", Key + "1.0", "1.0", true},
        {"blanks and line breaks first", Key + " \t\r\n 3.0\tx", "3.0", true},
        {"second key ignored", Key + "3.0\r\nTarvaneVersion=4.0", "3.0", true},
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
