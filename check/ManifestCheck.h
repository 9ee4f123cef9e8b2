#pragma once
#include <windows.h>
#include <string>
#include <vector>

// A numbered key whose path the uninstaller acts on.
struct ManifestEntry {
    int key;
    std::wstring path;
};

// A key whose value the uninstaller skips or never reads, and why.
struct SkippedKey {
    std::wstring key;
    std::wstring reason;
    std::wstring value;
};

// One section as the uninstaller reads it, and what that reading leaves out.
struct SectionCheck {
    std::vector<ManifestEntry> entries;
    std::vector<SkippedKey> skipped;
    // The key at which reading stops: the first empty or absent one, or the key limit.
    int stop = 0;
    bool stopKeyWritten = false;
    int unreadAfterStop = 0;
};

SectionCheck CheckSection(LPCWSTR pszManifest, LPCWSTR pszSection);

enum class ManifestText { Utf16, Ascii, AnsiNonAscii, Utf8WithBom };
// How the profile reader of Windows takes the file's bytes.
ManifestText ClassifyManifestText(const std::string& bytes);

// The whole file, opened for reading only; false when it cannot be read.
bool ReadFileBytes(LPCWSTR pszPath, std::string& bytes);
