// A user without administrator rights, as far as services go. Wine runs
// every program as an administrator and has no limited tokens, so the
// refusal is simulated: while a UserRights object lives, every service
// manager or service the program opens for more than such a user may ask
// (connect and enumerate; status, configuration, interrogate) is refused
// with ERROR_ACCESS_DENIED, through the program's import table. Handles
// opened before are not touched: reopen what must be opened as the user.
// Header only.
#pragma once

#include <windows.h>

#include "ImportHook.h"

namespace testkit {

class UserRights {
public:
    UserRights()
    {
        HookImport("OpenSCManagerA", (void*)UserOpenManager, &realManager());
        HookImport("OpenServiceA", (void*)UserOpenService, &realService());
    }
    ~UserRights()
    {
        void* unused;
        HookImport("OpenSCManagerA", realManager(), &unused);
        HookImport("OpenServiceA", realService(), &unused);
    }

private:
    static void*& realManager()
    {
        static void* real;
        return real;
    }
    static void*& realService()
    {
        static void* real;
        return real;
    }
    static SC_HANDLE WINAPI UserOpenManager(LPCSTR machine, LPCSTR database, DWORD access)
    {
        if (access & ~(SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        return reinterpret_cast<decltype(&OpenSCManagerA)>(realManager())(machine, database, access);
    }
    static SC_HANDLE WINAPI UserOpenService(SC_HANDLE manager, LPCSTR name, DWORD access)
    {
        if (access & ~(SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | SERVICE_INTERROGATE | READ_CONTROL)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        return reinterpret_cast<decltype(&OpenServiceA)>(realService())(manager, name, access);
    }

    UserRights(const UserRights&) = delete;
    UserRights& operator=(const UserRights&) = delete;
};

}  // namespace testkit
