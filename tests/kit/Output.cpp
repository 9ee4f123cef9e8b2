#include "kit/Output.h"

static std::string Narrow(const std::wstring& text, UINT codePage)
{
    const int length = static_cast<int>(text.size());
    std::string bytes(::WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr), '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), length, &bytes[0], static_cast<int>(bytes.size()), nullptr,
                          nullptr);
    return bytes;
}

// Lines end in CR LF, those within a message too.
static std::wstring WithLineEnds(const std::wstring& lines)
{
    std::wstring text;
    for (wchar_t c : lines) text += c == L'\n' ? L"\r\n" : std::wstring(1, c);
    return text + L"\r\n";
}

void Say(const std::wstring& line)
{
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    const std::wstring text = WithLineEnds(line);
    DWORD mode, written;
    if (::GetConsoleMode(out, &mode)) {
        ::WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const UINT codePage = ::GetConsoleOutputCP();
    const std::string bytes = Narrow(text, codePage ? codePage : ::GetOEMCP());
    ::WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

CRunLog::CRunLog(const std::wstring& path)
    : m_file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr))
{
    Write("\xEF\xBB\xBF", 3);
}

bool CRunLog::Write(const char* bytes, DWORD size)
{
    DWORD written = 0;
    return ::WriteFile(m_file, bytes, size, &written, nullptr) && written == size;
}

bool CRunLog::Line(const std::wstring& line)
{
    const std::string bytes = Narrow(WithLineEnds(line), CP_UTF8);
    return Write(bytes.data(), static_cast<DWORD>(bytes.size()));
}

void Tell(CRunLog& log, const std::wstring& line)
{
    Say(line);
    log.Line(line);
}
