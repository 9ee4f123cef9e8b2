#pragma once
#include "uninstall/Manifest.h"
#include <string>
#include <vector>

// A numbered key whose path the uninstaller acts on, or would act on if it read it.
struct ManifestEntry {
    int key;
    std::wstring path;
};

enum class SkipKind {
    NotFullyQualified,
    TooLong,
    NotNumbered,
    WrittenTwice,
    AfterStop,
    PastLimit,
    // The section's name stands on the first line, behind a UTF-8 byte order mark.
    HiddenByMark,
};

// A key whose value the uninstaller skips or never reads.
struct SkippedKey {
    std::wstring key;
    SkipKind kind;
    std::wstring value;
    // For a key never read: what the uninstaller would make of its value if it read it.
    ManifestValue wouldBe = MV_PATH;
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

enum class ManifestEncoding { Utf16, Ascii, Utf8, AnsiNonAscii, Utf8WithBom };

// The manifest's text as the profile reader of Windows takes its bytes: UTF-16 after its byte order
// mark, anything else in the ANSI code page, a UTF-8 byte order mark included.
struct ManifestText {
    ManifestEncoding encoding;
    std::wstring text;
    // The section named on the first line behind a UTF-8 byte order mark, which Windows never finds,
    // and its lines as the author wrote them.
    std::wstring hiddenSection;
    std::wstring hiddenText;
};

ManifestText DecodeManifest(const std::string& bytes);

// Reads a section with the uninstaller's own reader from pszReadFrom, and lists every key the text
// holds in that section without the reader, whose listing of a whole section is limited in size.
SectionCheck CheckSection(LPCWSTR pszReadFrom, const ManifestText& text, LPCWSTR pszSection);

// The whole file, opened for reading only; false when it cannot be read.
bool ReadFileBytes(LPCWSTR pszPath, std::string& bytes);

// A UTF-16 copy of the text in the temporary folder, deleted when it goes; cannot be copied. Wine
// reads a UTF-8 file with a byte order mark as UTF-8: the copy reads as Windows reads the original.
class CTextCopy {
public:
    explicit CTextCopy(const std::wstring& text);
    ~CTextCopy();
    CTextCopy(const CTextCopy&) = delete;
    CTextCopy& operator=(const CTextCopy&) = delete;

    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
};
