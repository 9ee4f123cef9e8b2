#pragma once
#include <windows.h>

// The log that /LOG=<path> asks for: UTF-8 text with a byte order mark, one line per event, its
// fields separated by tabs, written as it happens, so that a run cut short still tells what it did.
// Environment variables in the path are expanded, and the folders it names made. Without a log, or
// when it cannot be written, every call does nothing: a log never stops or changes the removal.
// Lines come from any thread, each whole.
void OpenRemovalLog(LPCWSTR pszPath);
// No line follows: a thread that outlives the exit step writes nothing more.
void CloseRemovalLog();
// One line of up to four fields; the fields after a null one are left out.
void LogLine(LPCWSTR psz1, LPCWSTR psz2 = nullptr, LPCWSTR psz3 = nullptr, LPCWSTR psz4 = nullptr);
// The same, with the two fields that the program writes itself given as ASCII, which it keeps at
// half the size of wide text.
void LogLine(const char* psz1, const char* psz2, LPCWSTR psz3 = nullptr, LPCWSTR psz4 = nullptr);
// A system error as "error <number>: <the system's text>", for a field of a line.
class CErrorText {
public:
    explicit CErrorText(DWORD error);
    operator LPCWSTR() const { return m_text; }

private:
    WCHAR m_text[300];
};
