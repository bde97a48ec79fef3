// A user without administrator rights, as far as services go. Wine runs
// everything as an administrator and has no limited tokens, so while a
// UserRights lives every service manager or service the program opens for
// more than such a user may ask (connect, enumerate; status, configuration)
// is refused with ERROR_ACCESS_DENIED, through the program's import table.
// Handles opened before are not touched. Header only.
#pragma once

#include <windows.h>

#include "ImportHook.h"

namespace testkit {

class UserRights {
public:
    UserRights()
    {
        HookImport("OpenSCManagerA", (void*)Manager, &real[0]);
        HookImport("OpenServiceA", (void*)Service, &real[1]);
    }
    ~UserRights()
    {
        void* unused;
        HookImport("OpenSCManagerA", real[0], &unused);
        HookImport("OpenServiceA", real[1], &unused);
    }

private:
    static inline void* real[2];
    static bool Refused(DWORD access, DWORD allowed)
    {
        SetLastError(access & ~allowed ? ERROR_ACCESS_DENIED : ERROR_SUCCESS);
        return (access & ~allowed) != 0;
    }
    static SC_HANDLE WINAPI Manager(LPCSTR machine, LPCSTR database, DWORD access)
    {
        return Refused(access, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE)
                   ? nullptr
                   : reinterpret_cast<decltype(&OpenSCManagerA)>(real[0])(machine, database, access);
    }
    static SC_HANDLE WINAPI Service(SC_HANDLE manager, LPCSTR name, DWORD access)
    {
        return Refused(access, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | SERVICE_INTERROGATE | READ_CONTROL)
                   ? nullptr
                   : reinterpret_cast<decltype(&OpenServiceA)>(real[1])(manager, name, access);
    }
};

}  // namespace testkit
