#include "CheckListBox.h"

#include <cstring>

CheckListBox::CheckListBox() : hwnd(nullptr), baseProc(nullptr) {}

bool CheckListBox::create(HWND parent, int id, int left, int top, int width, int height, HFONT font)
{
    hwnd = CreateWindowExA(WS_EX_CLIENTEDGE, "LISTBOX", "",
                           WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_OWNERDRAWFIXED |
                               LBS_HASSTRINGS | LBS_NOINTEGRALHEIGHT,
                           left, top, width, height, parent, (HMENU)(INT_PTR)id,
                           (HINSTANCE)GetWindowLongPtrA(parent, GWLP_HINSTANCE), nullptr);
    if (!hwnd)
        return false;
    SendMessageA(hwnd, WM_SETFONT, (WPARAM)font, FALSE);
    SendMessageA(hwnd, LB_SETITEMHEIGHT, 0, ItemHeight);
    // The list box finds this object in its user data.
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, (LONG_PTR)this);
    baseProc = (WNDPROC)SetWindowLongPtrA(hwnd, GWLP_WNDPROC, (LONG_PTR)listProc);
    return true;
}

void CheckListBox::clear()
{
    SendMessageA(hwnd, LB_RESETCONTENT, 0, 0);
}

int CheckListBox::add(const char* text)
{
    LRESULT index = SendMessageA(hwnd, LB_ADDSTRING, 0, (LPARAM)text);
    if (index < 0)
        return -1;
    SendMessageA(hwnd, LB_SETITEMDATA, (WPARAM)index, 0);
    return (int)index;
}

void CheckListBox::setChecked(int index, bool checked)
{
    SendMessageA(hwnd, LB_SETITEMDATA, (WPARAM)index, checked ? 1 : 0);
}

bool CheckListBox::checked(int index)
{
    LRESULT data = SendMessageA(hwnd, LB_GETITEMDATA, (WPARAM)index, 0);
    return data != LB_ERR && data != 0;
}

bool CheckListBox::text(int index, char* buffer, int size)
{
    buffer[0] = '\0';
    LRESULT length = SendMessageA(hwnd, LB_GETTEXTLEN, (WPARAM)index, 0);
    if (index < 0 || length == LB_ERR)
        return false;
    if (length < size) {
        SendMessageA(hwnd, LB_GETTEXT, (WPARAM)index, (LPARAM)buffer);
        return true;
    }
    char* whole = new char[length + 1];
    SendMessageA(hwnd, LB_GETTEXT, (WPARAM)index, (LPARAM)whole);
    memcpy(buffer, whole, size - 1);
    buffer[size - 1] = '\0';
    delete[] whole;
    return true;
}

int CheckListBox::count()
{
    LRESULT n = SendMessageA(hwnd, LB_GETCOUNT, 0, 0);
    return n < 0 ? 0 : (int)n;
}

void CheckListBox::setRedraw(bool on)
{
    SendMessageA(hwnd, WM_SETREDRAW, on, 0);
    if (on)
        InvalidateRect(hwnd, nullptr, TRUE);
}

void CheckListBox::measureItem(MEASUREITEMSTRUCT* measure)
{
    measure->itemHeight = ItemHeight;
}

void CheckListBox::drawItem(const DRAWITEMSTRUCT* draw)
{
    HDC dc = draw->hDC;
    RECT item = draw->rcItem;
    if ((int)draw->itemID < 0) {
        if (draw->itemState & ODS_FOCUS)
            DrawFocusRect(dc, &item);
        return;
    }

    FillRect(dc, &item, GetSysColorBrush(COLOR_WINDOW));
    // The box: a sunken square, white inside, with a black tick when checked.
    RECT box = {item.left + 2, item.top + 1, item.left + 2 + ItemHeight - 2, item.top + ItemHeight - 1};
    DrawEdge(dc, &box, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
    FillRect(dc, &box, GetSysColorBrush(COLOR_WINDOW));
    if (draw->itemData == 1) {
        HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_WINDOWTEXT));
        HGDIOBJ oldPen = SelectObject(dc, pen);
        for (int row = 0; row < 3; ++row) {
            // Down from the left to the bottom, then up to the right.
            POINT tick[3] = {{box.left + 1, box.top + 2 + row},
                             {box.left + 3, box.top + 4 + row},
                             {box.left + 7, box.top + row}};
            Polyline(dc, tick, 3);
        }
        SelectObject(dc, oldPen);
        DeleteObject(pen);
    }

    RECT label = item;
    label.left += CheckWidth + 1;
    bool selected = (draw->itemState & ODS_SELECTED) != 0;
    FillRect(dc, &label, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    char text[256] = "";
    LRESULT length = SendMessageA(draw->hwndItem, LB_GETTEXTLEN, draw->itemID, 0);
    if (length != LB_ERR && length < (LRESULT)sizeof text)
        SendMessageA(draw->hwndItem, LB_GETTEXT, draw->itemID, (LPARAM)text);
    int oldMode = SetBkMode(dc, TRANSPARENT);
    COLORREF oldColor = SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    RECT textRect = label;
    textRect.left += 2;
    DrawTextA(dc, text, -1, &textRect, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    SetTextColor(dc, oldColor);
    SetBkMode(dc, oldMode);
    if (draw->itemState & ODS_FOCUS)
        DrawFocusRect(dc, &label);
}

void CheckListBox::toggle(int index)
{
    LRESULT data = SendMessageA(hwnd, LB_GETITEMDATA, (WPARAM)index, 0);
    if (data == LB_ERR)
        return;
    SendMessageA(hwnd, LB_SETITEMDATA, (WPARAM)index, data ? 0 : 1);
    RECT item;
    if (SendMessageA(hwnd, LB_GETITEMRECT, (WPARAM)index, (LPARAM)&item) != LB_ERR)
        InvalidateRect(hwnd, &item, FALSE);
}

LRESULT CALLBACK CheckListBox::listProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CheckListBox* self = (CheckListBox*)GetWindowLongPtrA(hwnd, GWLP_USERDATA);
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        // The list box selects the item first; a click on its box also
        // toggles the mark.
        LRESULT result = CallWindowProcA(self->baseProc, hwnd, message, wParam, lParam);
        int x = (short)LOWORD(lParam), y = (short)HIWORD(lParam);
        LRESULT hit = SendMessageA(hwnd, LB_ITEMFROMPOINT, 0, MAKELPARAM(x, y));
        if (x >= 0 && x < CheckWidth && HIWORD(hit) == 0)
            self->toggle(LOWORD(hit));
        return result;
    }
    case WM_CHAR:
        if (wParam == ' ') {
            LRESULT selected = SendMessageA(hwnd, LB_GETCURSEL, 0, 0);
            if (selected != LB_ERR)
                self->toggle((int)selected);
            return 0;
        }
        break;
    }
    return CallWindowProcA(self->baseProc, hwnd, message, wParam, lParam);
}
