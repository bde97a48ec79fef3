// Times of the editor's load and apply on large blocks, and where the time
// goes: a plain read of php.ini, the block's own work (read, parse, working
// file) with a list that keeps nothing, the list box alone (emptied and
// filled, then read back); the whole load into an empty list, before the
// window is shown (as at start), and again over the same items (as after
// an apply); the whole apply (which loads again). Each figure is the median of several runs. Not a
// test: run it by hand under Wine.
// Then PHP 8.2's php.ini-development (no start marker, read as PHP ships
// it): the load and the apply through the form, next to the floor, the same
// file work done bare (read; write the working file, commit it, move it over
// php.ini; read again, as the apply's load does).
//   morvex_bench.exe [runs]
// The file is looked for in the folder TARVANE_PHP_INI names, as the tests
// do: TARVANE_PHP_INI='Z:\root\.cache\tarvane\php-8.2' morvex_bench.exe
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

// The folder of PHP's php.ini files, as a Windows path (Wine passes the
// variable from the Unix side; its drive Z: is the Unix root).
std::string PhpIniDir()
{
    const char* dir = getenv("TARVANE_PHP_INI");
    return dir ? dir : "";
}

// A list in memory: the block's own cost, texts and marks kept.
class MemoryList : public ExtensionView {
public:
    void clear() override { texts.clear(), marks.clear(); }
    int add(const char* text) override
    {
        texts.push_back(text);
        marks.push_back(false);
        return (int)texts.size() - 1;
    }
    void setChecked(int index, bool checked) override { marks[index] = checked; }
    bool checked(int index) override { return marks[index]; }
    bool text(int index, char* buffer, int size) override
    {
        if (index < 0 || index >= (int)texts.size())
            return false;
        snprintf(buffer, size, "%s", texts[index].c_str());
        return true;
    }
    int count() override { return (int)texts.size(); }
    void showMessage(const char* text, const char*) override { printf("message: %s\n", text); }

    std::vector<std::string> texts;
    std::vector<bool> marks;
};

// The bare file work of a load and an apply.
bool ReadWriteBare(const std::string& ini, const std::string& work)
{
    std::string bytes, again;
    if (!testkit::ReadFileBytes(ini, &bytes))
        return false;
    HANDLE file = CreateFileA(work.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD done = 0;
    bool ok = file != INVALID_HANDLE_VALUE && WriteFile(file, bytes.data(), (DWORD)bytes.size(), &done, nullptr) &&
              FlushFileBuffers(file);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return ok && MoveFileExA(work.c_str(), ini.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) &&
           testkit::ReadFileBytes(ini, &again) && again == bytes;
}

// Load and apply of PHP's own php.ini-development against the floor.
bool StandardIniFigures(IniFiles& files, int runs)
{
    std::string text;
    std::string path = PhpIniDir() + "\\php.ini-development";
    if (!testkit::ReadFileBytes(path, &text)) {
        printf("%s not found (TARVANE_PHP_INI): scripts/fetch-php-ini.sh fetches it\n", path.c_str());
        return false;
    }
    double floor[MaxRuns], loadApply[MaxRuns], blockOnly[MaxRuns];
    bool same = true;
    int items = 0;
    for (int run = 0; run < runs; ++run) {
        files.writeIni(text);
        TfrmMain form(GetModuleHandleA(nullptr));
        if (!form.create())
            return false;
        form.show();
        Drain();
        files.writeIni(text);
        double start = Now();
        form.formCreate();
        form.bValiderClick();
        Drain();
        loadApply[run] = Now() - start;
        items = form.count();
        std::string after;
        testkit::ReadFileBytes(files.ini, &after);
        same = same && after == text;

        MemoryList list;
        ExtensionBlock block(list);
        start = Now();
        block.load();
        block.apply();
        blockOnly[run] = Now() - start;
        testkit::ReadFileBytes(files.ini, &after);
        same = same && after == text && (int)list.texts.size() == items;

        start = Now();
        same = ReadWriteBare(files.ini, files.work) && same;
        floor[run] = Now() - start;
    }
    double figure = Median(loadApply, runs), block = Median(blockOnly, runs), bare = Median(floor, runs);
    printf("\nphp.ini-development (%u bytes, %d items), load and apply: block with a list in memory %.2f ms, "
           "floor (read, write, move, read bare) %.2f ms, ratio %.2f (goal at most 2); through the shown form "
           "%.2f ms, ratio %.2f\n%s\n",
           (unsigned)text.size(), items, block, bare, block / bare, figure, figure / bare,
           same ? "php.ini-development rewritten byte for byte" : "CONTENT DIFFERS");
    return same;
}

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
            form.formCreate();
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
            form.formCreate();
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
    same = StandardIniFigures(files, runs) && same;
    return same ? 0 : 1;
}
