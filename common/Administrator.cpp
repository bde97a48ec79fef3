#include "System.h"

namespace {

bool adminComputed;
bool adminAnswer;

typedef BOOL(WINAPI* MembershipFn)(HANDLE, PSID, PBOOL);

// Whether the token's Administrators membership counts: the system's own
// answer (CheckTokenMembership, Windows 2000 and later, on an
// impersonation copy of the token); before Windows 2000 the group list,
// where only an enabled group that is not for deny only counts. A limited
// token of an administrator (the group present for deny only) is no
// administrator: it could not register a service.
bool EnabledAdministrator(HANDLE token, PSID admins)
{
    MembershipFn check = reinterpret_cast<MembershipFn>(
        GetProcAddress(GetModuleHandleA("advapi32.dll"), "CheckTokenMembership"));
    if (check) {
        HANDLE copy = nullptr;
        BOOL member = FALSE;
        bool ok = DuplicateToken(token, SecurityIdentification, &copy) && check(copy, admins, &member);
        if (copy)
            CloseHandle(copy);
        return ok && member;
    }

    DWORD size = 0;
    if (!GetTokenInformation(token, TokenGroups, nullptr, 0, &size) && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return false;
    TOKEN_GROUPS* groups = static_cast<TOKEN_GROUPS*>(LocalAlloc(LMEM_FIXED, size ? size : 1));
    if (!groups)
        return false;
    bool answer = false;
    if (GetTokenInformation(token, TokenGroups, groups, size, &size)) {
        for (DWORD i = 0; i < groups->GroupCount && !answer; ++i) {
            DWORD attributes = groups->Groups[i].Attributes;
            answer = EqualSid(groups->Groups[i].Sid, admins) && (attributes & SE_GROUP_ENABLED) &&
                     !(attributes & SE_GROUP_USE_FOR_DENY_ONLY);
        }
    }
    LocalFree(groups);
    return answer;
}

}  // namespace

bool IsAdministrator()
{
    if (adminComputed)
        return adminAnswer;

    HANDLE token = nullptr;
    bool haveToken = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY | TOKEN_DUPLICATE, FALSE, &token) != 0;
    if (!haveToken && GetLastError() == ERROR_NO_TOKEN)
        haveToken = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &token) != 0;

    if (haveToken) {
        SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
        PSID admins = nullptr;
        if (AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                     0, 0, 0, &admins)) {
            adminAnswer = EnabledAdministrator(token, admins);
            FreeSid(admins);
        }
        CloseHandle(token);
    }
    adminComputed = true;
    return adminAnswer;
}
