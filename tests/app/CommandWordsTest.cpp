// Command words: what a command line posts, read back from a message-only
// window's queue.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ManagerWindow.h"

namespace {

std::vector<WPARAM> Posted(const std::string& line)
{
    HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    std::vector<char> text(line.begin(), line.end());
    text.push_back('\0');
    DispatchCommandWords(text.data(), window);
    std::vector<WPARAM> ids;
    MSG msg;
    while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE))
        if (msg.message == WM_COMMAND) {
            EXPECT_EQ(0, msg.lParam);
            ids.push_back(msg.wParam);
        }
    DestroyWindow(window);
    return ids;
}

}  // namespace

TEST(CommandWords, PostsWholeWordsInOrder)
{
    const struct {
        const char* line;
        std::vector<WPARAM> ids;
    } cases[] = {
        {"/start /browse", {32771, 32785}},
        {"/START", {32771}},
        {"/restart", {32794}},
        {"/start  /stop", {32771, 32772}},
        {"/start/stop", {32772}},
        {"start", {}},
        {"", {}},
        {"/unknown", {}},
        {"/quit", {32776}},
        {"/Stop /ReStart /BROWSE /quit", {32772, 32794, 32785, 32776}},
        // One character step: the word after any leading character counts.
        {"xstart /y", {32771}},
        {"x/start", {32771}},
        {"/st-art /re'start", {}},
        {"////", {}},
        {"/", {}},
        {"/start\t/stop", {32772}},  // a tab is no blank: "start\t/stop" is no word
        {"/stop ", {32772}},
        {" /stop", {32772}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.ids, Posted(c.line)) << "line \"" << c.line << "\"";
}

TEST(CommandWords, LongLinesAndNoWindow)
{
    std::string line;
    for (int i = 0; i < 5000; ++i)
        line += "/start ";
    EXPECT_EQ(5000u, Posted(line).size());
    // The longest command line Windows passes, all slashes but the end.
    line = std::string(32000, '/') + "start" + std::string(700, 'x');
    EXPECT_EQ(std::vector<WPARAM>(), Posted(line));
    line = std::string(32000, '/') + "start";
    EXPECT_EQ(std::vector<WPARAM>{32771}, Posted(line));

    char text[] = "/start";
    DispatchCommandWords(text, nullptr);
    EXPECT_STREQ("/start", text) << "nothing is touched without a window";
}
