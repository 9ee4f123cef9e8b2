#pragma once
#include "check/FolderPicture.h"
#include "uninstall/RemovalPlan.h"

// The picture of the folder as the removal's site: each attempt played on the picture, answered
// with the error that Windows gives for what lies there, whatever Wine would do. What the checker
// cannot see (a path whose target it cannot tell, a folder it cannot read) is answered with
// ERROR_NOT_SUPPORTED. Links are judged on the disk, as Uninst.exe judges them.
class CPictureSite : public CRemovalSite {
public:
    explicit CPictureSite(CFolderPicture& picture) : m_picture(picture) {}

    DWORD DeleteFile(LPCWSTR pszPath) override;
    DWORD RemoveDirectory(LPCWSTR pszPath) override;
    DWORD MoveFile(LPCWSTR pszFrom, LPCWSTR pszTo) override;
    DWORD DeleteAtRestart(LPCWSTR pszPath) override;
    bool IsInUse(LPCWSTR pszPath, DWORD error) override;
    CString LinkInPath(LPCWSTR pszPath) override;
    CString Key(LPCWSTR pszPath) override;
    bool List(LPCWSTR pszFolder, CStringList& keys) override;
    bool Exists(LPCWSTR pszPath) override;

    // The node a path names, or -1 with the error that an attempt on it gets.
    int Locate(const std::wstring& path, DWORD& error);
    // What waits for the next restart, in the order it was scheduled.
    std::vector<int> scheduled;

private:
    CFolderPicture& m_picture;
    CString m_checked;
};
