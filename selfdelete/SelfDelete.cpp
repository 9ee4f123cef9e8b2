#include "selfdelete/SelfDelete.h"
#include "platform/HeapArray.h"
#include "platform/Path.h"
#include "platform/StdioFile.h"
#include "selfdelete/CodePage.h"
#include <sddl.h>

// \1 stands for the executable's path, \2 for the script's own, \3 for the lines that follow once
// the executable is gone and \6 for the system folder. The script runs with administrator rights:
// it tries at once, then once a second for about a minute, and deletes itself last on every way
// out. ping is the wait that both Windows and Wine's cmd keep (Wine has no timeout.exe); every
// program it runs is named by its full path, never through a variable of the environment, which
// the user who started Uninst.exe sets.
static const char SCRIPT[] =
    "setlocal EnableExtensions DisableDelayedExpansion\n"
    "set n=0\n"
    ":Repeat \n"
    " Del \"\1\" \n"
    " if not exist \"\1\" goto Done\n"
    " set /a n+=1\n"
    " if %n% geq 60 goto Done\n"
    " \"\6\\ping.exe\" -n 2 127.0.0.1 >nul\n"
    " goto Repeat\n"
    ":Done\n"
    "if exist \"\1\" goto Last\n"
    "\3"
    ":Last\n"
    "Del \"\2\" ";
// The manifest beside the executable (\5), which goes with it; then each folder, deepest first
// (\4), while the last one went. rd without /s removes only an empty folder; Wine's rd sets no
// errorlevel, so "if exist" judges.
static const char MANIFEST[] = "Del \"\5\" \n";
static const char FOLDER[] = "rd \"\4\"\nif exist \"\4\" goto Last\n";

// Windows refuses any conversion flag, default character or used-default flag for UTF-8, UTF-7
// and a few stateful and symbol code pages; the ANSI code page is UTF-8 where "Use Unicode UTF-8
// for worldwide language support" is on. These convert plainly: the read-back still proves the
// result exact, and UTF-8 and UTF-7 lose nothing but unpaired surrogates.
static bool TakesNoFlags(UINT codePage)
{
    return codePage == CP_UTF8 || codePage == CP_UTF7 || codePage == 42 || codePage == 52936 || codePage == 54936
           || (codePage >= 50220 && codePage <= 50229) || (codePage >= 57002 && codePage <= 57011);
}

// The number behind CP_ACP, CP_OEMCP or CP_THREAD_ACP; 0 when the system knows no such code page.
static UINT CodePageNumber(UINT codePage)
{
    CPINFOEXW info;
    return ::GetCPInfoExW(codePage, 0, &info) ? info.CodePage : 0;
}

// The narrow form of pszPath that cmd, which reads a batch file in the console's code page, reads
// back as this very path. No best fit: full-width quote, ampersand and percent would become
// commands. No default character: '?' is a wildcard for Del. No control character: it could end
// a line.
static bool ConvertExactly(LPCWSTR pszPath, UINT codePage, CHeapArray<char>& narrow)
{
    const bool plain = TakesNoFlags(CodePageNumber(codePage));
    const DWORD flags = plain ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* pUsedDefault = plain ? nullptr : &usedDefault;
    const int n = ::WideCharToMultiByte(codePage, flags, pszPath, -1, nullptr, 0, nullptr, pUsedDefault);
    if (n <= 0 || usedDefault || !narrow.Alloc(n)) return false;
    if (::WideCharToMultiByte(codePage, flags, pszPath, -1, narrow, n, nullptr, pUsedDefault) != n || usedDefault)
        return false;

    WCHAR readBack[MAX_PATH];
    if (!::MultiByteToWideChar(CP_OEMCP, MB_ERR_INVALID_CHARS, narrow, -1, readBack, MAX_PATH)) return false;
    for (int i = 0; readBack[i] == pszPath[i]; ++i) {
        if (pszPath[i] == L'\0') return true;
        if (pszPath[i] < L' ') return false;
    }
    return false;
}

// The path itself when it converts exactly, else its short (8.3) form when that does.
static bool ConvertForScript(LPCWSTR pszPath, UINT codePage, CHeapArray<char>& narrow)
{
    if (ConvertExactly(pszPath, codePage, narrow)) return true;
    WCHAR shortPath[MAX_PATH];
    const DWORD n = ::GetShortPathNameW(pszPath, shortPath, MAX_PATH);
    return n != 0 && n < MAX_PATH && ConvertExactly(shortPath, codePage, narrow);
}

