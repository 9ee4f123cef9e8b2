#include "check/RemovalForecast.h"
#include "uninstall/Manifest.h"
#include <algorithm>
#include <climits>
#include <map>

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

namespace {

// Owns a directory search and ends it when it goes; cannot be copied.
class CFindHandle {
public:
    explicit CFindHandle(HANDLE h) : m_h(h) {}
    ~CFindHandle() { if (IsValid()) ::FindClose(m_h); }
    CFindHandle(const CFindHandle&) = delete;
    CFindHandle& operator=(const CFindHandle&) = delete;

    bool IsValid() const { return m_h != INVALID_HANDLE_VALUE; }
    operator HANDLE() const { return m_h; }

private:
    HANDLE m_h;
};

std::wstring WithoutTrailingSeparator(std::wstring path)
{
    while (path.size() > 1 && path.back() == L'\\' && path[path.size() - 2] != L':') path.pop_back();
    return path;
}

std::wstring Join(const std::wstring& directory, LPCWSTR pszName)
{
    return directory + (directory.back() == L'\\' ? L"" : L"\\") + pszName;
}

// File names match without regard to case.
std::wstring Key(const std::wstring& path)
{
    std::wstring key(path);
    if (!key.empty())
        ::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, path.c_str(), static_cast<int>(path.size()), &key[0],
                       static_cast<int>(key.size()));
    return key;
}

struct Node {
    std::wstring path;
    int parent;
    DWORD attributes;
    bool present = true;
    bool pinned = false;
    bool expected = false;
    int children = 0;
    int removedAtTurn = -1;

    bool IsDir() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};

// Every file and directory under a folder as the disk has them, and what the removal takes away.
class CFolderPicture {
public:
    bool Load(const std::wstring& folder, std::wstring& unreadable);
    bool Contains(const std::wstring& path) const;
    int Find(const std::wstring& path) const;
    int Add(const std::wstring& path, int parent, DWORD attributes);
    void Take(int n);
    bool IsInside(int n, int ancestor) const;

    std::vector<Node> nodes;

private:
    std::wstring m_rootKey;
    std::map<std::wstring, int> m_index;
};

bool CFolderPicture::Load(const std::wstring& folder, std::wstring& unreadable)
{
    m_rootKey = Key(folder);
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        unreadable = folder;
        return false;
    }
    Add(folder, -1, attributes);
    // The removal never descends into a junction or link: it goes as an empty directory does.
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (!nodes[i].IsDir() || (nodes[i].attributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        const std::wstring directory = nodes[i].path;
        WIN32_FIND_DATAW found;
        CFindHandle find(::FindFirstFileW(Join(directory, L"*").c_str(), &found));
        if (!find.IsValid()) {
            if (::GetLastError() == ERROR_FILE_NOT_FOUND) continue;
            unreadable = directory;
            return false;
        }
        do {
            if (lstrcmpW(found.cFileName, L".") != 0 && lstrcmpW(found.cFileName, L"..") != 0)
                Add(Join(directory, found.cFileName), static_cast<int>(i), found.dwFileAttributes);
        } while (::FindNextFileW(find, &found));
    }
    return true;
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

bool CFolderPicture::IsInside(int n, int ancestor) const
{
    for (n = nodes[n].parent; n >= 0; n = nodes[n].parent)
        if (n == ancestor) return true;
    return false;
}

// A removal that fails at the time; whether it matters is known only at the end.
struct Failure {
    size_t outcome;
    int node;
    int turn;
};

}  // namespace

