#include "uninstall/UninstallKey.h"
#include "platform/String.h"
#include "uninstall/RemovalLog.h"

static const wchar_t UNINSTALL_KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorill2010";

const wchar_t* UninstallKeyName()
{
    // On a 64-bit Windows the 32-bit view is kept under WOW6432Node.
    WCHAR folder[MAX_PATH];
    return ::GetSystemWow64DirectoryW(folder, MAX_PATH)
               ? L"HKLM\\Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorill2010"
               : L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorill2010";
}

bool UninstallKeyExists()
{
    HKEY hKey;
    const LONG opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, KEY_QUERY_VALUE, &hKey);
    if (opened == ERROR_SUCCESS) ::RegCloseKey(hKey);
    return opened != ERROR_FILE_NOT_FOUND;
}

Outcome DeleteUninstallKey()
{
    HKEY hKey;
    const LONG opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, KEY_ALL_ACCESS, &hKey);
    if (opened == ERROR_FILE_NOT_FOUND) {
        LogLine(L"key", L"absent", UninstallKeyName());
        return REMOVED;
    }
    LONG deleted = opened;
    DWORD subkeys = 0;
    if (opened == ERROR_SUCCESS) {
        ::RegQueryInfoKeyW(hKey, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr);
        ::RegCloseKey(hKey);
        deleted = ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY);
    }
    if (deleted == ERROR_SUCCESS) {
        LogLine(L"key", L"deleted", UninstallKeyName());
        return REMOVED;
    }
    // Another run at the same moment deleted it first.
    if (deleted == ERROR_FILE_NOT_FOUND) {
        LogLine(L"key", L"absent", UninstallKeyName());
        return REMOVED;
    }
    // Windows refuses a key with subkeys as access denied, which would send an administrator
    // looking at permissions.
    if (subkeys) LogLine(L"key", L"stayed", L"it has subkeys: only a key without subkeys can be deleted", UninstallKeyName());
    else LogLine(L"key", L"stayed", CErrorText(deleted), UninstallKeyName());
    return REMOVAL_FAILED;
}
