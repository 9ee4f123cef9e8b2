#include "selfdelete/SelfDelete.h"
#include "platform/HeapArray.h"
#include "platform/Path.h"
#include "platform/StdioFile.h"
#include "selfdelete/CodePage.h"
#include <shellapi.h>

static const WCHAR SCRIPT_NAME[] = L"_self_del.bat";

// \1 stands for the executable's path, \2 for the script's own and \3 for the lines that follow
// once the executable is gone. The script runs with administrator rights: it tries at once, then
// once a second for about a minute, and deletes itself last on every way out. ping is the wait that
// both Windows and Wine's cmd keep (Wine has no timeout.exe), named in full so that no ping.exe in
// the current directory runs instead.
static const char SCRIPT[] =
    "setlocal EnableExtensions DisableDelayedExpansion\n"
    "set n=0\n"
    ":Repeat \n"
    " Del \"\1\" \n"
    " if not exist \"\1\" goto Done\n"
    " set /a n+=1\n"
    " if %n% geq 60 goto Done\n"
    " \"%SystemRoot%\\System32\\ping.exe\" -n 2 127.0.0.1 >nul\n"
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
                         : *t == '\5' ? paths.pszManifest : nullptr;
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

bool WriteSelfDeleteScript(LPCWSTR pszScript, LPCWSTR pszExe, const CStringList& folders)
{
    CStdioFile file(pszScript);
    if (!file.IsOpen()) return false;

    // The script exists from here on, so that it has a short form too.
    const UINT codePage = ConversionCodePage();
    CHeapArray<char> exe, script, manifest, folderPaths, text;
    bool ok = ConvertForScript(pszExe, codePage, exe) && ConvertForScript(pszScript, codePage, script);
    if (ok) {
        // A manifest that cannot be named in the script stays, and so does its folder.
        // Del given a folder deletes the files in it; a folder of that name stays.
        const CString manifestPath = DirectoryOfPath(pszExe) + L"Uninst.ini";
        const DWORD attributes = ::GetFileAttributesW(manifestPath);
        const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        const bool hasManifest = !folder && ConvertForScript(manifestPath, codePage, manifest);
        const bool stays = !hasManifest && attributes != INVALID_FILE_ATTRIBUTES;
        const int nFolders = stays ? 0 : ConvertFolders(folders, codePage, folderPaths);
        const ScriptPaths paths = {exe, script, hasManifest ? static_cast<const char*>(manifest) : nullptr, folderPaths,
                                   nFolders};
        int n = 0;
        Fill(nullptr, n, SCRIPT, paths);
        ok = text.Alloc(n);
        if (ok) {
            n = 0;
            Fill(text, n, SCRIPT, paths);
            ok = file.Write(text, n);
        }
    }
    ok = file.Close() && ok;
    if (!ok) ::DeleteFileW(pszScript);
    return ok;
}

// The shell starts a batch file as cmd /c "path", and cmd expands %...% in that line, and !...! too
// where delayed expansion is on by default: the path it then ran would be another file's.
static bool CmdLineExpands(LPCWSTR pszPath)
{
    for (; *pszPath; ++pszPath)
        if (*pszPath == L'%' || *pszPath == L'!') return true;
    return false;
}

CString ScheduleSelfDelete(const CStringList& folders)
{
    WCHAR temp[MAX_PATH], script[MAX_PATH], own[40];
    const DWORD nTemp = ::GetTempPathW(MAX_PATH, temp);
    ::wsprintfW(own, L"_self_del_%lu.bat", ::GetCurrentProcessId());
    if (nTemp == 0 || nTemp + ::lstrlenW(own) >= MAX_PATH) return CString();
    ::lstrcpyW(script, temp);
    ::lstrcpyW(script + nTemp, SCRIPT_NAME);
    if (CmdLineExpands(script)) return CString();

    WCHAR exe[MAX_PATH];
    const DWORD nExe = ::GetModuleFileNameW(::GetModuleHandleW(nullptr), exe, MAX_PATH);
    if (nExe == 0 || nExe >= MAX_PATH) return CString();

    // In the temporary folder: the working folder of cmd and its console would keep the
    // installation folder from being removed. Windows' cmd reads a script line by line from the
    // file as it stands, so another run's script, still running under the usual name, is never
    // written over: this one then gets a name of its own.
    if (!WriteSelfDeleteScript(script, exe, folders)) {
        ::lstrcpyW(script + nTemp, own);
        if (!WriteSelfDeleteScript(script, exe, folders)) return CString();
    }
    if (reinterpret_cast<INT_PTR>(::ShellExecuteW(nullptr, L"open", script, L"", temp, SW_HIDE)) > 32) return script;
    ::DeleteFileW(script);
    return CString();
}