bool ForecastRemoval(const RemovalPlan& plan, RemovalForecast& forecast, std::wstring& unreadable)
{
    CFolderPicture picture;
    if (!picture.Load(WithoutTrailingSeparator(plan.folder), unreadable)) return false;
    std::vector<Node>& nodes = picture.nodes;
    std::vector<EntryOutcome>& outcomes = forecast.outcomes;
    std::vector<Failure> failures;

    // Before the first removal the manifest is deleted; the executable beside it runs throughout.
    const int manifest = picture.Find(plan.manifest);
    if (manifest >= 0 && !(nodes[manifest].attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
        picture.Take(manifest);
    const std::wstring exeFolder =
        WithoutTrailingSeparator(static_cast<LPCWSTR>(DirectoryOfPath(plan.manifest.c_str())));
    const std::wstring exePath = Join(exeFolder, L"Uninst.exe");
    int exe = picture.Find(exePath);
    const int holder = picture.Find(exeFolder);
    if (exe < 0 && holder >= 0 && nodes[holder].IsDir()) exe = picture.Add(exePath, holder, FILE_ATTRIBUTE_NORMAL);
    if (exe >= 0) nodes[exe].pinned = true;

    // The node an entry names; -1 when it names nothing under the folder, which is noted.
    auto locate = [&](LPCWSTR section, const ManifestEntry& entry, bool& trailing) {
        const std::wstring full = FullPath(entry.path);
        const std::wstring path = WithoutTrailingSeparator(full);
        trailing = path != full;
        if (path.empty() || !picture.Contains(path)) {
            outcomes.push_back({L"outside", section, entry.key, L"", entry.path});
            return -1;
        }
        const int n = picture.Find(path);
        if (n < 0) outcomes.push_back({L"missing", section, entry.key, L"", entry.path});
        return n;
    };
    auto fail = [&](LPCWSTR section, const ManifestEntry& entry, int n, LPCWSTR reason, int turn) {
        failures.push_back({outcomes.size(), n, turn});
        outcomes.push_back({L"stays", section, entry.key, reason, entry.path});
    };

    for (const ManifestEntry& entry : plan.files) {
        bool trailing;
        const int n = locate(L"Files", entry, trailing);
        if (n < 0 || !nodes[n].present || nodes[n].pinned) continue;
        if (nodes[n].IsDir())
            fail(L"Files", entry, n, L"a directory, not a file", -1);
        else if (trailing)
            fail(L"Files", entry, n, L"ends in a separator", -1);
        else if (nodes[n].attributes & FILE_ATTRIBUTE_READONLY)
            fail(L"Files", entry, n, L"read-only", -1);
        else
            picture.Take(n);
    }
    for (size_t turn = 0; turn < plan.dirs.size(); ++turn) {
        const ManifestEntry& entry = plan.dirs[turn];
        bool trailing;
        const int n = locate(L"Dirs", entry, trailing);
        if (n < 0 || !nodes[n].present) continue;
        if (!nodes[n].IsDir()) {
            fail(L"Dirs", entry, n, L"a file, not a directory", -1);
        } else if (nodes[n].children > 0) {
            fail(L"Dirs", entry, n, L"", static_cast<int>(turn));
        } else {
            picture.Take(n);
            nodes[n].removedAtTurn = static_cast<int>(turn);
        }
    }

    // After the process has ended its script deletes the executable; its folder is left, empty.
    if (exe >= 0 && nodes[exe].present) {
        picture.Take(exe);
        for (int n = nodes[exe].parent; n >= 0 && nodes[n].present; n = nodes[n].parent) {
            nodes[n].expected = true;
            forecast.expected.push_back(nodes[n].path);
        }
    }

    for (const Failure& failure : failures) {
        EntryOutcome& outcome = outcomes[failure.outcome];
        const Node& node = nodes[failure.node];
        if (!node.present || node.expected) {
            outcome.word = nullptr;
        } else if (failure.turn >= 0) {
            // Not empty at its turn: either something inside stays, or what was inside went later.
            int first = INT_MAX;
            for (size_t n = 0; n < nodes.size(); ++n)
                if (nodes[n].removedAtTurn > failure.turn && picture.IsInside(static_cast<int>(n), failure.node))
                    first = std::min(first, nodes[n].removedAtTurn);
            outcome.reason = node.children > 0 || first == INT_MAX
                                 ? L"not empty: something inside it stays"
                                 : L"not empty at its turn: listed before key " +
                                       std::to_wstring(plan.dirs[first].key) + L", a directory inside it";
        }
    }
    outcomes.erase(std::remove_if(outcomes.begin(), outcomes.end(), [](const EntryOutcome& o) { return !o.word; }),
                   outcomes.end());

    for (const Node& node : nodes)
        if (node.present && !node.expected) forecast.left.push_back({node.IsDir(), node.path});
    std::sort(forecast.left.begin(), forecast.left.end(),
              [](const Leftover& a, const Leftover& b) { return Key(a.path) < Key(b.path); });
    return true;
}
