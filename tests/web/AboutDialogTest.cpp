// The about dialog in the user's language (TARVANE_TEST_LANG en, fr or it,
// LC_ALL to match), driven from a timer while its constructor shows it
// modally. Each language leaves a screenshot, artefacts/about-<lang>.bmp
// beside the build's bin folder.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "AboutDialog.h"
#include "TestKit.h"
#include "WebTestKit.h"
#include "resource.h"

namespace {

const struct Language {
    const char* tag;
    const char* texts[3];  // the two static texts and the version button
    int width, height;     // dialog units
} languages[] = {
    {"en",
     {"Tarvane, a simple way to install Apache, MySql and PHP has been created by :",
      "For informations, visit the Tarvane home page :", "&Check version"},
     218, 98},
    {"fr",
     {"Tarvane, le package d'installation simple d'Apache, MySql et PHP a \xE9t\xE9 r\xE9" "alis\xE9 par :",
      "Pour vous tenir au courant de l'\xE9volution de cette distribution, visitez le site :",
      "&V\xE9rifier la version"},
     224, 110},
    {"it",
     {"Tarvane, il modo pi\xF9 semplice per installare Apache, MySql e PHP \xE8 una creazione di:",
      "Per informazioni, visita la Home Page di Tarvane:", "&Controlla versione"},
     218, 98},
};

const struct Link {
    UINT id;
    const char* label;
    const char* tooltip;
    const char* opened;
} links[] = {
    {IDC_PRODUCT_LINK, "Tarvane", "http://www.tarvane.org/", "http://www.tarvane.org/"},
    {IDC_AUTHOR_1, "Nadia Roux", "nadia.roux@tarvane.org", "mailto:nadia.roux@tarvane.org?subject=Tarvane"},
    {IDC_AUTHOR_2, "Luca Bertin", "luca.bertin@tarvane.org", "mailto:luca.bertin@tarvane.org?subject=Tarvane"},
    {IDC_AUTHOR_3, "\xC9lise Vidal", "elise.vidal@tarvane.org", "mailto:elise.vidal@tarvane.org?subject=Tarvane"},
};

std::vector<UINT> ownerCommands;

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND)
        ownerCommands.push_back(LOWORD(wParam));
    return DefWindowProcA(window, message, wParam, lParam);
}

// Shows the dialog, owned by a window of its own, with the script run on
// it; the script ends it. True when it ran and the dialog ended unforced.
// The system menu's close command, as the close box sends it.
void CloseByCloseBox(HWND dialog)
{
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

bool ShowAbout(std::function<void(HWND)> script)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = OwnerProc;
    wc.lpszClassName = "TvAboutOwner";
    RegisterClassA(&wc);
    HWND owner = CreateWindowA(wc.lpszClassName, "Tarvane", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200,
                               nullptr, nullptr, nullptr, nullptr);
    HWND shown = nullptr;
    webkit::OnDialog on([&](HWND dialog) {
        shown = dialog;
        EXPECT_EQ(GetWindow(dialog, GW_OWNER), owner);
        script(dialog);
    });
    ShowAboutDialog(owner);
    EXPECT_FALSE(IsWindow(shown)) << "gone when the constructor returns";
    DestroyWindow(owner);
    return on.ran && !on.forced;
}

BOOL CALLBACK Collect(HWND window, LPARAM list)
{
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::string TooltipOf(HWND control)
{
    std::vector<HWND> windows;
    EnumThreadWindows(GetCurrentThreadId(), Collect, reinterpret_cast<LPARAM>(&windows));
    for (HWND tip : windows) {
        char text[256] = "";
        TOOLINFOA tool = {};
        tool.cbSize = sizeof tool;
        tool.lpszText = text;
        if (SendMessageA(tip, TTM_ENUMTOOLSA, 0, reinterpret_cast<LPARAM>(&tool)) && tool.hwnd == control)
            return text;
    }
    return "(no tooltip)";
}

}  // namespace

