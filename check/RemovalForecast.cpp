#include "check/RemovalForecast.h"
#include "check/PictureSite.h"
#include <algorithm>
#include <map>

namespace {

const int NOWHERE = -1;

// One run of Uninst.exe played on a picture of the folder: the removal by Uninst.exe's own rules,
// then the script after exit, then the next restart; and what that leaves, and why.
class CForecast {
public:
    CForecast(const CFolderPicture& disk, const RemovalPlan& plan) : m_picture(disk), m_site(m_picture), m_plan(plan) {}

    RemovalForecast Play()
    {
        Start();
        if (NamesNothingHere(m_run, m_site)) {
            m_forecast.outcome = NOTHING_LISTED_HERE;
        } else {
            m_forecast.outcome = RemoveListed(m_run, m_site);
            Judge();
            RunScript();
            Restart();
        }
        JudgeExeFolders();
        ListLeftovers();
        m_forecast.box = static_cast<LPCWSTR>(ChooseEndBox(m_forecast.outcome, m_run).text);
        m_forecast.silentCode = ExitCode(m_forecast.outcome, RUN_UNATTENDED);
        m_forecast.keptForRetry = KeepsForARetry(m_forecast.outcome, RUN_UNATTENDED);
        return m_forecast;
    }

private:
    // The executable runs throughout, and the manifest beside it stays until its script deletes both.
    // A manifest placed there replaces whatever lies there now.
    void Start()
    {
        m_manifest = m_picture.Find(m_plan.manifest);
        if (m_manifest != NOWHERE && m_plan.placed) Nodes()[m_manifest].attributes &= ~FILE_ATTRIBUTE_READONLY;
        m_exe = m_picture.Find(m_plan.exe);
        const int holder = m_picture.Find(m_plan.exe.substr(0, m_plan.exe.rfind(L'\\')));
        if (m_exe == NOWHERE && holder != NOWHERE && Nodes()[holder].IsDir())
            m_exe = m_picture.Add(m_plan.exe, holder, FILE_ATTRIBUTE_NORMAL);
        m_run.exe = m_plan.exe.c_str();
        m_run.manifest = m_plan.manifest.c_str();
        for (const ManifestEntry& entry : m_plan.files) m_run.files.AddTail(entry.path.c_str());
        for (const ManifestEntry& entry : m_plan.dirs) m_run.dirs.AddTail(entry.path.c_str());
        for (bool dirs : {false, true}) {
            const std::vector<ManifestEntry>& list = dirs ? m_plan.dirs : m_plan.files;
            for (size_t i = 0; i < list.size(); ++i) Locate(dirs, i, list[i]);
        }
    }

    // The node each entry names as the removal starts, for what the report says of it.
    void Locate(bool dirs, size_t index, const ManifestEntry& entry)
    {
        DWORD error;
        const int n = m_site.Locate(entry.path, error);
        m_nodes[dirs].push_back(n);
        if (n == NOWHERE) return;
        const auto first = m_first[dirs].emplace(n, index);
        if (!first.second) m_forecast.repeats.push_back({dirs, index, first.first->second});
    }

