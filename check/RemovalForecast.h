#pragma once
#include "check/ManifestCheck.h"

// The path as Windows resolves it for a file operation: separators made backslashes, "." and ".."
// applied, relative to the current directory. Nothing on disk is consulted.
std::wstring FullPath(const std::wstring& path);

// What Uninst.exe is given: the installation folder, its manifest, and the paths the manifest lists.
struct RemovalPlan {
    std::wstring folder;
    std::wstring manifest;
    std::vector<ManifestEntry> files;
    std::vector<ManifestEntry> dirs;
};

// An entry that names nothing, names something outside the folder, or whose removal fails.
struct EntryOutcome {
    LPCWSTR word;
    LPCWSTR section;
    int key;
    std::wstring reason;
    std::wstring path;
};

struct Leftover {
    bool dir;
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

// Plays the removal on a picture of the folder taken from the disk, as Uninst.exe would do it.
// False, with the folder that could not be listed, when the picture cannot be taken.
bool ForecastRemoval(const RemovalPlan& plan, RemovalForecast& forecast, std::wstring& unreadable);
