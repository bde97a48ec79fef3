// The module of the program's resources (DialogWindow.h).
#include "DialogWindow.h"

namespace {

HINSTANCE appInstance = nullptr;

}  // namespace

HINSTANCE AppInstance()
{
    return appInstance ? appInstance : GetModuleHandleA(nullptr);
}

void SetAppInstance(HINSTANCE instance)
{
    appInstance = instance;
}
