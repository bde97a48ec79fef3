// The about dialog: the product version in the caption, link labels to the
// product site and to the authors, and a button that asks the owner to run
// the version check.
#pragma once

#include <windows.h>

#include "DialogWindow.h"

class AboutDialog : public DialogWindow {
public:
    // Shows the dialog modally (template 134) and returns when it has ended.
    explicit AboutDialog(HWND owner);
    // Deletes the link font.
    ~AboutDialog() override;

    INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL onInitDialog() override;
    virtual void onCommand(UINT id);

private:
    // What a link label opens ("http://..." or "mailto:...?subject=Tarvane")
    // and what its tooltip shows; null for other controls.
    static const char* linkTarget(UINT id);
    static const char* linkTooltip(UINT id);

    static LRESULT CALLBACK handCursorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND owner_;
    HFONT linkFont_;  // the dialog font underlined, made on first use
};

// Shows the about dialog owned by owner; returns when it has ended.
void ShowAboutDialog(HWND owner);
