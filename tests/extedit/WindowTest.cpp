// Morvex.exe as its user meets it: the real program, found by its window
// title, driven with keyboard and mouse input, its php.ini checked byte for
// byte.
#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "IniFiles.h"
#include "TestKit.h"

namespace {

const char Title[] = "VAV Ozuvuzuded Avedo";
const char IniProblem[] = "Probleme avec le fichier php.ini !";
const char FormatProblem[] = "Probleme dans le format du fichier php.ini !";
const char ProblemCaption[] = "Probl\xE8me";
const char Head[] = "[PHP]\r\nengine = On\r\n;PHPExt\r\n";

// Control ids of the form and of a message box's text.
const int ListId = 1000, QuitterId = 1001, ValiderId = 1002;
const int MessageTextId = 0xFFFF;

std::string WindowText(HWND hwnd)
{
    char text[256] = "";
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

std::string ClassOf(HWND hwnd)
{
    char name[64] = "";
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

struct WindowSearch {
    DWORD pid;
    const char* className;
    const char* title;
    HWND found;
};

// EnumWindows calls back with the Windows calling convention (stdcall on
// 32-bit Windows): a named CALLBACK function, not a lambda.
BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM lParam)
{
    WindowSearch* s = (WindowSearch*)lParam;
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner != s->pid || !IsWindowVisible(hwnd))
        return TRUE;
    if (s->className && ClassOf(hwnd) != s->className)
        return TRUE;
    if (s->title && WindowText(hwnd) != s->title)
        return TRUE;
    s->found = hwnd;
    return FALSE;
}

// The running editor, ended by the test if it is still there at the end.
class Editor {
public:
    explicit Editor(const std::string& arguments = "")
        : process(testkit::StartProcess("\"" + testkit::BinDir() + "Morvex.exe\"" +
                                        (arguments.empty() ? "" : " " + arguments))),
          pid(process ? GetProcessId(process) : 0)
    {
    }

    ~Editor()
    {
        if (process && WaitForSingleObject(process, 0) != WAIT_OBJECT_0) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
        }
        if (process)
            CloseHandle(process);
    }

    bool started() const { return process != nullptr; }

    // A visible top-level window of this process with the given class
    // (any when null) and title (any when null).
    HWND findWindow(const char* className, const char* title) const
    {
        WindowSearch search = {pid, className, title, nullptr};
        EnumWindows(MatchWindow, (LPARAM)&search);
        return search.found;
    }

    HWND waitWindow(const char* className, const char* title) const
    {
        HWND found = nullptr;
        testkit::PumpUntil([&] { return (found = findWindow(className, title)) != nullptr; }, 10000);
        return found;
    }
    HWND waitForm() const { return waitWindow("TfrmMain", Title); }
    HWND waitMessageBox() const { return waitWindow("#32770", nullptr); }

    bool ended(DWORD* exitCode, DWORD timeoutMs = 10000) const
    {
        if (!testkit::WaitProcess(process, timeoutMs))
            return false;
        GetExitCodeProcess(process, exitCode);
        return true;
    }

    HANDLE process;
    DWORD pid;
};

std::string MessageText(HWND box)
{
    return WindowText(GetDlgItem(box, MessageTextId));
}

// Presses the message box's OK button and waits until the box is gone.
bool DismissMessageBox(HWND box)
{
    HWND ok = GetDlgItem(box, IDOK);
    if (!ok)
        return false;
    PostMessageA(ok, BM_CLICK, 0, 0);
    return testkit::PumpUntil([box] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000);
}

// Wine hands an A-version LB_GETTEXT from another process back in UTF-16
// (only the first character survives), so the text is asked for in UTF-16
// and brought to the ANSI code page here; on Windows both ways give the same.
std::vector<std::string> ListTexts(HWND list)
{
    std::vector<std::string> texts;
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        WCHAR wide[256] = L"";
        char text[512] = "";
        if (SendMessageW(list, LB_GETTEXTLEN, i, 0) < 256) {
            SendMessageW(list, LB_GETTEXT, i, (LPARAM)wide);
            WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
        }
        texts.push_back(text);
    }
    return texts;
}

