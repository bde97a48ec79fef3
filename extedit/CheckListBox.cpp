#include "CheckListBox.h"

#include <string.h>

namespace {

void* Grow(void* block, DWORD size)
{
    HANDLE heap = GetProcessHeap();
    return block ? HeapReAlloc(heap, 0, block, size) : HeapAlloc(heap, 0, size);
}

void Release(void* block)
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

}  // namespace

CheckListBox::CheckListBox()
    : itemHeight_(ItemHeight), checkWidth_(CheckWidth), hwnd_(nullptr), baseProc_(nullptr), updating_(false), redrawHeld_(false), items_(0), boxed_(0), copyValid_(false), texts_(nullptr),
      textsSize_(0), textsUsed_(0), start_(nullptr), mark_(nullptr), boxMark_(nullptr)
{
}

CheckListBox::~CheckListBox()
{
    Release(texts_);
    Release(start_);
}

bool CheckListBox::create(HWND parent, int id, int left, int top, int width, int height, HFONT font, int dpi)
{
    itemHeight_ = MulDiv(ItemHeight, dpi, 96);
    checkWidth_ = MulDiv(CheckWidth, dpi, 96);
    hwnd_ = CreateWindowExA(WS_EX_CLIENTEDGE, "LISTBOX", "",
                           WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_OWNERDRAWFIXED |
                               LBS_HASSTRINGS | LBS_NOINTEGRALHEIGHT,
                           left, top, width, height, parent, (HMENU)(INT_PTR)id,
                           (HINSTANCE)GetWindowLongPtrA(parent, GWLP_HINSTANCE), nullptr);
    if (!hwnd_)
        return false;
    SendMessageA(hwnd_, WM_SETFONT, (WPARAM)font, FALSE);
    SendMessageA(hwnd_, LB_SETITEMHEIGHT, 0, itemHeight_);
    // The list box finds this object in its user data.
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, (LONG_PTR)this);
    baseProc_ = (WNDPROC)SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, (LONG_PTR)listProc);
    // One block: the offsets, then the two rows of marks.
    start_ = (DWORD*)Grow(nullptr, (MaxItems + 1) * sizeof(DWORD) + 2 * MaxItems);
    if (start_) {
        start_[0] = 0;
        mark_ = (BYTE*)(start_ + MaxItems + 1);
        boxMark_ = mark_ + MaxItems;
    }
    copyValid_ = start_ != nullptr;
    return true;
}

LRESULT CheckListBox::call(UINT message, WPARAM wParam, LPARAM lParam)
{
    // Redraw goes off at the first change of the items in a reload, not
    // before: turning it on again redraws the whole box at once (some
    // milliseconds), which a reload that keeps every item need not pay.
    if (updating_ && !redrawHeld_ &&
        (message == LB_ADDSTRING || message == LB_DELETESTRING || message == LB_RESETCONTENT)) {
        redrawHeld_ = true;
        CallWindowProcA(baseProc_, hwnd_, WM_SETREDRAW, FALSE, 0);
    }
    return CallWindowProcA(baseProc_, hwnd_, message, wParam, lParam);
}

void CheckListBox::beginUpdate()
{
    updating_ = true;
    redrawHeld_ = false;
}

void CheckListBox::settle()
{
    if (boxed_ > items_)
        removeFrom(items_);
    if (!copyValid_)
        return;
    for (int i = 0; i < items_; ++i)
        if (mark_[i] != boxMark_[i])
            setBoxMark(i, mark_[i] != 0);
}

void CheckListBox::setBoxMark(int index, bool checked)
{
    call(LB_SETITEMDATA, (WPARAM)index, checked ? 1 : 0);
    boxMark_[index] = checked ? 1 : 0;
    // With redraw on, only the item whose mark changed is drawn again.
    RECT item;
    if (!redrawHeld_ && call(LB_GETITEMRECT, (WPARAM)index, (LPARAM)&item) != LB_ERR)
        InvalidateRect(hwnd_, &item, FALSE);
}

void CheckListBox::endUpdate()
{
    settle();
    updating_ = false;
    if (redrawHeld_) {
        call(WM_SETREDRAW, TRUE, 0);
        InvalidateRect(hwnd_, nullptr, TRUE);
    }
    redrawHeld_ = false;
}

