#include "check/CanonicalPath.h"
#include "platform/Handle.h"
#include <algorithm>

std::wstring FullPath(const std::wstring& path)
{
    std::wstring full(MAX_PATH, L'\0');
    DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH, &full[0], nullptr);
    if (length >= MAX_PATH) {
        full.resize(length);
        length = ::GetFullPathNameW(path.c_str(), length, &full[0], nullptr);
    }
    full.resize(length < full.size() ? length : 0);
    return full;
}

size_t RootLength(const std::wstring& full)
{
    if (full.size() >= 3 && full[1] == L':') return 3;
    const size_t server = full.find(L'\\', 2);
    const size_t share = server == std::wstring::npos ? server : full.find(L'\\', server + 1);
    return share == std::wstring::npos ? full.size() : share + 1;
}

std::wstring WithoutTrailingSeparator(std::wstring path)
{
    while (path.size() > RootLength(path) && path.back() == L'\\') path.pop_back();
    return path;
}

std::wstring Key(const std::wstring& path)
{
    std::wstring key(path);
    if (!key.empty())
        ::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, path.c_str(), static_cast<int>(path.size()), &key[0],
                       static_cast<int>(key.size()));
    return key;
}

namespace {

bool StartsWith(const std::wstring& s, LPCWSTR prefix)
{
    return s.compare(0, ::lstrlenW(prefix), prefix) == 0;
}

std::wstring WithoutPrefix(const std::wstring& path)
{
    if (StartsWith(path, L"\\\\?\\UNC\\") || StartsWith(path, L"\\\\.\\UNC\\")) return L"\\\\" + path.substr(8);
    if (StartsWith(path, L"\\\\?\\") || StartsWith(path, L"\\\\.\\")) return path.substr(4);
    return path;
}

// The long form of the path as far as it exists, followed by the rest as it is; empty when nothing
// from "from" on exists.
std::wstring LongHead(const std::wstring& full, size_t from)
{
    for (size_t end = from; end != std::wstring::npos && end >= RootLength(full); end = full.rfind(L'\\', end - 1)) {
        const std::wstring head = full.substr(0, end);
        std::wstring path(::GetLongPathNameW(head.c_str(), nullptr, 0), L'\0');
        if (path.empty()) continue;
        path.resize(::GetLongPathNameW(head.c_str(), &path[0], static_cast<DWORD>(path.size())));
        return path + full.substr(end);
    }
    return L"";
}

// The final path of an existing file or directory, links followed; empty when it cannot be opened.
// Looked up at run time: Windows XP has no such function, and the checker still starts there.
std::wstring FinalPath(const std::wstring& path)
{
    using GetFinalPathName = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
    static const auto getFinalPathName = reinterpret_cast<GetFinalPathName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
    if (!getFinalPathName) return L"";
    CHandle h(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.IsValid()) return L"";
    std::wstring final(getFinalPathName(h, nullptr, 0, 0), L'\0');
    if (final.empty()) return L"";
    final.resize(getFinalPathName(h, &final[0], static_cast<DWORD>(final.size()), 0));
    return WithoutPrefix(final);
}

}  // namespace

std::wstring LongPath(const std::wstring& path)
{
    const std::wstring full = FullPath(WithoutPrefix(path));
    const std::wstring longer = full.empty() ? full : LongHead(full, full.size());
    return longer.empty() ? full : longer;
}

std::wstring RealPath(const std::wstring& path, bool resolveLast)
{
    const std::wstring full = WithoutTrailingSeparator(LongPath(path));
    const size_t root = RootLength(full);
    // The deepest of its parents that exists, or the path itself.
    for (size_t end = resolveLast ? full.size() : full.rfind(L'\\'); end != std::wstring::npos && end + 1 >= root;
         end = full.rfind(L'\\', end - 1)) {
        std::wstring real = FinalPath(full.substr(0, std::max(end, root)));
        if (!real.empty()) {
            std::wstring rest = full.substr(end);
            if (!rest.empty() && real.back() == L'\\') rest.erase(0, 1);
            return WithoutTrailingSeparator(real + rest);
        }
        if (end == 0) break;
    }
    return full;
}

