#include "uninstall/RemovalLog.h"
#include "platform/Handle.h"
#include "platform/HeapArray.h"
#include "platform/Path.h"
#include "platform/String.h"
#include "uninstall/LinkGuard.h"

static CHandle s_log(INVALID_HANDLE_VALUE);
// Made when the first log opens, before any other thread runs, and kept for the life of the process.
static CRITICAL_SECTION s_lock;
static bool s_lockMade;

static void Write(LPCWSTR pszText, HANDLE hFile = s_log)
{
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, pszText, -1, nullptr, 0, nullptr, nullptr);
    CHeapArray<char> utf8;
    if (n <= 1 || !utf8.Alloc(n)) return;
    ::WideCharToMultiByte(CP_UTF8, 0, pszText, -1, utf8, n, nullptr, nullptr);
    DWORD written;
    ::WriteFile(hFile, utf8, n - 1, &written, nullptr);
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

// Tells whoever started the run, on the error output a deployment tool keeps, why it has no log.
static void TellNoLog(LPCWSTR pszWhy, LPCWSTR pszPath)
{
    CString text("Uninst.exe: no log written to ");
    text += pszPath;
    text += L": ";
    text += pszWhy;
    text += L"\r\n";
    Write(text, ::GetStdHandle(STD_ERROR_HANDLE));
}

// The log is opened as itself, never through a link that a user could have made on its path, never
// as a link itself, and never as one of a file's several names (a hard link that a user made in a
// folder anyone can write, to a file of the system's): the run's administrator rights would write
// there. What was there is emptied only once it is known to be the log's own.
static HANDLE OpenLogFile(LPWSTR pszPath)
{
    CString checked;
    const CString link = LinkInPath(pszPath, checked);
    if (!link.IsEmpty()) {
        TellNoLog(CString("a link that a user could have made is in its path at ") + link, pszPath);
        return INVALID_HANDLE_VALUE;
    }
    MakeFoldersOf(pszPath);
    CHandle file(::CreateFileW(pszPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file.IsValid() || !::GetFileInformationByHandle(file, &info)) {
        TellNoLog(CErrorText(::GetLastError()), pszPath);
        return INVALID_HANDLE_VALUE;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || info.nNumberOfLinks > 1) {
        TellNoLog(L"it is a link, or one of several names of a file", pszPath);
        return INVALID_HANDLE_VALUE;
    }
    if (!::SetEndOfFile(file)) {
        TellNoLog(CErrorText(::GetLastError()), pszPath);
        return INVALID_HANDLE_VALUE;
    }
    return file.Detach();
}

void OpenRemovalLog(LPCWSTR pszPath)
{
    if (!s_lockMade) ::InitializeCriticalSection(&s_lock);
    s_lockMade = true;
    CloseRemovalLog();
    // Deployment tools pass %WINDIR%\Temp and the like as they are written.
    WCHAR path[MAX_PATH];
    const DWORD n = ::ExpandEnvironmentStringsW(pszPath, path, MAX_PATH);
    if (n <= 1 || n > MAX_PATH) return;
    // A new run's log; readable by others while it is written.
    const HANDLE log = OpenLogFile(path);
    ::EnterCriticalSection(&s_lock);
    s_log.Attach(log);
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

void LogLine(const char* psz1, const char* psz2, LPCWSTR psz3, LPCWSTR psz4)
{
    LogLine(CString(psz1), CString(psz2), psz3, psz4);
}

CErrorText::CErrorText(DWORD error)
{
    int n = ::wsprintfW(m_text, L"error %lu: ", error);
    n += ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                          nullptr, error, 0, m_text + n, ARRAYSIZE(m_text) - n, nullptr);
    while (n > 0 && (m_text[n - 1] == L' ' || m_text[n - 1] == L'\r' || m_text[n - 1] == L'\n')) --n;
    m_text[n] = L'\0';
}
