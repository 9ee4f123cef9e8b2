#pragma once
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

// An installation staged for a whole removal: the program, the first entry the manifest lists and
// the last.
struct Staged {
    fs::path exe, first, last;
};

// In the folder, `tops` folders of `subs` folders each, a file in each of them; the manifest
// Uninst.ini listing every file and then every folder, deepest first (the folder itself is never
// listed); the uninstall entry; and a copy of the program under the name.
Staged Stage(const fs::path& folder, const fs::path& program, const wchar_t* name, int tops, int subs);
fs::path ThisProgram();
bool UninstallKeyExists();
double Median(std::vector<double> values);
