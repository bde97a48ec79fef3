/* The innermost DLL of the import-table fixtures: needs only the system. */
#include <windows.h>

__declspec(dllexport) int TvDiagLeaf(void)
{
    return 7;
}
