#include "check/RemovalForecast.h"
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

// The length of "C:\" or of "\\server\share\" at the start of a full path.
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

bool CFolderPicture::Load(const std::wstring& folder, std::wstring& unreadable)
{
    m_rootKey = Key(folder);
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        unreadable = folder;
        return false;
    }
    Add(folder, -1, attributes & ~FILE_ATTRIBUTE_REPARSE_POINT);
    // The removal never descends into a junction or link: it goes as an empty directory does. Nor
    // does the walk, so that a link to a folder above it cannot make it loop.
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

bool CFolderPicture::IsInside(int n, int ancestor) const
{
    for (n = nodes[n].parent; n >= 0; n = nodes[n].parent)
        if (n == ancestor) return true;
    return false;
}

namespace {

const int NOWHERE = -1;

// One run of Uninst.exe played on a picture of the folder, step by step as it happens.
class CRemoval {
public:
    CRemoval(const CFolderPicture& disk, const RemovalPlan& plan) : m_picture(disk), m_plan(plan) {}

    RemovalForecast Play()
    {
        Locate();
        Start();
        DeleteFiles();
        RemoveDirectories();
        RunScript();
        JudgeFailures();
        ListLeftovers();
        return m_forecast;
    }

private:
    struct Target {
        int node;
        bool trailing;
    };

    // The node each entry names; NOWHERE, with an outcome, when it names nothing in the folder.
    void Locate()
    {
        for (size_t i = 0; i < m_plan.files.size(); ++i) m_files.push_back(Locate(false, i, m_plan.files[i]));
        for (size_t i = 0; i < m_plan.dirs.size(); ++i) m_dirs.push_back(Locate(true, i, m_plan.dirs[i]));
    }

    Target Locate(bool dirs, size_t index, const ManifestEntry& entry)
    {
        const std::wstring full = FullPath(entry.path);
        const std::wstring real = RealPath(entry.path, false);
        const bool trailing = !full.empty() && full.back() == L'\\' && full.size() > RootLength(full);
        if (real.empty() || !m_picture.Contains(real)) {
            const bool linked = !real.empty() && m_picture.Contains(WithoutTrailingSeparator(LongPath(entry.path)));
            m_forecast.outcomes.push_back({Outcome::Outside, dirs, index, Failure::None, 0, linked ? real : L""});
            return {NOWHERE, trailing};
        }
        const int n = m_picture.Find(real);
        if (n == NOWHERE) m_forecast.outcomes.push_back({Outcome::Missing, dirs, index, Failure::None, 0, L""});
        return {n, trailing};
    }

    // Before the first removal the manifest is deleted; the executable beside it runs throughout.
    void Start()
    {
        m_manifest = m_picture.Find(m_plan.manifest);
        if (m_manifest != NOWHERE && (m_plan.placed || !Nodes()[m_manifest].IsReadOnly())) m_picture.Take(m_manifest);
        m_exe = m_picture.Find(m_plan.exe);
        const int holder = m_picture.Find(m_plan.exe.substr(0, m_plan.exe.rfind(L'\\')));
        if (m_exe == NOWHERE && holder != NOWHERE && Nodes()[holder].IsDir())
            m_exe = m_picture.Add(m_plan.exe, holder, FILE_ATTRIBUTE_NORMAL);
    }

    void DeleteFiles()
    {
        for (size_t i = 0; i < m_files.size(); ++i) {
            const int n = m_files[i].node;
            if (n == NOWHERE || !Nodes()[n].present || n == m_exe) continue;
            if (Nodes()[n].IsDir())
                Fail(false, i, Failure::NotAFile);
            else if (m_files[i].trailing)
                Fail(false, i, Failure::EndsInSeparator);
            else if (Nodes()[n].IsReadOnly())
                Fail(false, i, Failure::ReadOnly);
            else
                m_picture.Take(n);
        }
    }

    // Only empty directories go. A junction or link goes as itself, whatever its target holds.
    void RemoveDirectories()
    {
        for (size_t i = 0; i < m_dirs.size(); ++i) {
            const int n = m_dirs[i].node;
            if (n == NOWHERE || !Nodes()[n].present) continue;
            if (!Nodes()[n].IsDir()) {
                Fail(true, i, Failure::NotADirectory);
            } else if (Nodes()[n].children > 0) {
                Fail(true, i, Failure::NotEmpty);
            } else if (Nodes()[n].IsReadOnly()) {
                // Windows refuses to delete a directory with the read-only attribute; Wine does not.
                Fail(true, i, Failure::ReadOnlyDirectory);
            } else {
                m_picture.Take(n);
                m_removed.push_back(i);
            }
        }
    }

