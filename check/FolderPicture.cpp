#include "check/FolderPicture.h"
#include "check/CanonicalPath.h"
#include "platform/Handle.h"

namespace {

std::wstring Join(const std::wstring& directory, LPCWSTR pszName)
{
    return directory + (directory.back() == L'\\' ? L"" : L"\\") + pszName;
}

}  // namespace

bool CFolderPicture::Load(const std::wstring& folder)
{
    m_rootKey = Key(folder);
    const DWORD attributes = ::GetFileAttributesW(Literal(folder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    Add(folder, -1, attributes & ~FILE_ATTRIBUTE_REPARSE_POINT);
    for (size_t i = 0; i < nodes.size(); ++i) List(static_cast<int>(i));
    return !nodes[0].unreadable;
}

int CFolderPicture::Attach(const std::wstring& path)
{
    int n = Find(path);
    if (n < 0) {
        const DWORD attributes = ::GetFileAttributesW(Literal(path).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return -1;
        n = Add(path, -1, attributes);
    }
    List(n);
    return n;
}

// The removal never descends into a junction or link: it goes as an empty directory does. Nor does
// the walk, so that a link to a folder above it cannot make it loop. Windows lists a folder deeper
// than MAX_PATH only by its \\?\ path.
void CFolderPicture::List(int n)
{
    if (!nodes[n].IsDir() || (nodes[n].attributes & FILE_ATTRIBUTE_REPARSE_POINT) || nodes[n].listed) return;
    nodes[n].listed = true;
    const std::wstring directory = nodes[n].path;
    WIN32_FIND_DATAW found;
    CFindHandle find(::FindFirstFileW(Literal(Join(directory, L"*")).c_str(), &found));
    if (!find.IsValid()) {
        nodes[n].unreadable = ::GetLastError() != ERROR_FILE_NOT_FOUND;
        return;
    }
    do {
        if (lstrcmpW(found.cFileName, L".") == 0 || lstrcmpW(found.cFileName, L"..") == 0) continue;
        const std::wstring path = Join(directory, found.cFileName);
        const int known = Find(path);
        if (known < 0) {
            Add(path, n, found.dwFileAttributes);
        } else if (nodes[known].parent < 0) {
            nodes[known].parent = n;
            ++nodes[n].children;
        }
    } while (::FindNextFileW(find, &found));
}

bool CFolderPicture::InUse(int n) const
{
    CHandle file(::CreateFileW(Literal(nodes[n].path).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return !file.IsValid() && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

bool CFolderPicture::Contains(const std::wstring& path) const
{
    const std::wstring key = Key(path);
    const size_t n = m_rootKey.size();
    return key.compare(0, n, m_rootKey) == 0 && (key.size() == n || m_rootKey.back() == L'\\' || key[n] == L'\\');
}

int CFolderPicture::Find(const std::wstring& path) const
{
    const auto found = m_index.find(Key(path));
    return found == m_index.end() ? -1 : found->second;
}

std::vector<int> CFolderPicture::FindFiles(LPCWSTR pszName) const
{
    const std::wstring name = Key(std::wstring(L"\\") + pszName);
    std::vector<int> files;
    for (size_t n = 0; n < nodes.size(); ++n) {
        const std::wstring key = Key(nodes[n].path);
        if (!nodes[n].IsDir() && key.size() > name.size() && key.compare(key.size() - name.size(), name.size(), name) == 0)
            files.push_back(static_cast<int>(n));
    }
    return files;
}

int CFolderPicture::Add(const std::wstring& path, int parent, DWORD attributes)
{
    nodes.push_back({path, parent, attributes});
    if (parent >= 0) ++nodes[parent].children;
    return m_index[Key(path)] = static_cast<int>(nodes.size() - 1);
}

void CFolderPicture::Take(int n)
{
    nodes[n].present = false;
    if (nodes[n].parent >= 0) --nodes[nodes[n].parent].children;
}

int CFolderPicture::Holder(const std::wstring& path) const
{
    for (size_t end = path.rfind(L'\\'); end != std::wstring::npos && end > 0; end = path.rfind(L'\\', end - 1)) {
        const int n = Find(path.substr(0, end));
        if (n >= 0) return n;
    }
    return -1;
}

bool CFolderPicture::IsInside(int n, int ancestor) const
{
    for (n = nodes[n].parent; n >= 0; n = nodes[n].parent)
        if (n == ancestor) return true;
    return false;
}
