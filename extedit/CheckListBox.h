// A list box whose items carry a check mark: an owner-drawn fixed list box
// that keeps its strings (LB_GETTEXT and LB_GETCOUNT work from any
// process) and holds each item's mark in its item data (1 checked,
// 0 unchecked). A click on the box or the Space key toggles the mark.
//
// The object keeps a copy of the texts and marks it put into the box, in
// item order, so that the editor never has to ask the box for them again,
// and a reload between beginUpdate and endUpdate takes over the items
// whose text has not changed instead of deleting and adding them again;
// their marks reach the box when the reload ends (each message to the box,
// and each item deleted from an owner-drawn box, costs a call into the
// system). Every message that changes the box's items or marks passes the
// box's window procedure, which this object replaces: a change made from
// outside makes it drop the copy and read the box again.
#pragma once

#include <windows.h>

class CheckListBox {
public:
    // Item height and the width of the box's column at 96 dpi.
    enum { ItemHeight = 13, CheckWidth = 15, MaxItems = 32767 };

    CheckListBox();
    ~CheckListBox();

    // dpi: the screen's, to which the item height and the box are scaled.
    bool create(HWND parent, int id, int left, int top, int width, int height, HFONT font, int dpi = 96);
    HWND handle() const { return hwnd_; }

    // A reload: a clear keeps the items in the box, and the adds that
    // follow take them over while their texts are the same; redraw is off
    // from the first item added or removed.
    void beginUpdate();
    // Removes the items a reload did not take over and gives the box the
    // marks of the others (also before a message box shows the list);
    // endUpdate also turns redraw back on.
    void settle();
    void endUpdate();

    void clear();
    int add(const char* text);
    void setChecked(int index, bool checked);
    bool checked(int index);
    bool text(int index, char* buffer, int size);
    int count();

    // Forwarded by the parent window.
    void measureItem(MEASUREITEMSTRUCT* measure) const;
    void drawItem(const DRAWITEMSTRUCT* draw);

private:
    static LRESULT CALLBACK listProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // The list box itself, past this object's window procedure.
    LRESULT call(UINT message, WPARAM wParam, LPARAM lParam);
    void toggle(int index);
    void removeFrom(int first);
    bool copyText(int index, const char* text, DWORD length);
    void setBoxMark(int index, bool checked);
    const char* copiedText(int index, DWORD* length) const;
    void dropCopy();

    int itemHeight_;  // ItemHeight and CheckWidth at the screen's dpi
    int checkWidth_;
    HWND hwnd_;
    WNDPROC baseProc_;
    bool updating_;
    bool redrawHeld_;  // the reload has turned the box's redraw off

    int items_;        // the items of the list: 0 to items - 1
    int boxed_;        // the items in the box: after a clear during an update,
                      // items to boxed - 1 are kept ones not yet taken over

    // The copy: the texts of the items in the box, in order, each followed
    // by a NUL; start[i] is item i's offset, start[boxed] the end. mark[i]
    // is item i's mark as the list has it, boxMark[i] as the box has it.
    bool copyValid_;
    char* texts_;
    DWORD textsSize_, textsUsed_;
    DWORD* start_;     // MaxItems + 1 offsets
    BYTE* mark_;       // MaxItems
    BYTE* boxMark_;    // MaxItems
};