    // After the process has ended its script deletes the executable, unless it is read-only: Del
    // leaves a read-only file. Its folder is left, empty.
    void RunScript()
    {
        if (m_exe == NOWHERE) return;
        if (!Nodes()[m_exe].IsReadOnly()) m_picture.Take(m_exe);
        for (int n = Nodes()[m_exe].parent; n != NOWHERE && Nodes()[n].present; n = Nodes()[n].parent) {
            Nodes()[n].expected = true;
            m_forecast.expected.push_back(Nodes()[n].path);
        }
    }

    // A failure matters only if what the entry names is still there at the end.
    void JudgeFailures()
    {
        std::vector<EntryOutcome> outcomes;
        for (EntryOutcome& outcome : m_forecast.outcomes) {
            if (outcome.kind != Outcome::Fails) {
                outcomes.push_back(outcome);
                continue;
            }
            const int n = (outcome.dirs ? m_dirs : m_files)[outcome.index].node;
            if (!Nodes()[n].present || Nodes()[n].expected) continue;
            if (outcome.failure == Failure::NotEmpty && Nodes()[n].children == 0) {
                // Nothing inside stays: what was inside went at a later turn.
                for (size_t turn : m_removed)
                    if (turn > outcome.index && m_picture.IsInside(m_dirs[turn].node, n)) {
                        outcome.failure = Failure::NotEmptyAtItsTurn;
                        outcome.laterKey = m_plan.dirs[turn].key;
                        break;
                    }
            }
            m_failing[n] = outcomes.size();
            outcomes.push_back(outcome);
        }
        m_forecast.outcomes = outcomes;
    }

    void ListLeftovers()
    {
        // A relative path is taken as relative to the folder of Uninst.exe, as its author most likely meant it.
        const std::wstring exeFolder = m_plan.exe.substr(0, m_plan.exe.rfind(L'\\') + 1);
        std::map<int, const SectionKey*> skipped;
        for (const SectionKey& key : m_plan.skipped) {
            const bool relative = !key.path.empty() && key.path[0] != L'\\' && key.path[0] != L'/' &&
                                  key.path.find(L':') == std::wstring::npos;
            if (!relative && !IsFullyQualifiedPath(key.path.c_str())) continue;
            const int n = m_picture.Find(RealPath(relative ? exeFolder + key.path : key.path, false));
            if (n != NOWHERE && !skipped.count(n)) skipped[n] = &key;
        }
        for (size_t n = 0; n < Nodes().size(); ++n) {
            const Node& node = Nodes()[n];
            if (!node.present || node.expected) continue;
            Leftover left{node.IsDir(), LeftReason::NotListed, false, L"", node.path};
            const int i = static_cast<int>(n);
            if (i == m_exe) {
                left.reason = LeftReason::ReadOnlyExe;
            } else if (i == m_manifest) {
                left.reason = LeftReason::ReadOnlyManifest;
            } else if (m_failing.count(i)) {
                const EntryOutcome& outcome = m_forecast.outcomes[m_failing[i]];
                const ManifestEntry& entry = (outcome.dirs ? m_plan.dirs : m_plan.files)[outcome.index];
                left = {node.IsDir(), LeftReason::EntryFails, outcome.dirs, std::to_wstring(entry.key), node.path};
            } else if (skipped.count(i)) {
                left = {node.IsDir(), LeftReason::EntrySkipped, skipped[i]->dirs, skipped[i]->key, node.path};
            }
            m_forecast.left.push_back(left);
        }
        std::sort(m_forecast.left.begin(), m_forecast.left.end(),
                  [](const Leftover& a, const Leftover& b) { return Key(a.path) < Key(b.path); });
    }

    void Fail(bool dirs, size_t index, Failure failure)
    {
        m_forecast.outcomes.push_back({Outcome::Fails, dirs, index, failure, 0, L""});
    }

    std::vector<Node>& Nodes() { return m_picture.nodes; }

    CFolderPicture m_picture;
    const RemovalPlan& m_plan;
    RemovalForecast m_forecast;
    std::vector<Target> m_files, m_dirs;
    int m_manifest = NOWHERE, m_exe = NOWHERE;
    // The turns in the list of directories at which one was removed.
    std::vector<size_t> m_removed;
    // The nodes that stay because their entry fails, with that entry's outcome.
    std::map<int, size_t> m_failing;
};

}  // namespace

RemovalForecast ForecastRemoval(const CFolderPicture& disk, const RemovalPlan& plan)
{
    return CRemoval(disk, plan).Play();
}
