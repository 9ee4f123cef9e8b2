#pragma once
#include "check/CanonicalPath.h"
#include "check/FolderPicture.h"
#include "check/ManifestCheck.h"
#include "uninstall/RemovalPlan.h"

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

enum class Finding { Missing, Outside, Unknown, Fails, Unspellable };
enum class Failure {
    None, NotAFile, NotADirectory, EndsInSeparator, ReadOnly, ReadOnlyDirectory, NotEmpty, Unreadable, InUse, LinkInPath
};

// An entry that names nothing, names something outside the folder, names what the checker cannot
// see (Failure::Unreadable, PathFault::UnknownRoot), whose removal fails or waits for the next
// restart (Failure::InUse), or that holds what no Windows name holds. An entry outside the folder
// has a second outcome when the removal of what it names fails.
struct EntryOutcome {
    Finding kind;
    bool dirs;
    // The entry's place in its list of the plan.
    size_t index;
    Failure failure;
    // For an entry outside only through a link or junction: where it really leads. For LinkInPath:
    // the link that Uninst.exe does not follow.
    std::wstring leadsTo;
    PathFault fault = PathFault::None;
};

enum class LeftReason {
    NotListed, EntrySkipped, EntryFails, EntryLiteral, Unreadable, TooLong, Refused
};

struct Leftover {
    bool dir;
    LeftReason reason;
    // For EntrySkipped, EntryFails and EntryLiteral (one that names it only without \\?\): that entry.
    bool dirs;
    std::wstring key;
    std::wstring path;
};

// A folder that holds Uninst.exe and its manifest while the removal runs, or holds the folder that
// does, and what becomes of it: the script that deletes both after exit removes the folder of
// Uninst.exe and then each folder above it, while they are listed in [Dirs] and empty.
enum class FolderFate { RemovedAfterExit, RemovedAtRestart, Unlisted, NotEmpty, ReadOnly, Refused };

struct ExeFolder {
    std::wstring path;
    FolderFate fate;
};

// An entry that names the same as an earlier one of its section.
struct Repeat {
    bool dirs;
    size_t index;
    size_t first;
};

struct RemovalForecast {
    // Uninst.exe's own verdict: what the removal comes to, or why it refuses, changing nothing.
    ::Outcome outcome = REMOVED;
    // The desktop's run: the box that ends it, when one is due.
    std::wstring box;
    // The silent run: its exit code, and whether it keeps the uninstall entry for a retry.
    int silentCode = 0;
    bool keptForRetry = false;
    std::vector<EntryOutcome> outcomes;
    std::vector<Repeat> repeats;
    // Everything under the folder, the folder included, that is there after the removal and the
    // executable's script; sorted by path.
    std::vector<Leftover> left;
    // The folder of the executable and those above it up to the installation folder, and above
    // that each one the script removes.
    std::vector<ExeFolder> expected;
};

// Plays the removal with Uninst.exe's own rules, on a copy of the picture that answers as Windows
// would; then the script after exit, and the next restart.
RemovalForecast ForecastRemoval(const CFolderPicture& disk, const RemovalPlan& plan);
