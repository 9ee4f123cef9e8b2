#include "uninstall/RemovalLog.h"
#include "platform/Handle.h"
#include "platform/HeapArray.h"
#include "platform/Path.h"
#include "platform/String.h"

static CHandle s_log(INVALID_HANDLE_VALUE);
// Made when the first log opens, before any other thread runs, and kept for the life of the process.
static CRITICAL_SECTION s_lock;
static bool s_lockMade;

static void Write(LPCWSTR pszText)
{
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, pszText, -1, nullptr, 0, nullptr, nullptr);
    CHeapArray<char> utf8;
    if (n <= 1 || !utf8.Alloc(n)) return;
    ::WideCharToMultiByte(CP_UTF8, 0, pszText, -1, utf8, n, nullptr, nullptr);
    DWORD written;
    ::WriteFile(s_log, utf8, n - 1, &written, nullptr);
}

// Each folder of a path that is not there yet, from the top down.
static void MakeFoldersOf(LPWSTR pszPath)
{
    for (LPWSTR p = pszPath; *p; ++p) {
        if (!IsSeparator(*p) || p == pszPath || IsSeparator(p[-1]) || p[-1] == L':') continue;
        const WCHAR separator = *p;
        *p = L'\0';
        ::CreateDirectoryW(pszPath, nullptr);
        *p = separator;
    }
}

void OpenRemovalLog(LPCWSTR pszPath)
{
    if (!s_lockMade) ::InitializeCriticalSection(&s_lock);
    s_lockMade = true;
    CloseRemovalLog();
    // Deployment tools pass %WINDIR%\Temp and the like as they are written.
    WCHAR path[MAX_PATH];
    const DWORD n = ::ExpandEnvironmentStringsW(pszPath, path, MAX_PATH);
    if (n == 0 || n > MAX_PATH) return;
    MakeFoldersOf(path);
    // Replaced, as a new run's log; readable by others while it is written.
    ::EnterCriticalSection(&s_lock);
    s_log.Attach(::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
    // With the mark, Notepad on Windows 7 reads the Chinese of paths and system texts as UTF-8.
    Write(L"\xFEFF");
    ::LeaveCriticalSection(&s_lock);
}

void CloseRemovalLog()
{
    if (!s_lockMade) return;
    ::EnterCriticalSection(&s_lock);
    s_log.Close();
    ::LeaveCriticalSection(&s_lock);
}

void LogLine(LPCWSTR psz1, LPCWSTR psz2, LPCWSTR psz3, LPCWSTR psz4)
{
    if (!s_lockMade) return;
    CString line(psz1);
    const LPCWSTR fields[] = {psz2, psz3, psz4};
    for (int i = 0; i < 3 && fields[i]; ++i) {
        line += L"\t";
        line += fields[i];
    }
    line += L"\r\n";
    ::EnterCriticalSection(&s_lock);
    if (s_log.IsValid()) Write(line);
    ::LeaveCriticalSection(&s_lock);
}

CErrorText::CErrorText(DWORD error)
{
    int n = ::wsprintfW(m_text, L"error %lu: ", error);
    n += ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                          nullptr, error, 0, m_text + n, ARRAYSIZE(m_text) - n, nullptr);
    while (n > 0 && (m_text[n - 1] == L' ' || m_text[n - 1] == L'\r' || m_text[n - 1] == L'\n')) --n;
    m_text[n] = L'\0';
}