bool IsChecked(HWND list, int index)
{
    return SendMessageA(list, LB_GETITEMDATA, index, 0) == 1;
}

// Real input through the system's queue, to the window in front.
void SendKeys(const std::vector<std::pair<WORD, bool>>& keys)
{
    std::vector<INPUT> inputs;
    for (const auto& key : keys) {
        INPUT input;
        memset(&input, 0, sizeof input);
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key.first;
        input.ki.dwFlags = key.second ? 0 : KEYEVENTF_KEYUP;
        inputs.push_back(input);
    }
    SendInput((UINT)inputs.size(), inputs.data(), sizeof(INPUT));
}

void PressAlt(char letter)
{
    SendKeys({{VK_MENU, true}, {(WORD)letter, true}, {(WORD)letter, false}, {VK_MENU, false}});
}

// Alt+letter until done() holds, at most three times, each given 3 s. Wine
// takes the modifier keys' state from the X server whenever the window
// gains the X input focus: a focus change that reaches the editor between
// the injected Alt and the letter (late under load, after SetForegroundWindow
// has already returned) lets Alt go, and the letter arrives as a plain key.
// The keys this is used for do the same when pressed twice.
bool PressAltUntil(char letter, const std::function<bool()>& done)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        PressAlt(letter);
        if (testkit::PumpUntil(done, 3000))
            return true;
    }
    return false;
}

// Every event of the click carries the position. Wine keeps the pointer
// where the X server last reported it, too: an X event the editor takes
// in late (the EnterNotify of its window mapped under the pointer, which
// a loaded editor handles after the test's move) puts the pointer back
// where the last test left it, and a press without a position lands
// there, on another item.
void ClickAt(HWND window, int x, int y)
{
    POINT point = {x, y};
    ClientToScreen(window, &point);
    // Absolute positions in 0..65535 over the primary screen.
    LONG ax = (point.x * 65536 + 32768) / GetSystemMetrics(SM_CXSCREEN);
    LONG ay = (point.y * 65536 + 32768) / GetSystemMetrics(SM_CYSCREEN);
    INPUT inputs[2];
    memset(inputs, 0, sizeof inputs);
    DWORD flags[2] = {MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP};
    for (int i = 0; i < 2; ++i) {
        inputs[i].type = INPUT_MOUSE;
        inputs[i].mi.dx = ax;
        inputs[i].mi.dy = ay;
        inputs[i].mi.dwFlags = flags[i] | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    }
    SendInput(2, inputs, sizeof(INPUT));
    // The click is over once the list box has let the mouse go again.
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    testkit::PumpUntil(
        [thread] {
            GUITHREADINFO info;
            memset(&info, 0, sizeof info);
            info.cbSize = sizeof info;
            return GetGUIThreadInfo(thread, &info) && info.hwndCapture == nullptr;
        },
        2000);
}

bool BringToFront(HWND form)
{
    SetForegroundWindow(form);
    return testkit::PumpUntil([form] { return GetForegroundWindow() == form; }, 5000);
}

RECT RectInParent(HWND control)
{
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), (POINT*)&rect, 2);
    return rect;
}

class MorvexWindow : public ::testing::Test {
protected:
    IniFiles files;
};

}  // namespace

