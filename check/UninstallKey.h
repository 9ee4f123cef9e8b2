#pragma once
#include <string>
#include <vector>

extern const wchar_t UNINSTALL_KEY_NAME[];  // as the report names it, HKLM\...

// What Apps & features starts from one of the entry's command values, and why that is not the
// Uninst.exe checked, or for QuietUninstallString not its silent run (/S or another silent word).
struct CommandVerdict {
    bool present;
    std::wstring command;     // as written, environment variables expanded as the 64-bit shell does
    std::wstring fault;       // empty when it starts what it should
    std::wstring silentWord;  // the first silent word among its arguments
};

// The product's entry in the system's list of installed programs, in one place, and what becomes of
// it: Uninst.exe, a 32-bit program, deletes the key in the 32-bit view of HKLM, and only when it
// holds no subkeys; Apps & features lists each entry it finds, per machine and per user, and starts
// its UninstallString, unless values of the entry hide it or make it start something else.
struct UninstallKeyVerdict {
    std::wstring where;    // "32-bit view", "64-bit view" (only on 64-bit Windows) or "current user"
    std::wstring name;     // the key, HKLM\... or HKCU\...
    std::wstring stays;    // why the key stays after the removal; empty when Uninst.exe deletes it
    std::vector<std::wstring> listing;  // why Apps & features does not list it, or offers no removal
    std::wstring parent;   // ParentKeyName: listed as an update of that product
    CommandVerdict uninstall;
    CommandVerdict quiet;
};

// Each place in which the key exists, HKLM's 32-bit view first; none when the product is not registered.
std::vector<UninstallKeyVerdict> JudgeUninstallKey(const std::wstring& exe);