void CheckListBox::clear()
{
    if (updating_ && copyValid_) {
        // The items stay in the box until the adds take them over or
        // settle removes them; nothing is selected, the top is shown.
        items_ = 0;
        call(LB_SETCURSEL, (WPARAM)-1, 0);
        call(LB_SETTOPINDEX, 0, 0);
        return;
    }
    call(LB_RESETCONTENT, 0, 0);
    items_ = boxed_ = 0;
    textsUsed_ = 0;
    copyValid_ = start_ != nullptr;
    if (copyValid_)
        start_[0] = 0;
}

int CheckListBox::add(const char* text)
{
    DWORD length = (DWORD)strlen(text);
    if (items_ < boxed_) {
        // A kept item with the same text becomes this one, unchecked.
        DWORD keptLength;
        const char* keptText = copiedText(items_, &keptLength);
        if (keptLength == length && memcmp(keptText, text, length) == 0) {
            mark_[items_] = 0;
            return items_++;
        }
        removeFrom(items_);
    }
    if (items_ >= MaxItems)
        return -1;
    // A new item's data is 0: unchecked.
    LRESULT index = call(LB_ADDSTRING, 0, (LPARAM)text);
    if (index < 0)
        return -1;
    if (copyValid_) {
        if (copyText(items_, text, length))
            mark_[items_] = boxMark_[items_] = 0;
        else
            copyValid_ = false;
    }
    boxed_ = ++items_;
    return (int)index;
}

void CheckListBox::removeFrom(int first)
{
    // Deleting items one by one costs about twice as much per item as
    // emptying the box: when fewer items stay than go, the box is emptied
    // and the first ones are put back from the copy (their marks follow at
    // settle).
    if (first <= boxed_ - first) {
        call(LB_RESETCONTENT, 0, 0);
        for (int i = 0; i < first; ++i) {
            DWORD length;
            call(LB_ADDSTRING, 0, (LPARAM)copiedText(i, &length));
            boxMark_[i] = 0;
        }
    } else {
        for (int i = boxed_ - 1; i >= first; --i)
            call(LB_DELETESTRING, (WPARAM)i, 0);
    }
    boxed_ = first;
    if (copyValid_)
        textsUsed_ = start_[first];
}

bool CheckListBox::copyText(int index, const char* text, DWORD length)
{
    DWORD need = textsUsed_ + length + 1;
    if (need > textsSize_) {
        DWORD size = textsSize_ ? textsSize_ : 65536;
        while (size < need)
            size *= 2;
        char* grown = (char*)Grow(texts_, size);
        if (!grown)
            return false;
        texts_ = grown;
        textsSize_ = size;
    }
    memcpy(texts_ + textsUsed_, text, length + 1);
    start_[index] = textsUsed_;
    textsUsed_ = need;
    start_[index + 1] = textsUsed_;
    return true;
}

const char* CheckListBox::copiedText(int index, DWORD* length) const
{
    *length = start_[index + 1] - start_[index] - 1;
    return texts_ + start_[index];
}

void CheckListBox::dropCopy()
{
    copyValid_ = false;
    LRESULT n = call(LB_GETCOUNT, 0, 0);
    items_ = boxed_ = n < 0 ? 0 : (int)n;
}

void CheckListBox::setChecked(int index, bool checked)
{
    if (index < 0 || index >= items_)
        return;
    if (!copyValid_) {
        call(LB_SETITEMDATA, (WPARAM)index, checked ? 1 : 0);
        return;
    }
    // During an update the box gets its marks when the update ends.
    mark_[index] = checked ? 1 : 0;
    if (!updating_ && mark_[index] != boxMark_[index])
        setBoxMark(index, checked);
}

bool CheckListBox::checked(int index)
{
    if (index < 0 || index >= items_)
        return false;
    if (copyValid_)
        return mark_[index] != 0;
    LRESULT data = call(LB_GETITEMDATA, (WPARAM)index, 0);
    return data != LB_ERR && data != 0;
}

bool CheckListBox::text(int index, char* buffer, int size)
{
    buffer[0] = '\0';
    if (index < 0 || index >= items_)
        return false;
    if (copyValid_) {
        DWORD length;
        const char* copied = copiedText(index, &length);
        if (length > (DWORD)size - 1)
            length = size - 1;
        memcpy(buffer, copied, length);
        buffer[length] = '\0';
        return true;
    }
    LRESULT length = call(LB_GETTEXTLEN, (WPARAM)index, 0);
    if (length == LB_ERR)
        return false;
    if (length < size) {
        call(LB_GETTEXT, (WPARAM)index, (LPARAM)buffer);
        return true;
    }
    char* whole = (char*)Grow(nullptr, (DWORD)length + 1);
    if (!whole)
        return false;
    call(LB_GETTEXT, (WPARAM)index, (LPARAM)whole);
    memcpy(buffer, whole, size - 1);
    buffer[size - 1] = '\0';
    Release(whole);
    return true;
}

