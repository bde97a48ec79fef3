// Times of the editor's load and apply on large blocks, and where the time
// goes: a plain read of php.ini, the block's own work (read, parse, working
// file) with a list that keeps nothing, the list box alone (emptied and
// filled, then read back); the whole load into an empty list, before the
// window is shown (as at start), and again over the same items (as after
// an apply); the whole apply (which loads again). Each figure is the median of several runs. Not a
// test: run it by hand under Wine.
//   morvex_bench.exe [runs]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

std::string Name(int i)
{
    return std::to_string(i) + "_module.dll";
}

std::string IniWith(int entries)
{
    std::string text = "[PHP]\r\nengine = On\r\nextension_dir = \"./\"\r\n;PHPExt\r\n";
    for (int i = 0; i < entries; ++i)
        text += (i % 3 ? ";extension=php_" : "extension=php_") + Name(i) + "\r\n";
    return text + ";/PHPExt";
}

void Drain()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// A list that keeps only its count: the block's own cost.
class NullView : public ExtensionView {
public:
    void clear() override { items = 0; }
    int add(const char*) override { return items++; }
    void setChecked(int, bool) override {}
    bool checked(int) override { return false; }
    bool text(int index, char* buffer, int size) override
    {
        snprintf(buffer, size, "x");
        return index < items;
    }
    int count() override { return items; }
    void showMessage(const char* text, const char*) override { printf("message: %s\n", text); }

    int items = 0;
};

double Median(double* values, int count)
{
    for (int i = 1; i < count; ++i)
        for (int j = i; j > 0 && values[j - 1] > values[j]; --j) {
            double t = values[j];
            values[j] = values[j - 1];
            values[j - 1] = t;
        }
    return count % 2 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

enum { MaxRuns = 15 };

}  // namespace

int main(int argc, char** argv)
{
    int runs = argc > 1 ? atoi(argv[1]) : 9;
    if (runs < 1 || runs > MaxRuns)
        runs = 9;
    IniFiles files;
    printf("median of %d runs, times in ms\n", runs);
    printf("%8s %9s %7s %7s %7s %8s %7s %7s %7s\n", "entries", "bytes", "read", "block", "fill", "readback", "load",
           "reload", "apply");
    bool same = true;
    for (int entries : {1000, 10000, 32767}) {
        const std::string text = IniWith(entries);
        std::vector<std::string> names;
        for (int i = 0; i < entries; ++i)
            names.push_back(Name(i));

        double read[MaxRuns], block[MaxRuns], fill[MaxRuns], readback[MaxRuns], load[MaxRuns], reload[MaxRuns],
            apply[MaxRuns];
        for (int run = 0; run < runs; ++run) {
            // The form as the program creates it, not yet shown, on an
            // empty block; then the load of the large one into its list.
            files.writeIni(IniWith(0));
            TfrmMain form(GetModuleHandleA(nullptr));
            if (!form.create()) {
                printf("the form could not be created\n");
                return 1;
            }
            files.writeIni(text);
            double start = Now();
            form.FormCreate();
            load[run] = Now() - start;
            form.show();
            Drain();
            HWND list = GetDlgItem(form.handle(), 1000);

            // A plain read of the whole file.
            start = Now();
            std::string bytes;
            testkit::ReadFileBytes(files.ini, &bytes);
            read[run] = Now() - start;

            // The block alone: read, parse, head into the working file.
            NullView nullView;
            ExtensionBlock nullBlock(nullView);
            start = Now();
            nullBlock.load();
            block[run] = Now() - start;
            if (nullView.items != entries)
                same = false;

            // The list box alone, as the load fills it (redraw off).
            SendMessageA(list, WM_SETREDRAW, FALSE, 0);
            start = Now();
            form.clear();
            for (int i = 0; i < entries; ++i) {
                int index = form.add(names[i].c_str());
                if (i % 3 == 0)
                    form.setChecked(index, true);
            }
            fill[run] = Now() - start;
            SendMessageA(list, WM_SETREDRAW, TRUE, 0);
            Drain();

            // Read back as the apply reads it: text and mark of each item.
            char name[256];
            int checkedCount = 0;
            start = Now();
            for (int i = 0; i < form.count(); ++i) {
                form.text(i, name, sizeof name);
                checkedCount += form.checked(i);
            }
            readback[run] = Now() - start;
            if (checkedCount != (entries + 2) / 3)
                same = false;

            // The load again over the same items, as after an apply.
            start = Now();
            form.FormCreate();
            Drain();
            reload[run] = Now() - start;

            // Apply without changes: php.ini rewritten, then loaded again.
            start = Now();
            form.bValiderClick();
            Drain();
            apply[run] = Now() - start;

            std::string after;
            testkit::ReadFileBytes(files.ini, &after);
            if (after != text || form.count() != entries)
                same = false;
        }
        printf("%8d %9u %7.2f %7.2f %7.2f %8.2f %7.2f %7.2f %7.2f\n", entries, (unsigned)text.size(),
               Median(read, runs), Median(block, runs), Median(fill, runs), Median(readback, runs), Median(load, runs),
               Median(reload, runs), Median(apply, runs));
    }
    printf("%s\n", same ? "php.ini rewritten unchanged, every entry listed" : "CONTENT DIFFERS");
    return same ? 0 : 1;
}
