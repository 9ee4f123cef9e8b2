#include "PendingDeletions.h"
#include <windows.h>

static const wchar_t SESSION_MANAGER[] = L"System\\CurrentControlSet\\Control\\Session Manager";
static const wchar_t PENDING[] = L"PendingFileRenameOperations";

// The value's strings, empty ones included; none when it is not there.
static std::vector<std::wstring> ReadPending(bool* exists = nullptr)
{
    HKEY key;
    DWORD size = 0;
    std::vector<wchar_t> data;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, SESSION_MANAGER, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        if (::RegQueryValueExW(key, PENDING, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
            data.resize(size / sizeof(wchar_t) + 2);
            ::RegQueryValueExW(key, PENDING, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size);
        }
        ::RegCloseKey(key);
    }
    if (exists) *exists = !data.empty();
    // Pairs of a path and its new name, empty for a deletion; the list's own closing NUL can read
    // as one string more.
    std::vector<std::wstring> strings;
    for (size_t at = 0; at < size / sizeof(wchar_t); at += strings.back().size() + 1) strings.emplace_back(&data[at]);
    if (strings.size() % 2 && strings.back().empty()) strings.pop_back();
    return strings;
}

PendingDeletions::PendingDeletions(const std::wstring& prefix) : m_prefix(L"\\??\\" + prefix)
{
    ReadPending(&m_existed);
}

std::vector<std::wstring> PendingDeletions::Under() const
{
    std::vector<std::wstring> paths;
    const std::vector<std::wstring> strings = ReadPending();
    for (size_t i = 0; i + 1 < strings.size(); i += 2)
        if (strings[i].compare(0, m_prefix.size(), m_prefix) == 0)
            paths.push_back(strings[i].substr(4) + (strings[i + 1].empty() ? L"" : L" -> " + strings[i + 1]));
    return paths;
}

// The pairs with the prefix, or everyone else's, as the value holds them.
static std::wstring Entries(const std::wstring& prefix, bool withPrefix)
{
    const std::vector<std::wstring> strings = ReadPending();
    std::wstring entries;
    for (size_t i = 0; i + 1 < strings.size(); i += 2)
        if ((strings[i].compare(0, prefix.size(), prefix) == 0) == withPrefix)
            entries += strings[i] + L'\0' + strings[i + 1] + L'\0';
    return entries;
}

static void WritePending(const std::wstring& entries, bool keepEmpty)
{
    HKEY key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, SESSION_MANAGER, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    if (entries.empty() && !keepEmpty) ::RegDeleteValueW(key, PENDING);
    else ::RegSetValueExW(key, PENDING, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>((entries + L'\0').c_str()),
                          static_cast<DWORD>((entries.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
}

void PendingDeletions::RestartAlone(const std::function<void()>& restart) const
{
    const std::wstring others = Entries(m_prefix, false);
    WritePending(Entries(m_prefix, true), false);
    restart();
    WritePending(others + Entries(m_prefix, false), false);
}

PendingDeletions::~PendingDeletions()
{
    WritePending(Entries(m_prefix, false), m_existed);
}
