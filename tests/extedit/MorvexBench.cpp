// Times of the editor's load and apply on large blocks, next to a plain
// read of the same php.ini. Not a test: run it by hand under Wine.
//   morvex_bench.exe
#include <windows.h>

#include <cstdio>
#include <string>

#include "IniFiles.h"
#include "TfrmMain.h"

namespace {

double Now()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return (double)counter.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

std::string IniWith(int entries)
{
    std::string text = "[PHP]\r\nengine = On\r\nextension_dir = \"./\"\r\n;PHPExt\r\n";
    for (int i = 0; i < entries; ++i)
        text += (i % 3 ? ";extension=php_" : "extension=php_") + std::to_string(i) + "_module.dll\r\n";
    return text + ";/PHPExt";
}

double PlainRead(const std::string& path)
{
    double start = Now();
    std::string bytes;
    testkit::ReadFileBytes(path, &bytes);
    return Now() - start;
}

void Drain()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

}  // namespace

int main()
{
    IniFiles files;
    printf("%8s %10s %12s %12s %16s\n", "entries", "bytes", "read (ms)", "load (ms)", "apply+load (ms)");
    for (int entries : {1000, 10000, 32767}) {
        const std::string text = IniWith(entries);
        files.writeIni(text);
        double read = PlainRead(files.ini);

        TfrmMain form(GetModuleHandleA(nullptr));
        if (!form.create()) {
            printf("the form could not be created\n");
            return 1;
        }
        form.show();
        Drain();
        // The load as the form runs it: the check list box with redraw off.
        double start = Now();
        form.FormCreate();
        Drain();
        double load = Now() - start;

        // Apply without changes: php.ini rewritten, then loaded again.
        start = Now();
        form.bValiderClick();
        Drain();
        double apply = Now() - start;

        std::string after;
        testkit::ReadFileBytes(files.ini, &after);
        printf("%8d %10u %12.2f %12.2f %16.2f%s\n", entries, (unsigned)text.size(), read, load, apply,
               after == text && form.count() == entries ? "" : "  (content differs!)");
    }
    return 0;
}
