#pragma once
#include <windows.h>
#include <initializer_list>
#include <string>

// Writes text to a standard handle so that every path comes out exactly: UTF-16 to a console,
// whatever its code page; UTF-8 to a file or a pipe.
class CReportWriter {
public:
    explicit CReportWriter(DWORD nStdHandle);

    void Write(const std::wstring& text) const;
    // One line: the fields joined by tabs.
    void Line(std::initializer_list<std::wstring> fields) const;

private:
    HANDLE m_h;
    bool m_console;
};
