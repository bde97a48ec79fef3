// A list box whose items carry a check mark: an owner-drawn fixed list box
// that keeps its strings (LB_GETTEXT and LB_GETCOUNT work from any
// process) and holds each item's mark in its item data (1 checked,
// 0 unchecked). A click on the box or the Space key toggles the mark.
#pragma once

#include <windows.h>

class CheckListBox {
public:
    enum { ItemHeight = 13, CheckWidth = 15 };

    CheckListBox();

    bool create(HWND parent, int id, int left, int top, int width, int height, HFONT font);
    HWND handle() const { return hwnd; }

    void clear();
    int add(const char* text);
    void setChecked(int index, bool checked);
    bool checked(int index);
    bool text(int index, char* buffer, int size);
    int count();
    void setRedraw(bool on);

    // Forwarded by the parent window.
    static void measureItem(MEASUREITEMSTRUCT* measure);
    void drawItem(const DRAWITEMSTRUCT* draw);

private:
    static LRESULT CALLBACK listProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void toggle(int index);

    HWND hwnd;
    WNDPROC baseProc;
};
