// What the tests create on a machine carries a mark, so that a later run of the test kit can tell
// what a run that was cut short left behind from anything else, and remove only that. Nothing that
// existed before a test is written, overwritten or deleted by it: a key or folder that is already
// there is left alone, and the test that wanted it fails instead.
#pragma once
#include <windows.h>
#include <string>

extern const wchar_t UNINSTALL_KEY[];  // HKLM, the 32-bit view: the key Uninst.exe deletes
// A marked key holds this value; a marked folder holds a file of this name. Both hold KIT_MARK_TEXT.
extern const wchar_t KIT_MARK_VALUE[];
extern const wchar_t KIT_MARK_FILE[];
extern const wchar_t KIT_MARK_TEXT[];
// Why a test stops when a key it needs to create exists already.
extern const char KIT_KEY_TAKEN[];
// Every key under HKLM that a test may create, deepest first.
extern const wchar_t* const KIT_KEYS[3];

// A key of HKLM in the 32-bit view, created with its mark in one step; false, and nothing changed,
// when it exists.
bool CreateMarkedKey(const std::wstring& path);
// The name under which that key is made and marked before it gets its own: a name that marks it.
std::wstring PendingKey(const std::wstring& path);
bool KeyExists(const std::wstring& path, REGSAM view = KEY_WOW64_32KEY);
bool IsMarkedKey(const std::wstring& path, REGSAM view = KEY_WOW64_32KEY);
// Deletes the key only when it carries the mark (and has no subkeys); whether it is gone.
bool DeleteMarkedKey(const std::wstring& path, REGSAM view = KEY_WOW64_32KEY);

// A new folder (its parent must exist) holding the mark; false, and nothing changed, when it exists.
bool CreateMarkedFolder(const std::wstring& path);
bool IsMarkedFolder(const std::wstring& path);
// Removes a marked folder with everything in it, read-only files included; whether it is gone.
bool RemoveMarkedFolder(const std::wstring& path);
