#pragma once
#include <windows.h>

// A window the program refers to. The handle is borrowed: a CWnd never destroys its window.
class CWnd {
public:
    HWND m_hWnd = nullptr;

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const { return ::SendMessageW(m_hWnd, message, wParam, lParam); }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const { return ::PostMessageW(m_hWnd, message, wParam, lParam); }
    BOOL ShowWindow(int nCmdShow) const { return ::ShowWindow(m_hWnd, nCmdShow); }
    BOOL MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE) const { return ::MoveWindow(m_hWnd, x, y, nWidth, nHeight, bRepaint); }
    BOOL SetWindowPos(HWND hWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags) const { return ::SetWindowPos(m_hWnd, hWndInsertAfter, x, y, cx, cy, nFlags); }
    int MessageBox(LPCWSTR lpszText, LPCWSTR lpszCaption, UINT nType) const { return ::MessageBoxW(m_hWnd, lpszText, lpszCaption, nType); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    BOOL GetClientRect(RECT* lpRect) const { return ::GetClientRect(m_hWnd, lpRect); }
    void CenterWindow() const;
};
