#pragma once
#include "check/ManifestCheck.h"
#include <map>

// The path as Windows resolves it for a file operation: separators made backslashes, "." and ".."
// applied, relative to the current directory. Nothing on disk is consulted.
std::wstring FullPath(const std::wstring& path);
// The path without its aliases: no \\?\ or \\.\ prefix (\\?\UNC\ made \\), full, and in long names
// as far as it exists.
std::wstring LongPath(const std::wstring& path);
// Where the path really leads: LongPath with the links and junctions among its parents resolved,
// and its own last part too when resolveLast; no trailing separator.
std::wstring RealPath(const std::wstring& path, bool resolveLast);

struct Node {
    std::wstring path;
    int parent;
    DWORD attributes;
    bool present = true;
    bool expected = false;
    int children = 0;

    bool IsDir() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    bool IsReadOnly() const { return (attributes & FILE_ATTRIBUTE_READONLY) != 0; }
};

// Every file and directory under a folder as the disk has them, and what a removal takes away.
class CFolderPicture {
public:
    // Lists the folder, never through a link or junction; false, with the directory that could not
    // be listed, when that fails.
    bool Load(const std::wstring& folder, std::wstring& unreadable);
    bool Contains(const std::wstring& path) const;
    int Find(const std::wstring& path) const;
    // The files of that name anywhere under the folder.
    std::vector<int> FindFiles(LPCWSTR pszName) const;
    int Add(const std::wstring& path, int parent, DWORD attributes);
    void Take(int n);
    bool IsInside(int n, int ancestor) const;

    std::vector<Node> nodes;

private:
    std::wstring m_rootKey;
    std::map<std::wstring, int> m_index;
};

// A key of a section with its value, as the forecast names it.
struct SectionKey {
    bool dirs;
    std::wstring key;
    std::wstring path;
};

// What Uninst.exe is given: where it runs, the manifest beside it, and the paths the manifest lists.
struct RemovalPlan {
    std::wstring exe;
    std::wstring manifest;
    // The manifest is put there before the run, over whatever lies there now.
    bool placed = false;
    std::vector<ManifestEntry> files;
    std::vector<ManifestEntry> dirs;
    // Keys the uninstaller skips: what they name stays.
    std::vector<SectionKey> skipped;
};

enum class Outcome { Missing, Outside, Fails };
enum class Failure { None, NotAFile, NotADirectory, EndsInSeparator, ReadOnly, ReadOnlyDirectory, NotEmpty, NotEmptyAtItsTurn };

// An entry that names nothing, names something outside the folder, or whose removal fails.
struct EntryOutcome {
    Outcome kind;
    bool dirs;
    // The entry's place in its list of the plan.
    size_t index;
    Failure failure;
    // For NotEmptyAtItsTurn: the key of the directory inside it, listed after it.
    int laterKey;
    // For an entry outside only through a link or junction: where it really leads.
    std::wstring leadsTo;
};

enum class LeftReason { NotListed, EntrySkipped, EntryFails, ReadOnlyManifest, ReadOnlyExe };

struct Leftover {
    bool dir;
    LeftReason reason;
    // For EntrySkipped and EntryFails: that entry.
    bool dirs;
    std::wstring key;
    std::wstring path;
};

struct RemovalForecast {
    std::vector<EntryOutcome> outcomes;
    // Everything under the folder, the folder included, that is there after the removal and the
    // executable's script; sorted by path.
    std::vector<Leftover> left;
    // The folder of the executable and those above it up to the installation folder: they hold
    // the executable while the removal runs, so they stay whatever the manifest lists.
    std::vector<std::wstring> expected;
};

// Plays the removal as Uninst.exe on Windows does it, on a copy of the picture.
RemovalForecast ForecastRemoval(const CFolderPicture& disk, const RemovalPlan& plan);
