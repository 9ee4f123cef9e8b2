#include "check/ManifestCheck.h"
#include "platform/Handle.h"
#include "uninstall/Manifest.h"

namespace {

struct SectionLine {
    std::wstring key, value;
};

// Every key=value line of the section, in file order, as the profile reader lists them.
std::vector<SectionLine> ReadSectionLines(LPCWSTR pszManifest, LPCWSTR pszSection)
{
    std::vector<WCHAR> buffer(4096);
    DWORD length;
    // The reader signals a cut list by a length of two less than the buffer.
    while ((length = ::GetPrivateProfileSectionW(pszSection, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                 pszManifest)) + 2 >= buffer.size())
        buffer.resize(buffer.size() * 2);

    std::vector<SectionLine> lines;
    for (DWORD i = 0; i < length; ++i) {
        const std::wstring line(&buffer[i]);
        i += static_cast<DWORD>(line.size());
        if (line[0] == L';') continue;
        const size_t equals = line.find(L'=');
        lines.push_back({line.substr(0, equals), equals == std::wstring::npos ? L"" : line.substr(equals + 1)});
    }
    return lines;
}

// The reader returns a value without one pair of enclosing quotation marks.
std::wstring Unquoted(const std::wstring& value)
{
    const size_t n = value.size();
    if (n >= 2 && (value[0] == L'"' || value[0] == L'\'') && value[n - 1] == value[0]) return value.substr(1, n - 2);
    return value;
}

// The index that a key's name stands for when it is written as "%d" writes it: -1 for any other
// name, MANIFEST_KEY_LIMIT for any number from there on.
int KeyIndex(const std::wstring& key)
{
    if (key.empty() || (key[0] == L'0' && key.size() > 1)) return -1;
    int index = 0;
    for (WCHAR c : key) {
        if (c < L'0' || c > L'9') return -1;
        index = index < MANIFEST_KEY_LIMIT ? index * 10 + (c - L'0') : index;
    }
    return index < MANIFEST_KEY_LIMIT ? index : MANIFEST_KEY_LIMIT;
}

}  // namespace

SectionCheck CheckSection(LPCWSTR pszManifest, LPCWSTR pszSection)
{
    SectionCheck check;
    WCHAR value[MANIFEST_VALUE_SIZE];
    for (; check.stop < MANIFEST_KEY_LIMIT; ++check.stop) {
        const ManifestValue kind = ReadManifestKey(pszManifest, pszSection, check.stop, value);
        if (kind == MV_END) break;
        if (kind == MV_PATH)
            check.entries.push_back({check.stop, value});
        else
            check.skipped.push_back({std::to_wstring(check.stop),
                                     kind == MV_TOO_LONG ? L"too long" : L"not fully qualified", value});
    }

    // What the numbered reading above never asked for. The reader answers a key with its first line.
    std::vector<bool> seen(MANIFEST_KEY_LIMIT);
    const std::wstring afterStop = check.stop < MANIFEST_KEY_LIMIT
                                       ? L"after key " + std::to_wstring(check.stop) + L", where reading stops"
                                       : L"past key " + std::to_wstring(MANIFEST_KEY_LIMIT - 1);
    for (const SectionLine& line : ReadSectionLines(pszManifest, pszSection)) {
        const int index = KeyIndex(line.key);
        const bool readable = index >= 0 && index < MANIFEST_KEY_LIMIT;
        const bool repeated = readable && seen[index];
        if (readable) seen[index] = true;
        if (readable && !repeated && index == check.stop) check.stopKeyWritten = true;

        const std::wstring entry = Unquoted(line.value);
        if (entry.empty() || (readable && !repeated && index < check.stop)) continue;
        if (index < 0) {
            check.skipped.push_back({line.key, L"not a numbered key", entry});
        } else if (repeated && index <= check.stop) {
            check.skipped.push_back({line.key, L"key written twice", entry});
        } else {
            ++check.unreadAfterStop;
            check.skipped.push_back({line.key, afterStop, entry});
        }
    }
    return check;
}

ManifestText ClassifyManifestText(const std::string& bytes)
{
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) return ManifestText::Utf16;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return ManifestText::Utf8WithBom;
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return ManifestText::AnsiNonAscii;
    return ManifestText::Ascii;
}

bool ReadFileBytes(LPCWSTR pszPath, std::string& bytes)
{
    CHandle file(::CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid()) return false;
    bytes.clear();
    char chunk[65536];
    DWORD n;
    while (::ReadFile(file, chunk, sizeof chunk, &n, nullptr)) {
        if (n == 0) return true;
        bytes.append(chunk, n);
    }
    return false;
}