TEST(AboutDialog, ContentsLinksLookAndTooltips)
{
    const char* tag = getenv("TARVANE_TEST_LANG");
    const Language* found = std::find_if(languages, languages + 3, [&](const Language& l) { return tag && !strcmp(tag, l.tag); });
    ASSERT_NE(found, languages + 3) << "TARVANE_TEST_LANG " << (tag ? tag : "unset");
    const Language& language = *found;
    EXPECT_TRUE(ShowAbout([&](HWND dialog) {
        testkit::PumpFor(300);  // painted, tooltips in place
        EXPECT_EQ(webkit::Text(dialog), std::string("Tarvane v ") + TARVANE_VERSION_TEXT);
        HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_WINDOW));
        EXPECT_EQ((HICON)SendMessageA(dialog, WM_GETICON, ICON_BIG, 0), icon);
        EXPECT_EQ((HICON)SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0), icon);
        EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDOK));

        // The template of the user's language: its texts and its size.
        std::vector<HWND> children;
        EnumChildWindows(dialog, Collect, reinterpret_cast<LPARAM>(&children));
        std::vector<std::string> texts;
        for (HWND child : children)
            texts.push_back(webkit::Text(child));
        for (const char* text : language.texts)
            EXPECT_NE(std::find(texts.begin(), texts.end(), text), texts.end()) << text;
        RECT size = {0, 0, language.width, language.height}, client;
        MapDialogRect(dialog, &size);
        GetClientRect(dialog, &client);
        EXPECT_EQ(client.right * 1000 + client.bottom, size.right * 1000 + size.bottom);

        HDC dc = CreateCompatibleDC(nullptr);
        LOGFONTA plain = {}, drawn = {};
        GetObjectA((HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0), sizeof plain, &plain);
        HCURSOR hand = LoadCursorA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDC_HAND_CURSOR));
        for (const Link& link : links) {
            HWND label = GetDlgItem(dialog, link.id);
            EXPECT_EQ(webkit::Text(label), link.label);
            EXPECT_EQ(TooltipOf(label), link.tooltip);
            SetCursor(nullptr);
            EXPECT_TRUE(SendMessageA(label, WM_SETCURSOR, (WPARAM)label, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
            EXPECT_EQ(GetCursor(), hand) << link.label;
            // Blue and underlined on no background of its own. (Wine's static
            // control selects its own font after asking for the colours, so
            // under Wine the links show blue but not underlined; on Windows
            // the font selected here is the one drawn with.)
            SetTextColor(dc, RGB(1, 2, 3));
            LRESULT brush = SendMessageA(dialog, WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)label);
            EXPECT_EQ(brush, (LRESULT)GetStockObject(HOLLOW_BRUSH)) << link.label;
            EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 238)) << link.label;
            EXPECT_EQ(GetBkMode(dc), TRANSPARENT) << link.label;
            GetObjectA(GetCurrentObject(dc, OBJ_FONT), sizeof drawn, &drawn);
            EXPECT_TRUE(drawn.lfUnderline && drawn.lfHeight == plain.lfHeight && !strcmp(drawn.lfFaceName, plain.lfFaceName))
                << link.label << ": " << drawn.lfFaceName << " " << drawn.lfHeight;
        }
        DeleteDC(dc);

        EXPECT_TRUE(testkit::SaveScreenshot(dialog, testkit::ArtefactsDir() + "about-" + language.tag + ".bmp"));
        SendMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    }));
}

TEST(AboutDialog, LinksOpenVersionButtonAsksOwnerEscEnds)
{
    webkit::TestAssociations associations;
    webkit::RecordFile records;
    ownerCommands.clear();
    EXPECT_TRUE(ShowAbout([&](HWND dialog) {
        for (size_t i = 0; i < 4; ++i) {
            // A double click, as the system sends it: a click, then the
            // double click and its release.
            HWND label = GetDlgItem(dialog, links[i].id);
            SendMessageA(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
            SendMessageA(label, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
            SendMessageA(label, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(2, 2));
            SendMessageA(label, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
            EXPECT_EQ(records.waitLine(i), std::string("tvrecord.exe ") + links[i].opened);
        }
        EXPECT_TRUE(ownerCommands.empty());
        SendMessageA(GetDlgItem(dialog, IDC_CHECK_VERSION_BUTTON), BM_CLICK, 0, 0);
        EXPECT_EQ(ownerCommands, std::vector<UINT>{IDC_CHECK_VERSION_BUTTON});
        EXPECT_TRUE(IsWindowVisible(dialog)) << "open while the owner checks";
        // Esc as a key press arrives: through the dialog's own loop.
        PostMessageA(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
    }));
    testkit::PumpFor(300);
    EXPECT_EQ(records.lines().size(), 4u) << "one opening per double click";
}

TEST(AboutDialog, CloseBoxEndsIt)
{
    EXPECT_TRUE(ShowAbout(CloseByCloseBox));
}
