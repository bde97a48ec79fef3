/* A DLL of the fixtures that imports tvdiag_leaf.dll. */
#include <windows.h>

__declspec(dllimport) int TvDiagLeaf(void);

__declspec(dllexport) int TvDiagMid(void)
{
    return TvDiagLeaf() + 1;
}
