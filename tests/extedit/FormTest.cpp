// The form created inside the test program: what another process cannot
// see of it (its font, its icons).
#include <windows.h>
#include <gtest/gtest.h>

#include "IniFiles.h"
#include "TfrmMain.h"

TEST(MorvexForm, FontAndIcons)
{
    IniFiles files;
    ASSERT_TRUE(files.writeIni(";PHPExt\r\nextension=php_a.dll\r\n;/PHPExt"));
    TfrmMain form(GetModuleHandleA(nullptr));
    ASSERT_TRUE(form.create());
    HWND hwnd = form.handle();
    EXPECT_FALSE(IsWindowVisible(hwnd)) << "shown before show()";
    EXPECT_EQ(form.count(), 1);

    for (int id : {1000, 1001, 1002, 1003, 1004, 1005}) {
        HFONT font = (HFONT)SendMessageA(GetDlgItem(hwnd, id), WM_GETFONT, 0, 0);
        ASSERT_TRUE(font) << "control " << id;
        LOGFONTA logFont;
        ASSERT_TRUE(GetObjectA(font, sizeof logFont, &logFont));
        EXPECT_STREQ(logFont.lfFaceName, "Verdana") << "control " << id;
        EXPECT_EQ(logFont.lfHeight, -11) << "control " << id;
        EXPECT_EQ(logFont.lfCharSet, ANSI_CHARSET) << "control " << id;
    }
    EXPECT_TRUE(SendMessageA(hwnd, WM_GETICON, ICON_BIG, 0) != 0);
    EXPECT_TRUE(SendMessageA(hwnd, WM_GETICON, ICON_SMALL, 0) != 0);
    EXPECT_TRUE(GetClassLongPtrA(hwnd, GCLP_HICON) != 0);
    EXPECT_EQ(GetClassLongPtrA(hwnd, GCLP_HBRBACKGROUND), (LONG_PTR)(COLOR_BTNFACE + 1));

    form.show();
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_EQ(GetFocus(), GetDlgItem(hwnd, 1000));
    // The form given the focus passes it on to its control, or the keys
    // would reach no control.
    SetFocus(hwnd);
    EXPECT_EQ(GetFocus(), GetDlgItem(hwnd, 1000));
}
