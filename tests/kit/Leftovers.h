// What a run of the test kit leaves when it is cut short: keys and work folders, all marked as the
// kit's. Only marked ones are ever removed.
#pragma once
#include <string>
#include <vector>

// The work folders of runs: %TEMP%\QuorillTests-*.
extern const wchar_t WORK_FOLDER_PREFIX[];

// Removes the kit's marked keys (32-bit view, where the tests make them) and the marked work
// folders under temp; one line for each that it removed, or could not remove.
std::vector<std::wstring> RemoveLeftovers(const std::wstring& temp);
