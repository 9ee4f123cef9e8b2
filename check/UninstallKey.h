#pragma once
#include <string>
#include <vector>

extern const wchar_t UNINSTALL_KEY_NAME[];  // as the report names it, HKLM\...

// The product's entry in the system's list of installed programs, in one registry view, and what
// becomes of it: Uninst.exe, a 32-bit program, deletes the key in the 32-bit view, and only when it
// holds no subkeys; Apps & features starts the entry's UninstallString.
struct UninstallKeyVerdict {
    bool is64;               // the 64-bit view, seen only on 64-bit Windows
    std::wstring stays;      // why the key stays after the removal; empty when Uninst.exe deletes it
    std::wstring command;    // UninstallString as written, environment variables expanded
    std::wstring wrongCommand;  // why it does not start the Uninst.exe checked; empty when it does
};

// Each view in which the key exists, the 32-bit one first; none when the product is not registered.
std::vector<UninstallKeyVerdict> JudgeUninstallKey(const std::wstring& exe);