static void Put(char* pText, int& n, char c)
{
    if (pText) pText[n] = c;
    ++n;
}

// The narrow paths of a script: the manifest's, when it has one, and the folders' one after
// another, each ending in a NUL.
struct ScriptPaths {
    const char* pszExe;
    const char* pszScript;
    const char* pszSystem;
    const char* pszManifest;
    const char* pFolders;
    int nFolders;
};

// Fills a template into pText at n, or only counts its length when pText is null. cmd expands
// %...% even between quotes, so every % of a path is doubled.
static void Fill(char* pText, int& n, const char* pszTemplate, const ScriptPaths& paths, const char* pszFolder = nullptr)
{
    for (const char* t = pszTemplate; *t; ++t) {
        if (*t == '\3') {
            if (paths.pszManifest) Fill(pText, n, MANIFEST, paths);
            const char* folder = paths.pFolders;
            for (int i = 0; i < paths.nFolders; ++i, folder += ::lstrlenA(folder) + 1) Fill(pText, n, FOLDER, paths, folder);
            continue;
        }
        const char* path = *t == '\1' ? paths.pszExe : *t == '\2' ? paths.pszScript : *t == '\4' ? pszFolder
                         : *t == '\5' ? paths.pszManifest : *t == '\6' ? paths.pszSystem : nullptr;
        if (!path) Put(pText, n, *t);
        for (; path && *path; ++path) {
            if (*path == '%') Put(pText, n, '%');
            Put(pText, n, *path);
        }
    }
}

// The folders' narrow paths into one array, up to the first that cannot be put into the script
// exactly: what holds that one cannot be emptied either. Their number.
static int ConvertFolders(const CStringList& folders, UINT codePage, CHeapArray<char>& narrow)
{
    // Three bytes a character at most, in any code page a path converts to exactly.
    if (!narrow.Alloc(static_cast<int>(folders.GetCount()) * 3 * MAX_PATH + 1)) return 0;
    int n = 0, at = 0;
    for (; n < folders.GetCount(); ++n) {
        CHeapArray<char> folder;
        if (!ConvertForScript(folders.GetAt(folders.FindIndex(n)), codePage, folder)) break;
        ::lstrcpyA(narrow + at, folder);
        at += ::lstrlenA(folder) + 1;
    }
    return n;
}

bool WriteSelfDeleteScript(CStdioFile& file, LPCWSTR pszScript, LPCWSTR pszExe, const CStringList& folders)
{
    WCHAR system[MAX_PATH];
    const UINT nSystem = ::GetSystemDirectoryW(system, MAX_PATH);
    if (nSystem == 0 || nSystem >= MAX_PATH) return false;
    const UINT codePage = ConversionCodePage();
    CHeapArray<char> exe, script, systemPath, manifest, folderPaths, text;
    if (!ConvertForScript(pszExe, codePage, exe) || !ConvertForScript(pszScript, codePage, script) ||
        !ConvertForScript(system, codePage, systemPath))
        return false;
    // A manifest that cannot be named in the script stays, and so does its folder.
    // Del given a folder deletes the files in it; a folder of that name stays.
    const CString manifestPath = DirectoryOfPath(pszExe) + L"Uninst.ini";
    const DWORD attributes = ::GetFileAttributesW(manifestPath);
    const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    const bool hasManifest = !folder && ConvertForScript(manifestPath, codePage, manifest);
    const bool stays = !hasManifest && attributes != INVALID_FILE_ATTRIBUTES;
    const int nFolders = stays ? 0 : ConvertFolders(folders, codePage, folderPaths);
    const ScriptPaths paths = {exe, script, systemPath, hasManifest ? static_cast<const char*>(manifest) : nullptr,
                               folderPaths, nFolders};
    int n = 0;
    Fill(nullptr, n, SCRIPT, paths);
    if (!text.Alloc(n)) return false;
    n = 0;
    Fill(text, n, SCRIPT, paths);
    return file.Write(text, n);
}

// cmd expands %...% in its command line, even between quotes, and !...! too where delayed
// expansion is on by default: the path it then ran would be another file's.
static bool CmdLineExpands(LPCWSTR pszPath)
{
    for (; *pszPath; ++pszPath)
        if (*pszPath == L'%' || *pszPath == L'!') return true;
    return false;
}

