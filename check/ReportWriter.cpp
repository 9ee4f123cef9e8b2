#include "check/ReportWriter.h"

CReportWriter::CReportWriter(DWORD nStdHandle) : m_h(::GetStdHandle(nStdHandle))
{
    DWORD mode;
    m_console = ::GetConsoleMode(m_h, &mode) != 0;
}

void CReportWriter::Write(const std::wstring& text) const
{
    DWORD written;
    const int length = static_cast<int>(text.size());
    if (m_console) {
        ::WriteConsoleW(m_h, text.data(), length, &written, nullptr);
        return;
    }
    // No flags and no default character: Windows refuses both for UTF-8.
    std::string utf8(::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr);
    ::WriteFile(m_h, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

void CReportWriter::Line(std::initializer_list<std::wstring> fields) const
{
    std::wstring line;
    for (const std::wstring& field : fields) line += (line.empty() ? L"" : L"\t") + field;
    Write(line + L"\r\n");
}
