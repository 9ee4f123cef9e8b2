#pragma once
#include "uninstall/RemovalPlan.h"

// The disk itself, as the removal's rules see it: each attempt carried out, and its Windows error
// handed back. With a window, each listed entry dealt with advances its progress bar by one.
class CDiskSite : public CRemovalSite {
public:
    explicit CDiskSite(HWND hwndProgress = nullptr) : m_hwndProgress(hwndProgress) {}

    DWORD DeleteFile(LPCWSTR pszPath) override;
    DWORD RemoveDirectory(LPCWSTR pszPath) override;
    DWORD MoveFile(LPCWSTR pszFrom, LPCWSTR pszTo) override;
    DWORD DeleteAtRestart(LPCWSTR pszPath) override;
    bool IsInUse(LPCWSTR pszPath, DWORD error) override;
    CString LinkInPath(LPCWSTR pszPath) override;
    CString Key(LPCWSTR pszPath) override;
    bool List(LPCWSTR pszFolder, CStringList& keys) override;
    bool Exists(LPCWSTR pszPath) override;
    void Step() override;

private:
    HWND m_hwndProgress;
    // The last folder found free of links: the entries of one folder are listed one after another.
    CString m_checked;
};
