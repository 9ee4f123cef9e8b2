#pragma once
#include <functional>
#include <string>
#include <vector>

// The deletions that Windows carries out at the next restart, PendingFileRenameOperations: what
// was added since the object was made for paths that begin with a prefix (a folder's, with its
// closing backslash, or the start of a file's name), and, when it goes, the value as it was found,
// with those entries taken out again and everyone else's kept.
class PendingDeletions {
public:
    explicit PendingDeletions(const std::wstring& prefix);
    ~PendingDeletions();
    PendingDeletions(const PendingDeletions&) = delete;
    PendingDeletions& operator=(const PendingDeletions&) = delete;

    // The paths with the prefix scheduled for deletion, in order.
    std::vector<std::wstring> Under() const;
    // Runs a restart that finds only the entries with the prefix pending; everyone else's wait, as
    // they were, for the next one.
    void RestartAlone(const std::function<void()>& restart) const;

private:
    std::wstring m_prefix;
    bool m_existed;
};