int CheckListBox::count()
{
    return items_;
}

void CheckListBox::measureItem(MEASUREITEMSTRUCT* measure) const
{
    measure->itemHeight = itemHeight_;
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
    RECT box = {item.left + 2, item.top + 1, item.left + 2 + itemHeight_ - 2, item.top + itemHeight_ - 1};
    DrawEdge(dc, &box, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
    FillRect(dc, &box, GetSysColorBrush(COLOR_WINDOW));
    if (draw->itemData == 1) {
        HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_WINDOWTEXT));
        HGDIOBJ oldPen = SelectObject(dc, pen);
        // The tick as drawn in a 9-pixel box, scaled to this one.
        int side = box.right - box.left;
        for (int row = 0; row < 3 * side / 9; ++row) {
            // Down from the left to the bottom, then up to the right.
            POINT tick[3] = {{box.left + side / 9, box.top + 2 * side / 9 + row},
                             {box.left + 3 * side / 9, box.top + 4 * side / 9 + row},
                             {box.left + 7 * side / 9, box.top + row}};
            Polyline(dc, tick, 3);
        }
        SelectObject(dc, oldPen);
        DeleteObject(pen);
    }

    RECT label = item;
    label.left += checkWidth_ + 1;
    bool selected = (draw->itemState & ODS_SELECTED) != 0;
    FillRect(dc, &label, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    char text[256] = "";
    if (copyValid_ && (int)draw->itemID < boxed_) {
        DWORD length;
        const char* copied = copiedText((int)draw->itemID, &length);
        if (length < sizeof text)
            memcpy(text, copied, length + 1);
    } else {
        LRESULT length = call(LB_GETTEXTLEN, draw->itemID, 0);
        if (length != LB_ERR && length < (LRESULT)sizeof text)
            call(LB_GETTEXT, draw->itemID, (LPARAM)text);
    }
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
    LRESULT data = call(LB_GETITEMDATA, (WPARAM)index, 0);
    if (data == LB_ERR)
        return;
    call(LB_SETITEMDATA, (WPARAM)index, data ? 0 : 1);
    if (copyValid_ && index < items_)
        mark_[index] = boxMark_[index] = data ? 0 : 1;
    RECT item;
    if (call(LB_GETITEMRECT, (WPARAM)index, (LPARAM)&item) != LB_ERR)
        InvalidateRect(hwnd_, &item, FALSE);
}

LRESULT CALLBACK CheckListBox::listProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CheckListBox* self = (CheckListBox*)GetWindowLongPtrA(hwnd, GWLP_USERDATA);
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        // The list box selects the item first; a click on its box also
        // toggles the mark.
        LRESULT result = self->call(message, wParam, lParam);
        int x = (short)LOWORD(lParam), y = (short)HIWORD(lParam);
        LRESULT hit = self->call(LB_ITEMFROMPOINT, 0, MAKELPARAM(x, y));
        if (x >= 0 && x < self->checkWidth_ && HIWORD(hit) == 0)
            self->toggle(LOWORD(hit));
        return result;
    }
    case WM_CHAR:
        if (wParam == ' ') {
            LRESULT selected = self->call(LB_GETCURSEL, 0, 0);
            if (selected != LB_ERR)
                self->toggle((int)selected);
            return 0;
        }
        break;
    case LB_SETITEMDATA: {
        // A mark set by someone else.
        LRESULT result = self->call(message, wParam, lParam);
        int index = (int)wParam;
        if (self->copyValid_ && index >= 0 && index < self->items_ && result != LB_ERR)
            self->mark_[index] = self->boxMark_[index] = lParam ? 1 : 0;
        else if (result != LB_ERR)
            self->dropCopy();
        return result;
    }
    case LB_ADDSTRING:
    case LB_INSERTSTRING:
    case LB_DELETESTRING:
    case LB_RESETCONTENT:
    case LB_DIR:
    case LB_ADDFILE:
    case LB_SETCOUNT: {
        // Items changed by someone else: the copy no longer tells what the
        // box holds.
        LRESULT result = self->call(message, wParam, lParam);
        self->dropCopy();
        return result;
    }
    }
    return self->call(message, wParam, lParam);
}
