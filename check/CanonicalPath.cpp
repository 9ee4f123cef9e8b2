#include "check/CanonicalPath.h"
#include "platform/Handle.h"
#include <algorithm>

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

const WCHAR LITERAL[] = L"\\\\?\\";
const WCHAR DEVICE[] = L"\\\\.\\";

// Object names such as "UNC" and "Volume{…}" match without regard to case.
bool StartsWith(const std::wstring& s, LPCWSTR prefix)
{
    const size_t n = ::lstrlenW(prefix);
    return s.size() >= n && ::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, s.c_str(), static_cast<int>(n), prefix,
                                             static_cast<int>(n)) == CSTR_EQUAL;
}

bool IsLiteral(const std::wstring& path)
{
    return path.compare(0, 4, LITERAL) == 0;
}

// GetFullPathNameW, which parses a \\?\ path too: only for paths given without it.
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

// The first drive or folder where the volume is mounted; empty when it is mounted nowhere.
std::wstring MountPoint(const std::wstring& volume)
{
    DWORD size = MAX_PATH;
    std::wstring mounts(size, L'\0');
    if (!::GetVolumePathNamesForVolumeNameW(volume.c_str(), &mounts[0], size, &size)) {
        if (::GetLastError() != ERROR_MORE_DATA) return L"";
        mounts.resize(size);
        if (!::GetVolumePathNamesForVolumeNameW(volume.c_str(), &mounts[0], size, &size)) return L"";
    }
    return mounts.c_str();
}

// A path after \\?\ or \\.\ as a drive or share path; empty for any other device.
std::wstring DrivePath(const std::wstring& path)
{
    if (!IsLiteral(path) && path.compare(0, 4, DEVICE) != 0) return path;
    const std::wstring rest = path.substr(4);
    if (rest.size() >= 3 && rest[1] == L':' && rest[2] == L'\\') return rest;
    if (StartsWith(rest, L"UNC\\")) return L"\\" + rest.substr(3);
    const size_t root = rest.find(L'\\');
    if (!StartsWith(rest, L"Volume{") || root == std::wstring::npos) return L"";
    const std::wstring mount = MountPoint(LITERAL + rest.substr(0, root + 1));
    return mount.empty() ? mount : mount + rest.substr(root + 1);
}

// The length of the head of a full path that reads the same with or without \\?\: it ends before
// the first name that the usual parsing would change.
size_t ParsedAlike(const std::wstring& full)
{
    for (size_t start = RootLength(full); start < full.size();) {
        const size_t end = std::min(full.find(L'\\', start), full.size());
        const WCHAR last = end == start ? L'.' : full[end - 1];
        if (last == L'.' || last == L' ' || full.find(L'/', start) < end) return start - 1;
        start = end + 1;
    }
    return full.size();
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
std::wstring FinalPath(const std::wstring& path)
{
    CHandle h(::CreateFileW(Literal(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.IsValid()) return L"";
    std::wstring final(::GetFinalPathNameByHandleW(h, nullptr, 0, 0), L'\0');
    if (final.empty()) return L"";
    final.resize(::GetFinalPathNameByHandleW(h, &final[0], static_cast<DWORD>(final.size()), 0));
    return DrivePath(final);
}

}  // namespace

PathFault FaultOf(const std::wstring& path)
{
    if (path.find_first_of(L"?*", IsLiteral(path) ? 4 : 0) != std::wstring::npos) return PathFault::Unspellable;
    if (IsLiteral(path) && path.find(L'/') != std::wstring::npos) return PathFault::Slash;
    const std::wstring full = CanonicalPath(path);
    if (full.empty()) return PathFault::UnknownRoot;
    const size_t alike = IsLiteral(path) ? ParsedAlike(full) : full.size();
    if (alike == full.size()) return PathFault::None;
    const std::wstring name = full.substr(alike + 1, full.find(L'\\', alike + 1) - alike - 1);
    return name.empty() || name == L"." || name == L".." ? PathFault::RelativePart : PathFault::TrailingDotOrSpace;
}

std::wstring CanonicalPath(const std::wstring& path)
{
    return DrivePath(IsLiteral(path) ? path : FullPath(path));
}

std::wstring LongPath(const std::wstring& path)
{
    // Short names are looked up only as far as the path reads the same without \\?\, and then
    // without it: Wine's GetLongPathNameW returns a \\?\ path unchanged.
    const std::wstring full = CanonicalPath(path);
    const std::wstring longer = full.empty() ? full : LongHead(full, IsLiteral(path) ? ParsedAlike(full) : full.size());
    return longer.empty() ? full : longer;
}

std::wstring RealPath(const std::wstring& path, bool resolveLast)
{
    const std::wstring full = WithoutTrailingSeparator(LongPath(path));
    if (full.empty()) return full;
    const size_t root = RootLength(full);
    // The deepest of its parents that exists, or the path itself; the names from the first one that
    // only \\?\ keeps on are taken as written.
    const size_t alike = IsLiteral(path) ? ParsedAlike(full) : full.size();
    for (size_t end = std::min(resolveLast ? full.size() : full.rfind(L'\\'), alike);
         end != std::wstring::npos && end + 1 >= root; end = full.rfind(L'\\', end - 1)) {
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

std::wstring WithParsing(const std::wstring& path)
{
    return IsLiteral(path) ? DEVICE + path.substr(4) : path;
}

std::wstring Literal(const std::wstring& full)
{
    return full.compare(0, 2, L"\\\\") == 0 ? L"\\\\?\\UNC" + full.substr(1) : LITERAL + full;
}