    // What the report says of each entry, by the fate that the rules gave it: first where each lies
    // and what names nothing, then what fails.
    void Judge()
    {
        const size_t files = m_plan.files.size(), count = files + m_plan.dirs.size();
        for (size_t i = 0; i < count; ++i) {
            const bool dirs = i >= files;
            const size_t index = dirs ? i - files : i;
            const ManifestEntry& entry = (dirs ? m_plan.dirs : m_plan.files)[index];
            const EntryFate fate = m_run.fates[static_cast<int>(i)];
            const PathFault fault = FaultOf(entry.path);
            const int n = m_nodes[dirs][index];
            if (fault == PathFault::None && fate.fate != FATE_NOT_FOLLOWED) {
                const std::wstring real = RealPath(entry.path, false);
                const bool linked = !real.empty() && m_picture.Contains(WithoutTrailingSeparator(LongPath(entry.path)));
                if (real.empty() || !m_picture.Contains(real)) Add(Finding::Outside, dirs, index, Failure::None, linked ? real : L"");
            }
            if (fault == PathFault::Unspellable) Add(Finding::Unspellable, dirs, index, Failure::None, L"", fault);
            else if (fate.fate == FATE_ABSENT && n == NOWHERE) Misses(dirs, index, fault);
            else if (fate.fate == FATE_STAYED && fate.error == ERROR_NOT_SUPPORTED && n == NOWHERE)
                Add(Finding::Unknown, dirs, index, fault == PathFault::UnknownRoot ? Failure::None : Failure::Unreadable, L"",
                    fault == PathFault::UnknownRoot ? fault : PathFault::None);
        }
        for (size_t i = 0; i < count; ++i) {
            const bool dirs = i >= files;
            const size_t index = dirs ? i - files : i;
            const EntryFate fate = m_run.fates[static_cast<int>(i)];
            const int n = m_nodes[dirs][index];
            if (fate.fate == FATE_NOT_FOLLOWED) {
                const std::wstring& path = (dirs ? m_plan.dirs : m_plan.files)[index].path;
                Add(Finding::Fails, dirs, index, Failure::LinkInPath, static_cast<LPCWSTR>(m_site.LinkInPath(path.c_str())));
            }
            if (n == NOWHERE) continue;
            if (fate.fate == FATE_ABSENT) Add(Finding::Fails, dirs, index, Failure::EndsInSeparator);
            if (fate.fate == FATE_AT_RESTART) Add(Finding::Fails, dirs, index, dirs ? Failure::NotEmpty : Failure::InUse);
            if (fate.fate == FATE_KEPT) Add(Finding::Fails, dirs, index, Failure::NotEmpty);
            if (fate.fate == FATE_STAYED) Add(Finding::Fails, dirs, index, FailureOf(fate.error, n, dirs));
        }
    }

    Failure FailureOf(DWORD error, int n, bool dirs)
    {
        const Node& node = Nodes()[n];
        if (error == ERROR_NOT_SUPPORTED) return Failure::Unreadable;
        if (error == ERROR_DIRECTORY) return Failure::NotADirectory;
        if (!dirs && node.IsDir()) return Failure::NotAFile;
        return node.IsDir() ? Failure::ReadOnlyDirectory : Failure::ReadOnly;
    }

    void Add(Finding kind, bool dirs, size_t index, Failure failure, const std::wstring& leadsTo = L"",
             PathFault fault = PathFault::None)
    {
        m_forecast.outcomes.push_back({kind, dirs, index, failure, leadsTo, fault});
    }

    // An entry that names nothing there. One taken literally after \\?\: what it names with the usual
    // parsing stays for want of it.
    void Misses(bool dirs, size_t index, PathFault fault)
    {
        const ManifestEntry& entry = (dirs ? m_plan.dirs : m_plan.files)[index];
        if (fault == PathFault::RelativePart || fault == PathFault::Slash || fault == PathFault::TrailingDotOrSpace) {
            const int meant = m_picture.Find(RealPath(WithParsing(entry.path), false));
            if (meant != NOWHERE && !m_literal.count(meant)) m_literal[meant] = {dirs, std::to_wstring(entry.key), L""};
        } else {
            fault = PathFault::None;
        }
        Add(Finding::Missing, dirs, index, Failure::None, L"", fault);
    }

    // After the process has ended its script deletes the executable and then the manifest, whatever
    // their attributes: Uninst.exe clears read-only from its own two files first. Then it removes the
    // folders that go with them, deepest first, each while it is empty. This is the desktop's run,
    // which does so whatever stayed.
    void RunScript()
    {
        if (m_exe == NOWHERE) return;
        m_picture.Take(m_exe);
        if (m_manifest != NOWHERE && Nodes()[m_manifest].present) m_picture.Take(m_manifest);
        CStringList folders;
        FoldersAbove(m_run, m_site, false, folders);
        for (INT_PTR i = 0; i < folders.GetCount(); ++i) {
            const int n = m_picture.Find(RealPath(static_cast<LPCWSTR>(folders.GetAt(folders.FindIndex(i))), false));
            if (n == NOWHERE || Nodes()[n].children > 0 || Nodes()[n].IsReadOnly()) break;
            m_picture.Take(n);
            m_afterExit.push_back(n);
        }
    }

    // At the next restart the system deletes what was scheduled, in order; a folder only when it is
    // empty by then.
    void Restart()
    {
        for (int n : m_site.scheduled)
            if (Nodes()[n].present && (!Nodes()[n].IsDir() || Nodes()[n].children == 0)) m_picture.Take(n);
    }

