// The editor's only form: a tool window with the check list of the PHP
// extensions found in php.ini and the two buttons "&Quitter" and
// "&Valider". The window procedure finds the object in the window's user
// data.
#pragma once

#include <windows.h>

#include "CheckListBox.h"
#include "ExtensionBlock.h"

class TfrmMain : public ExtensionView {
public:
    // The client area at 96 dpi; the form scales it to the screen's.
    enum { ClientWidth = 228, ClientHeight = 326 };

    explicit TfrmMain(HINSTANCE instance);
    ~TfrmMain();

    // Creates the window hidden with its controls and runs formCreate, the
    // first load. False when the window could not be created.
    bool create();
    // Shows the window centred on the screen.
    void show();
    HWND handle() const { return hwnd_; }

    // The application's error box: the text, a full stop, the application
    // title as caption and the error icon.
    static void showException(HWND owner, const char* text);

    // Event handlers; false when an error escaped them.
    bool formCreate();
    bool bValiderClick();
    void bQuitterClick();

    // ExtensionView, on clbExtensions and the form's message boxes.
    void clear() override;
    int add(const char* text) override;
    void setChecked(int index, bool checked) override;
    bool checked(int index) override;
    bool text(int index, char* buffer, int size) override;
    int count() override;
    void showMessage(const char* text, const char* caption) override;

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    HWND createControl(const char* className, int id, DWORD style, int left, int top, int width, int height,
                       UINT textId);

    HINSTANCE instance_;
    HWND hwnd_;
    HFONT font_;
    int dpi_;  // the screen's dots per inch
    int px(int pixels) const { return MulDiv(pixels, dpi_, 96); }
    HICON bigIcon_, smallIcon_;
    HWND focused_;

    CheckListBox clbExtensions_;
    HWND bQuitter_;
    HWND bValider_;
    HWND lGExtensions_;
    HWND lExplications_;
    HWND label1_;

    // curLine, outLine, iniPath and tmpPath live in the block.
    ExtensionBlock block_;
};
