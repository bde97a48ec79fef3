// The base of the manager's dialogs: one object per dialog box, reached by
// one shared dialog procedure through the window's user-data slot; and the
// module the dialogs and the other resources come from.
#pragma once

#include <windows.h>

// The module whose dialog templates, menus, icons, bitmaps and texts the
// manager uses: stored once at start-up; until then the process's own
// executable (AppInstance.cpp).
HINSTANCE AppInstance();
void SetAppInstance(HINSTANCE instance);

class DialogWindow {
public:
    DialogWindow();
    virtual ~DialogWindow();

    // Virtual operations, in this slot order.
    // The value handed back to the dialog manager; 0 lets it do its default
    // handling.
    virtual INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Runs once the controls exist; nonzero lets the dialog manager set the
    // default focus.
    virtual BOOL onInitDialog();

    // Modal: returns when the dialog has ended. Modeless: returns once the
    // dialog exists.
    void showDialog(UINT templateId, HWND parent, bool modal);
    // Ends the dialog and detaches the object from it: from here on the
    // dialog's messages get the default treatment.
    void closeDialog();

    HWND handle() const { return handle_; }
    // The system's error code of a modeless dialog that could not be
    // created (0 when it was).
    DWORD createError() const { return createError_; }

    // Attaches a tooltip showing text to one control; the tooltip keeps its
    // own copy of the text.
    void addTooltip(HWND control, const char* text);

protected:
    HWND handle_;
    bool modeless_;
    DWORD createError_;

private:
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    DialogWindow(const DialogWindow&) = delete;
    DialogWindow& operator=(const DialogWindow&) = delete;
};