    bool IsListed(int n) const { return std::count(m_nodes[1].begin(), m_nodes[1].end(), n) > 0; }

    // The folder of Uninst.exe and each one above it, up to the installation folder, and above that
    // each one the script removes.
    void JudgeExeFolders()
    {
        if (m_exe == NOWHERE) return;
        for (int n = Nodes()[m_exe].parent; n != NOWHERE; n = Nodes()[n].parent) {
            Node& node = Nodes()[n];
            const bool afterExit = std::count(m_afterExit.begin(), m_afterExit.end(), n) > 0;
            if (!afterExit && !m_picture.Contains(node.path)) break;
            node.expected = true;
            FolderFate fate = FolderFate::NotEmpty;
            if (m_forecast.outcome == NOTHING_LISTED_HERE) fate = FolderFate::Refused;
            else if (afterExit) fate = FolderFate::RemovedAfterExit;
            else if (!node.present) fate = FolderFate::RemovedAtRestart;
            else if (!IsListed(n)) fate = FolderFate::Unlisted;
            else if (node.children == 0 && node.IsReadOnly()) fate = FolderFate::ReadOnly;
            m_forecast.expected.push_back({node.path, fate});
        }
    }

    void ListLeftovers()
    {
        // A failure matters only if what the entry names is still there at the end.
        std::vector<EntryOutcome> outcomes;
        for (const EntryOutcome& outcome : m_forecast.outcomes) {
            const int n = m_nodes[outcome.dirs][outcome.index];
            if (outcome.kind == Finding::Fails && n != NOWHERE) {
                if (outcome.failure != Failure::InUse && (!Nodes()[n].present || Nodes()[n].expected)) continue;
                m_failing[n] = outcomes.size();
            }
            outcomes.push_back(outcome);
        }
        m_forecast.outcomes = outcomes;
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
            if (!node.present || node.expected || !m_picture.Contains(node.path)) continue;
            Leftover left{node.IsDir(), LeftReason::NotListed, false, L"", node.path};
            const int i = static_cast<int>(n);
            if (node.unreadable) {
                left.reason = LeftReason::Unreadable;
            } else if (m_failing.count(i)) {
                const EntryOutcome& outcome = m_forecast.outcomes[m_failing[i]];
                const ManifestEntry& entry = (outcome.dirs ? m_plan.dirs : m_plan.files)[outcome.index];
                left = {node.IsDir(), LeftReason::EntryFails, outcome.dirs, std::to_wstring(entry.key), node.path};
            } else if (skipped.count(i)) {
                left = {node.IsDir(), LeftReason::EntrySkipped, skipped[i]->dirs, skipped[i]->key, node.path};
            } else if (m_literal.count(i)) {
                left = {node.IsDir(), LeftReason::EntryLiteral, m_literal[i].dirs, m_literal[i].key, node.path};
            } else if (m_forecast.outcome == NOTHING_LISTED_HERE) {
                left.reason = LeftReason::Refused;
            } else if (node.path.size() >= MAX_PATH) {
                // Written out, its entry would be longer than the MAX_PATH - 1 characters Uninst.exe takes.
                left.reason = LeftReason::TooLong;
            }
            m_forecast.left.push_back(left);
        }
        std::sort(m_forecast.left.begin(), m_forecast.left.end(),
                  [](const Leftover& a, const Leftover& b) { return Key(a.path) < Key(b.path); });
    }

    std::vector<Node>& Nodes() { return m_picture.nodes; }

    CFolderPicture m_picture;
    CPictureSite m_site;
    const RemovalPlan& m_plan;
    RemovalRun m_run;
    RemovalForecast m_forecast;
    // The node each entry named as the removal started, by section.
    std::vector<int> m_nodes[2];
    int m_manifest = NOWHERE, m_exe = NOWHERE;
    // For each section, the node of each entry that names one, with the first entry that does.
    std::map<int, size_t> m_first[2];
    // The folders that the script removes.
    std::vector<int> m_afterExit;
    // The nodes that stay because their entry fails, with that entry's outcome.
    std::map<int, size_t> m_failing;
    // The nodes that entries taken literally after \\?\ miss, with the first such entry.
    std::map<int, SectionKey> m_literal;
};

}  // namespace

RemovalForecast ForecastRemoval(const CFolderPicture& disk, const RemovalPlan& plan)
{
    return CForecast(disk, plan).Play();
}