TEST_F(MorvexWindow, FormAndControlsAreAsDesigned)
{
    ASSERT_TRUE(files.writeIni(std::string(Head) + "extension=php_zeta.dll\r\n;extension=php_alpha.dll\r\n;/PHPExt"));
    Editor editor;
    ASSERT_TRUE(editor.started());
    HWND form = editor.waitForm();
    ASSERT_TRUE(form) << "no window titled " << Title;
    EXPECT_EQ(FindWindowA(nullptr, Title), form);

    RECT client;
    GetClientRect(form, &client);
    EXPECT_EQ(client.right, 228) << "got " << client.right;
    EXPECT_EQ(client.bottom, 326) << "got " << client.bottom;
    LONG style = GetWindowLongA(form, GWL_STYLE), exStyle = GetWindowLongA(form, GWL_EXSTYLE);
    EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW) << std::hex << "got " << exStyle;
    EXPECT_TRUE(style & WS_SYSMENU) << std::hex << "got " << style;
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) << std::hex << "got " << style;
    RECT window;
    GetWindowRect(form, &window);
    int centreX = (window.left + window.right) / 2, centreY = (window.top + window.bottom) / 2;
    EXPECT_NEAR(centreX, GetSystemMetrics(SM_CXSCREEN) / 2, 1) << "got " << centreX;
    EXPECT_NEAR(centreY, GetSystemMetrics(SM_CYSCREEN) / 2, 1) << "got " << centreY;
    // Icons and font: Wine answers WM_GETICON and GetClassLongPtr for
    // another process's window with 0, so MorvexForm checks them in-process.

    struct Control {
        int id;
        const char* className;
        const char* text;
        RECT rect;
    } controls[] = {
        {ListId, "ListBox", "", {8, 64, 8 + 209, 64 + 225}},
        {QuitterId, "Button", "&Quitter", {8, 296, 8 + 75, 296 + 25}},
        {ValiderId, "Button", "&Valider", {144, 296, 144 + 75, 296 + 25}},
        {1003, "Static", "Gestionnaire d'extension du PHP.ini", {8, 8, 8 + 202, 8 + 13}},
        {1004, "Static", "Cocher les exentsions que vous", {16, 24, 16 + 193, 24 + 17}},
        {1005, "Static", "voulez utiliser.", {16, 40, 16 + 193, 40 + 17}},
    };
    HWND previous = nullptr;
    for (const Control& c : controls) {
        SCOPED_TRACE(c.text);
        HWND control = GetDlgItem(form, c.id);
        ASSERT_TRUE(control) << "control " << c.id;
        EXPECT_STRCASEEQ(ClassOf(control).c_str(), c.className);
        EXPECT_EQ(WindowText(control), c.text);
        RECT rect = RectInParent(control);
        EXPECT_EQ(rect.left, c.rect.left);
        EXPECT_EQ(rect.top, c.rect.top);
        EXPECT_EQ(rect.right, c.rect.right);
        EXPECT_EQ(rect.bottom, c.rect.bottom);
        // Creation order, the tab order: the list, "&Quitter", "&Valider".
        if (previous) {
            EXPECT_EQ(GetWindow(previous, GW_HWNDNEXT), control);
        }
        previous = control;
    }
    EXPECT_TRUE(GetWindowLongA(GetDlgItem(form, ListId), GWL_STYLE) & WS_TABSTOP);
    EXPECT_TRUE(GetWindowLongA(GetDlgItem(form, QuitterId), GWL_STYLE) & WS_TABSTOP);
    EXPECT_TRUE(GetWindowLongA(GetDlgItem(form, ValiderId), GWL_STYLE) & WS_TABSTOP);
    EXPECT_EQ(GetWindowLongA(GetDlgItem(form, ValiderId), GWL_STYLE) & 0xF, BS_PUSHBUTTON);

    HWND list = GetDlgItem(form, ListId);
    LONG listStyle = GetWindowLongA(list, GWL_STYLE);
    EXPECT_FALSE(listStyle & LBS_SORT);
    EXPECT_TRUE(listStyle & LBS_HASSTRINGS);
    EXPECT_EQ(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0), 13);
    // File order, not sorted; the marks as in the file.
    EXPECT_EQ(ListTexts(list), (std::vector<std::string>{"zeta.dll", "alpha.dll"}));
    EXPECT_TRUE(IsChecked(list, 0));
    EXPECT_FALSE(IsChecked(list, 1));
    EXPECT_EQ(files.readWork(), Head);

    // The close box ends the program as "&Quitter" does: no working file
    // is left behind.
    PostMessageA(form, WM_SYSCOMMAND, SC_CLOSE, 0);
    DWORD exitCode = 1;
    ASSERT_TRUE(editor.ended(&exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(testkit::FileExists(files.work));
}

TEST_F(MorvexWindow, ClickOnTheBoxAndAltVWritePhpIni)
{
    ASSERT_TRUE(files.writeIni(std::string(Head) + "extension=php_a.dll\r\n;extension=php_b.dll\r\n;/PHPExt\r\n"));
    Editor editor;
    HWND form = editor.waitForm();
    ASSERT_TRUE(form);
    HWND list = GetDlgItem(form, ListId);
    ASSERT_TRUE(BringToFront(form));

    // The box of the second item: 13 pixels per item.
    ClickAt(list, 6, 13 + 6);
    EXPECT_TRUE(testkit::PumpUntil([list] { return IsChecked(list, 1); }, 5000));
    EXPECT_TRUE(IsChecked(list, 0));
    // A click on the text selects without toggling.
    ClickAt(list, 60, 6);
    EXPECT_TRUE(testkit::PumpUntil([list] { return SendMessageA(list, LB_GETCURSEL, 0, 0) == 0; }, 5000));
    EXPECT_TRUE(IsChecked(list, 0));
    EXPECT_EQ(files.readIni(), std::string(Head) + "extension=php_a.dll\r\n;extension=php_b.dll\r\n;/PHPExt\r\n");

    const std::string expected = std::string(Head) + "extension=php_a.dll\r\nextension=php_b.dll\r\n;/PHPExt";
    // Watched without opening php.ini while the editor replaces it.
    EXPECT_TRUE(PressAltUntil('V', [&] { return files.iniSize() == expected.size(); })) << files.iniSize();
    EXPECT_EQ(files.readIni(), expected);
    // Reloaded from the new file; the window stays.
    EXPECT_TRUE(testkit::PumpUntil([&] { return testkit::FileExists(files.work); }, 5000));
    EXPECT_EQ(files.readWork(), Head);
    EXPECT_EQ(ListTexts(list), (std::vector<std::string>{"a.dll", "b.dll"}));
    EXPECT_TRUE(IsChecked(list, 1));
    EXPECT_TRUE(IsWindowVisible(form));
}

TEST_F(MorvexWindow, ApplyWritesWhatTheListHoldsAfterAnotherProgramChangedIt)
{
    ASSERT_TRUE(files.writeIni(std::string(Head) +
                               "extension=php_a.dll\r\n;extension=php_b.dll\r\nextension=php_c.dll\r\n;/PHPExt"));
    Editor editor;
    HWND form = editor.waitForm();
    ASSERT_TRUE(form);
    HWND list = GetDlgItem(form, ListId);
    // Items and marks changed through the list box's own messages.
    EXPECT_EQ(SendMessageA(list, LB_DELETESTRING, 1, 0), 2);
    EXPECT_NE(SendMessageA(list, LB_SETITEMDATA, 1, 0), LB_ERR);
    ASSERT_TRUE(BringToFront(form));
    const std::string expected = std::string(Head) + "extension=php_a.dll\r\n;extension=php_c.dll\r\n;/PHPExt";
    EXPECT_TRUE(PressAltUntil('V', [&] { return files.iniSize() == expected.size(); })) << files.iniSize();
    EXPECT_EQ(files.readIni(), expected);
    EXPECT_EQ(ListTexts(list), (std::vector<std::string>{"a.dll", "c.dll"}));
    EXPECT_TRUE(IsChecked(list, 0));
    EXPECT_FALSE(IsChecked(list, 1));
}

TEST_F(MorvexWindow, SpaceTogglesTheSelectedItemAndAltQQuits)
{
    ASSERT_TRUE(files.writeIni(std::string(Head) + "extension=php_a.dll\r\nextension=php_b.dll\r\n;/PHPExt"));
    Editor editor;
    HWND form = editor.waitForm();
    ASSERT_TRUE(form);
    HWND list = GetDlgItem(form, ListId);
    ASSERT_TRUE(BringToFront(form));
    ClickAt(list, 60, 13 + 6);
    ASSERT_TRUE(testkit::PumpUntil([list] { return SendMessageA(list, LB_GETCURSEL, 0, 0) == 1; }, 5000));
    SendKeys({{VK_SPACE, true}, {VK_SPACE, false}});
    EXPECT_TRUE(testkit::PumpUntil([list] { return !IsChecked(list, 1); }, 5000));
    EXPECT_TRUE(IsChecked(list, 0));
    const std::string expected = std::string(Head) + "extension=php_a.dll\r\n;extension=php_b.dll\r\n;/PHPExt";
    EXPECT_TRUE(PressAltUntil('V', [&] { return files.iniSize() == expected.size(); })) << files.iniSize();
    EXPECT_EQ(files.readIni(), expected);
    EXPECT_TRUE(testkit::PumpUntil([&] { return testkit::FileExists(files.work); }, 5000));

    // Alt+Q: "&Quitter" closes and removes the working file.
    ASSERT_TRUE(BringToFront(form));
    EXPECT_TRUE(PressAltUntil('Q', [&] { return WaitForSingleObject(editor.process, 0) == WAIT_OBJECT_0; }));
    DWORD exitCode = 1;
    ASSERT_TRUE(editor.ended(&exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(testkit::FileExists(files.work));
    EXPECT_EQ(files.readIni(), expected);
}

TEST_F(MorvexWindow, ClosingWithoutApplyDiscardsTheMarks)
{
    const std::string text = std::string(Head) + "extension=php_a.dll\r\n;/PHPExt";
    ASSERT_TRUE(files.writeIni(text));
    Editor editor;
    HWND form = editor.waitForm();
    ASSERT_TRUE(form);
    HWND list = GetDlgItem(form, ListId);
    ASSERT_TRUE(BringToFront(form));
    ClickAt(list, 6, 6);
    ASSERT_TRUE(testkit::PumpUntil([list] { return !IsChecked(list, 0); }, 5000));
    // "&Quitter" by its button.
    PostMessageA(GetDlgItem(form, QuitterId), BM_CLICK, 0, 0);
    DWORD exitCode = 1;
    ASSERT_TRUE(editor.ended(&exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(files.readIni(), text);
    EXPECT_FALSE(testkit::FileExists(files.work));
}

TEST_F(MorvexWindow, SecondInstanceEndsAtOnceAndShowsNothing)
{
    ASSERT_TRUE(files.writeIni(std::string(Head) + "extension=php_a.dll\r\n;/PHPExt"));
    Editor first;
    ASSERT_TRUE(first.waitForm());
    Editor second("C:\\elsewhere\\php.ini");
    ASSERT_TRUE(second.started());
    DWORD exitCode = 1;
    ASSERT_TRUE(second.ended(&exitCode, 5000));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(second.findWindow(nullptr, nullptr));
    EXPECT_TRUE(first.findWindow("TfrmMain", Title));
    EXPECT_EQ(WaitForSingleObject(first.process, 0), (DWORD)WAIT_TIMEOUT);
}

TEST_F(MorvexWindow, ArgumentsAreIgnored)
{
    ASSERT_TRUE(files.writeIni(std::string(Head) + "extension=php_windir.dll\r\n;/PHPExt"));
    std::string other = testkit::MakeTempDir("morvexarg");
    ASSERT_TRUE(testkit::WriteFileBytes(other + "php.ini", ";PHPExt\r\nextension=php_other.dll\r\n;/PHPExt"));
    {
        Editor editor("\"" + other + "php.ini\"");
        HWND form = editor.waitForm();
        ASSERT_TRUE(form);
        EXPECT_EQ(ListTexts(GetDlgItem(form, ListId)), std::vector<std::string>{"windir.dll"});
    }
    testkit::RemoveTree(other);
}

TEST_F(MorvexWindow, MissingIniIsReportedBeforeTheWindowAndApplyFails)
{
    Editor editor;
    HWND box = editor.waitMessageBox();
    ASSERT_TRUE(box) << "no message box";
    EXPECT_EQ(WindowText(box), ProblemCaption);
    EXPECT_EQ(MessageText(box), IniProblem);
    EXPECT_FALSE(editor.findWindow("TfrmMain", Title)) << "the window is shown before the message";
    ASSERT_TRUE(DismissMessageBox(box));

    HWND form = editor.waitForm();
    ASSERT_TRUE(form);
    HWND list = GetDlgItem(form, ListId);
    EXPECT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 0);

    // Apply on the empty list: the error box of the application, and the
    // program goes on.
    PostMessageA(GetDlgItem(form, ValiderId), BM_CLICK, 0, 0);
    box = editor.waitMessageBox();
    ASSERT_TRUE(box) << "no error box";
    EXPECT_EQ(WindowText(box), Title);
    EXPECT_EQ(MessageText(box), "Indice de liste hors limites (0).");
    // The error icon: a static icon control in the box (id 20 on Windows,
    // 1088 on Wine).
    HWND icon = GetDlgItem(box, 20) ? GetDlgItem(box, 20) : GetDlgItem(box, 1088);
    ASSERT_TRUE(icon);
    EXPECT_TRUE(IsWindowVisible(icon));
    EXPECT_TRUE(SendMessageA(icon, STM_GETICON, 0, 0) != 0);
    ASSERT_TRUE(DismissMessageBox(box));
    EXPECT_TRUE(IsWindowVisible(form));
    EXPECT_FALSE(testkit::FileExists(files.ini));
    EXPECT_FALSE(testkit::FileExists(files.work));
    testkit::PumpFor(300);
    EXPECT_FALSE(editor.findWindow("#32770", nullptr)) << "an unexpected further box";
}

TEST_F(MorvexWindow, FormatErrorIsShownAndApplyRefuses)
{
    const std::string text = std::string(Head) + "extension=php_a.dll\r\n; a comment\r\n;/PHPExt";
    ASSERT_TRUE(files.writeIni(text));
    Editor editor;
    HWND box = editor.waitMessageBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(WindowText(box), ProblemCaption);
    EXPECT_EQ(MessageText(box), FormatProblem);
    ASSERT_TRUE(DismissMessageBox(box));
    HWND form = editor.waitForm();
    ASSERT_TRUE(form);
    HWND list = GetDlgItem(form, ListId);
    EXPECT_EQ(ListTexts(list), std::vector<std::string>{FormatProblem});
    EXPECT_FALSE(IsChecked(list, 0));

    // Apply: the format message, then the load again with its own message.
    ASSERT_TRUE(BringToFront(form));
    EXPECT_TRUE(PressAltUntil('V', [&] { return editor.findWindow("#32770", nullptr) != nullptr; }));
    for (int i = 0; i < 2; ++i) {
        box = editor.waitMessageBox();
        ASSERT_TRUE(box) << "message " << i;
        EXPECT_EQ(MessageText(box), FormatProblem);
        ASSERT_TRUE(DismissMessageBox(box));
    }
    EXPECT_EQ(files.readIni(), text);
}

TEST_F(MorvexWindow, ApplyThatCannotWriteKeepsPhpIni)
{
    const std::string text = std::string(Head) + "extension=php_a.dll\r\n;/PHPExt";
    struct Obstacle {
        const char* what;
        bool readOnlyIni;
        bool workIsFolder;
    } obstacles[] = {{"read-only php.ini", true, false}, {"folder named tmpphp.ini", false, true}};
    for (const Obstacle& obstacle : obstacles) {
        SCOPED_TRACE(obstacle.what);
        ASSERT_TRUE(files.writeIni(text));
        if (obstacle.workIsFolder) {
            ASSERT_TRUE(CreateDirectoryA(files.work.c_str(), nullptr));
        }
        if (obstacle.readOnlyIni) {
            ASSERT_TRUE(SetFileAttributesA(files.ini.c_str(), FILE_ATTRIBUTE_READONLY));
        }
        {
            Editor editor;
            HWND form = editor.waitForm();
            ASSERT_TRUE(form);
            HWND list = GetDlgItem(form, ListId);
            ASSERT_TRUE(BringToFront(form));
            ClickAt(list, 6, 6);
            ASSERT_TRUE(testkit::PumpUntil([list] { return !IsChecked(list, 0); }, 5000));
            EXPECT_TRUE(PressAltUntil('V', [&] { return editor.findWindow("#32770", nullptr) != nullptr; }));
            HWND box = editor.waitMessageBox();
            ASSERT_TRUE(box);
            EXPECT_EQ(WindowText(box), ProblemCaption);
            EXPECT_EQ(MessageText(box), IniProblem);
            ASSERT_TRUE(DismissMessageBox(box));
            EXPECT_FALSE(IsChecked(list, 0)) << "the marks stay for another try";
            EXPECT_EQ(files.readIni(), text);
            PostMessageA(form, WM_CLOSE, 0, 0);
            DWORD exitCode = 1;
            EXPECT_TRUE(editor.ended(&exitCode));
            EXPECT_EQ(exitCode, 0u);
        }
        SetFileAttributesA(files.ini.c_str(), FILE_ATTRIBUTE_NORMAL);
        RemoveDirectoryA(files.work.c_str());
        DeleteFileA(files.work.c_str());
    }
}

TEST_F(MorvexWindow, EnterAndEscapeDoNothing)
{
    const std::string text = std::string(Head) + "extension=php_a.dll\r\n;/PHPExt";
    ASSERT_TRUE(files.writeIni(text));
    Editor editor;
    HWND form = editor.waitForm();
    ASSERT_TRUE(form);
    HWND list = GetDlgItem(form, ListId);
    ASSERT_TRUE(BringToFront(form));
    ClickAt(list, 6, 6);
    ASSERT_TRUE(testkit::PumpUntil([list] { return !IsChecked(list, 0); }, 5000));
    // Neither button is the default or the cancel button.
    SendKeys({{VK_RETURN, true}, {VK_RETURN, false}, {VK_ESCAPE, true}, {VK_ESCAPE, false}});
    // Space after them proves the keys have been handled: the mark comes back.
    SendKeys({{VK_SPACE, true}, {VK_SPACE, false}});
    EXPECT_TRUE(testkit::PumpUntil([list] { return IsChecked(list, 0); }, 5000));
    EXPECT_TRUE(IsWindowVisible(form));
    EXPECT_EQ(files.readIni(), text);
    EXPECT_FALSE(editor.findWindow("#32770", nullptr));
}

TEST_F(MorvexWindow, LargeBlocksLoadQuicklyAndTooLargeOnesAreRefused)
{
    std::string text = Head;
    for (int i = 0; i < 32767; ++i)
        text += (i % 2 ? ";extension=php_" : "extension=php_") + std::to_string(i) + ".dll\r\n";
    {
        ASSERT_TRUE(files.writeIni(text + ";/PHPExt"));
        DWORD start = GetTickCount();
        Editor editor;
        HWND form = editor.waitForm();
        ASSERT_TRUE(form);
        DWORD elapsed = GetTickCount() - start;
        EXPECT_LT(elapsed, 5000u) << "got " << elapsed << " ms";
        HWND list = GetDlgItem(form, ListId);
        EXPECT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 32767);
        EXPECT_TRUE(IsChecked(list, 32766));
        EXPECT_FALSE(IsChecked(list, 32765));
    }
    {
        // One entry more than the list's 16-bit index reaches.
        const std::string tooLarge = text + "extension=php_extra.dll\r\n;/PHPExt";
        ASSERT_TRUE(files.writeIni(tooLarge));
        Editor editor;
        HWND box = editor.waitMessageBox();
        ASSERT_TRUE(box);
        EXPECT_EQ(MessageText(box), FormatProblem);
        ASSERT_TRUE(DismissMessageBox(box));
        HWND form = editor.waitForm();
        ASSERT_TRUE(form);
        EXPECT_EQ(ListTexts(GetDlgItem(form, ListId)), std::vector<std::string>{FormatProblem});
        EXPECT_EQ(files.readIni(), tooLarge);
    }
}
