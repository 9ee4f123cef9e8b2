#include "check/RemovalForecast.h"
#include "check/CanonicalPath.h"
#include "uninstall/LinkGuard.h"
#include <algorithm>
#include <map>

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
        Restart();
        JudgeExeFolders();
        JudgeFailures();
        ListLeftovers();
        return m_forecast;
    }

private:
    struct Target {
        int node;
        bool trailing;
    };

    // The node each entry names; NOWHERE, with an outcome, when it names nothing in the folder or the
    // checker cannot see what it names.
    void Locate()
    {
        for (size_t i = 0; i < m_plan.files.size(); ++i) m_files.push_back(Locate(false, i, m_plan.files[i]));
        for (size_t i = 0; i < m_plan.dirs.size(); ++i) m_dirs.push_back(Locate(true, i, m_plan.dirs[i]));
    }

    Target Locate(bool dirs, size_t index, const ManifestEntry& entry)
    {
        const PathFault fault = FaultOf(entry.path);
        if (fault == PathFault::Unspellable)
            return Nowhere({Outcome::Unspellable, dirs, index, Failure::None, 0, L"", fault});
        if (fault == PathFault::UnknownRoot)
            return Nowhere({Outcome::Unknown, dirs, index, Failure::None, 0, L"", fault});
        if (fault == PathFault::RelativePart || fault == PathFault::Slash) return Misses(dirs, index, fault);
        // Uninst.exe's own rule: nothing is done through a link that a user could have made.
        const CString link = LinkInPath(entry.path.c_str(), m_checked);
        if (!link.IsEmpty())
            return Nowhere({Outcome::Fails, dirs, index, Failure::LinkInPath, 0, static_cast<LPCWSTR>(link)});
        const std::wstring full = CanonicalPath(entry.path);
        const std::wstring real = RealPath(entry.path, false);
        const bool trailing = full.size() > RootLength(full) && full.back() == L'\\';
        if (real.empty() || !m_picture.Contains(real)) {
            const bool linked = !real.empty() && m_picture.Contains(WithoutTrailingSeparator(LongPath(entry.path)));
            m_forecast.outcomes.push_back({Outcome::Outside, dirs, index, Failure::None, 0, linked ? real : L""});
            // Played like any other entry, on what lies there.
            const int n = real.empty() ? NOWHERE : m_picture.Attach(real);
            if (n != NOWHERE) return Found(dirs, index, n, trailing);
            return Nowhere({Outcome::Missing, dirs, index, Failure::None, 0, L""});
        }
        const int n = m_picture.Find(real);
        if (n != NOWHERE) return Found(dirs, index, n, trailing);
        const int holder = m_picture.Holder(real);
        if (holder != NOWHERE && Nodes()[holder].unreadable)
            return Nowhere({Outcome::Unknown, dirs, index, Failure::Unreadable, 0, L""});
        if (fault == PathFault::TrailingDotOrSpace) return Misses(dirs, index, fault);
        return Nowhere({Outcome::Missing, dirs, index, Failure::None, 0, L""});
    }

    Target Found(bool dirs, size_t index, int n, bool trailing)
    {
        const auto first = m_first[dirs].emplace(n, index);
        if (!first.second) m_forecast.repeats.push_back({dirs, index, first.first->second});
        return {n, trailing};
    }

    Target Nowhere(const EntryOutcome& outcome)
    {
        m_forecast.outcomes.push_back(outcome);
        return {NOWHERE, false};
    }

    // An entry taken literally after \\?\ that names nothing: what it names with the usual parsing
    // stays for want of it.
    Target Misses(bool dirs, size_t index, PathFault fault)
    {
        const ManifestEntry& entry = (dirs ? m_plan.dirs : m_plan.files)[index];
        const int meant = m_picture.Find(RealPath(WithParsing(entry.path), false));
        if (meant != NOWHERE && !m_literal.count(meant)) m_literal[meant] = {dirs, std::to_wstring(entry.key), L""};
        return Nowhere({Outcome::Missing, dirs, index, Failure::None, 0, L"", fault});
    }

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
            else if (m_picture.InUse(n))
                Schedule(false, i, Failure::InUse);
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
            } else if (Nodes()[n].unreadable) {
                Fail(true, i, Failure::Unreadable);
            } else if (Nodes()[n].children > 0) {
                const Remains remains = WhatRemains(n);
                if (remains == Remains::AfterExit) m_leftToScript.push_back(n);
                if (remains == Remains::AtRestart)
                    Schedule(true, i, Failure::NotEmpty);
                else
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

    // After the process has ended its script deletes the executable and then the manifest, whatever
    // their attributes: Uninst.exe clears read-only from its own two files first. Then it removes the
    // folder of the executable when [Dirs] lists it, and each listed folder above, deepest first, up
    // to the first that is not listed or stays.
    void RunScript()
    {
        if (m_exe == NOWHERE) return;
        m_picture.Take(m_exe);
        if (m_manifest != NOWHERE && Nodes()[m_manifest].present) m_picture.Take(m_manifest);
        bool removing = true;
        for (int n = Nodes()[m_exe].parent; n != NOWHERE && Nodes()[n].present; n = Nodes()[n].parent) {
            removing = removing && IsListed(n) && Nodes()[n].children == 0 && !Nodes()[n].IsReadOnly();
            if (!removing && !m_picture.Contains(Nodes()[n].path)) break;
            m_chain.push_back(n);
            if (removing) {
                m_picture.Take(n);
                m_afterExit.push_back(n);
            }
        }
    }

    // At the next restart the system deletes what was scheduled, in order; a folder only when it is
    // empty by then.
    void Restart()
    {
        for (int n : m_scheduled)
            if (Nodes()[n].present && (!Nodes()[n].IsDir() || Nodes()[n].children == 0)) m_picture.Take(n);
    }

    void JudgeExeFolders()
    {
        for (int n : m_chain) {
            Node& node = Nodes()[n];
            node.expected = true;
            Fate fate = Fate::NotEmpty;
            if (std::count(m_afterExit.begin(), m_afterExit.end(), n))
                fate = Fate::RemovedAfterExit;
            else if (!node.present)
                fate = Fate::RemovedAtRestart;
            else if (!IsListed(n))
                fate = Fate::Unlisted;
            else if (node.children == 0 && node.IsReadOnly())
                fate = Fate::ReadOnly;
            m_forecast.expected.push_back({node.path, fate});
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
            if (n == NOWHERE) {
                outcomes.push_back(outcome);
                continue;
            }
            if (outcome.failure != Failure::InUse && (!Nodes()[n].present || Nodes()[n].expected)) continue;
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
            } else if (node.path.size() >= MAX_PATH) {
                // Written out, its entry would be longer than the MAX_PATH - 1 characters Uninst.exe takes.
                left.reason = LeftReason::TooLong;
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

    // A removal that fails for now and waits for the next restart.
    void Schedule(bool dirs, size_t index, Failure failure)
    {
        Fail(dirs, index, failure);
        m_scheduled.push_back((dirs ? m_dirs : m_files)[index].node);
    }

    enum class Remains { Other, AfterExit, AtRestart };

    // What a listed directory that is not empty still holds: only what goes after exit (the
    // executable and the manifest, and listed directories that hold nothing else), also what waits
    // for the next restart, or anything else.
    Remains WhatRemains(int n)
    {
        Remains remains = Remains::AfterExit;
        for (size_t c = 0; c < Nodes().size(); ++c) {
            const int i = static_cast<int>(c);
            if (Nodes()[c].parent != n || !Nodes()[c].present) continue;
            if (std::count(m_scheduled.begin(), m_scheduled.end(), i))
                remains = Remains::AtRestart;
            else if (i != m_exe && i != m_manifest && !std::count(m_leftToScript.begin(), m_leftToScript.end(), i))
                return Remains::Other;
        }
        return remains;
    }

    bool IsListed(int n) const
    {
        return std::any_of(m_dirs.begin(), m_dirs.end(), [n](const Target& t) { return t.node == n; });
    }

    std::vector<Node>& Nodes() { return m_picture.nodes; }

    CFolderPicture m_picture;
    const RemovalPlan& m_plan;
    RemovalForecast m_forecast;
    std::vector<Target> m_files, m_dirs;
    CString m_checked;
    int m_manifest = NOWHERE, m_exe = NOWHERE;
    // The turns in the list of directories at which one was removed.
    std::vector<size_t> m_removed;
    // For each section, the node of each entry that names one, with the first entry that does.
    std::map<int, size_t> m_first[2];
    // What waits for the next restart, in the order it was scheduled; the directories that hold
    // only what goes after exit.
    std::vector<int> m_scheduled, m_leftToScript;
    // The folders up from the executable's that the script reaches, and those it removes.
    std::vector<int> m_chain, m_afterExit;
    // The nodes that stay because their entry fails, with that entry's outcome.
    std::map<int, size_t> m_failing;
    // The nodes that entries taken literally after \\?\ miss, with the first such entry.
    std::map<int, SectionKey> m_literal;
};

}  // namespace

RemovalForecast ForecastRemoval(const CFolderPicture& disk, const RemovalPlan& plan)
{
    return CRemoval(disk, plan).Play();
}
