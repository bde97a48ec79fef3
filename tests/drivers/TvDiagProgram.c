/* The program of the import-table fixtures: imports tvdiag_mid.dll.
 *   TvDiagProgram.exe [--say TEXT] [--flood KB] [--wait MS]
 * --say writes TEXT to standard output and "err: TEXT" to standard error;
 * --flood then writes KB kilobytes more to standard output; --wait then
 * waits MS milliseconds. Ends with the exit code 3. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

__declspec(dllimport) int TvDiagMid(void);

int main(int argc, char** argv)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--say")) {
            printf("%s\n", argv[i + 1]);
            fprintf(stderr, "err: %s\n", argv[i + 1]);
            fflush(stdout);
        } else if (!strcmp(argv[i], "--flood")) {
            static char block[1024];
            memset(block, 'x', sizeof block - 1);
            for (int k = atoi(argv[i + 1]); k > 0; --k)
                fwrite(block, 1, sizeof block - 1, stdout);
            fflush(stdout);
        } else if (!strcmp(argv[i], "--wait")) {
            Sleep((DWORD)atoi(argv[i + 1]));
        }
    }
    return TvDiagMid() == 8 ? 3 : 4;
}