// Whether the process has administrator rights: elevated, or an administrator's on Windows XP, or
// SYSTEM's.
static bool HasAdministratorRights()
{
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    BOOL member = FALSE;
    return ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size) &&
           ::CheckTokenMembership(nullptr, sid, &member) && member;
}

// Only SYSTEM and Administrators may write the script, and Administrators own it: a user of the
// machine, who can make files in the Windows folder's Temp, can neither change it nor swap it.
// Enough for the names that killed runs left behind, and for those a user made first.
static const DWORD SCRIPT_ATTEMPTS = 1000;

static const WCHAR ADMINISTRATORS_ONLY[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";

CString ScriptFolder()
{
    WCHAR folder[MAX_PATH];
    if (!HasAdministratorRights()) {
        // Without administrator rights the script runs with the user's own: the user's folder will do.
        const DWORD n = ::GetTempPathW(MAX_PATH, folder);
        return n == 0 || n >= MAX_PATH ? CString() : CString(folder, static_cast<int>(n));
    }
    // Never from TMP or TEMP, which the user sets.
    const UINT n = ::GetWindowsDirectoryW(folder, MAX_PATH);
    if (n == 0 || n + 6 >= MAX_PATH) return CString();
    return CString(folder, static_cast<int>(n)) + (IsSeparator(folder[n - 1]) ? L"Temp\\" : L"\\Temp\\");
}

bool CreateScriptFile(LPCWSTR pszFolder, CStdioFile& file, CString& path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (HasAdministratorRights() &&
        !::ConvertStringSecurityDescriptorToSecurityDescriptorW(ADMINISTRATORS_ONLY, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    // A name that another run left, or that a user made first, is never taken over: the next one is tried.
    WCHAR name[MAX_PATH + 40];
    const DWORD first = ::GetTickCount();
    ::wsprintfW(name, L"%s_self_del.bat", pszFolder);
    for (DWORD attempt = 1; attempt <= SCRIPT_ATTEMPTS; ++attempt) {
        if (::lstrlenW(name) >= MAX_PATH || CmdLineExpands(name)) {
            ::SetLastError(ERROR_BAD_PATHNAME);
            break;
        }
        if (file.Open(name, &security)) break;
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) break;
        ::wsprintfW(name, L"%s_self_del_%lu_%lu.bat", pszFolder, ::GetCurrentProcessId(), first + attempt);
    }
    if (descriptor) ::LocalFree(descriptor);
    path = name;
    return file.IsOpen();
}

// cmd from the system folder, named in full, so that no COMSPEC or file association chooses the
// program; /d, so that no AutoRun command runs with it; hidden, in the system folder, so that it
// holds no folder of the installation. Its own handle of the script keeps anyone from writing into
// it for as long as cmd runs: Windows' cmd reads a script line by line as the file stands.
static bool StartScript(LPCWSTR pszScript, HANDLE hScript)
{
    WCHAR system[MAX_PATH], cmd[MAX_PATH + 8], commandLine[2 * MAX_PATH + 40];
    const UINT n = ::GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    ::wsprintfW(cmd, L"%s\\cmd.exe", system);
    // cmd /c takes away the outer quotes and keeps the inner ones, whatever the path holds.
    ::wsprintfW(commandLine, L"\"%s\" /d /c \"\"%s\"\"", cmd, pszScript);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process;
    if (!::CreateProcessW(cmd, commandLine, nullptr, nullptr, FALSE, CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr,
                          system, &startup, &process))
        return false;
    const CHandle cmdProcess(process.hProcess), thread(process.hThread);
    HANDLE held;
    if (!::DuplicateHandle(::GetCurrentProcess(), hScript, cmdProcess, &held, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        ::TerminateProcess(cmdProcess, 1);
        return false;
    }
    ::ResumeThread(thread);
    return true;
}

CString ScheduleSelfDelete(const CStringList& folders, DWORD& error)
{
    error = ERROR_SUCCESS;
    WCHAR exe[MAX_PATH];
    const DWORD nExe = ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const CString folder = ScriptFolder();
    if (nExe == 0 || nExe >= MAX_PATH || folder.IsEmpty()) {
        error = ERROR_FILENAME_EXCED_RANGE;
        return CString();
    }
    CStdioFile file;
    CString script;
    if (!CreateScriptFile(folder, file, script)) {
        error = ::GetLastError();
        return CString();
    }
    if (WriteSelfDeleteScript(file, script, exe, folders) && StartScript(script, file)) return script;
    error = ::GetLastError();
    file.Close();
    ::DeleteFileW(script);
    return CString();
}
