#include "check/ManifestCheck.h"
#include "platform/Handle.h"

namespace {

struct SectionLine {
    std::wstring key, value;
};

std::wstring Trimmed(const std::wstring& s)
{
    const size_t first = s.find_first_not_of(L" \t\r");
    return first == std::wstring::npos ? L"" : s.substr(first, s.find_last_not_of(L" \t\r") - first + 1);
}

// The name of a section header line, or nothing when the line is not one.
bool SectionName(const std::wstring& line, std::wstring& name)
{
    if (line.empty() || line[0] != L'[') return false;
    name = Trimmed(line.substr(1, line.find(L']') - 1));
    return true;
}

// Every key=value line of the first section of that name, in file order, as the profile reader
// takes lines apart: blanks around keys and values dropped, comments left out.
std::vector<SectionLine> SectionLines(const std::wstring& text, LPCWSTR pszSection)
{
    std::vector<SectionLine> lines;
    bool inside = false, found = false;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = Trimmed(text.substr(start, end - start));
        start = end + 1;
        std::wstring name;
        if (SectionName(line, name)) {
            if (found) break;
            inside = found = ::lstrcmpiW(name.c_str(), pszSection) == 0;
        } else if (inside && !line.empty() && line[0] != L';') {
            const size_t equals = line.find(L'=');
            lines.push_back({Trimmed(line.substr(0, equals)),
                             equals == std::wstring::npos ? L"" : Trimmed(line.substr(equals + 1))});
        }
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

// A key never read, with what the uninstaller would make of its value.
SkippedKey NeverRead(const std::wstring& key, SkipKind kind, const std::wstring& value)
{
    if (value.size() >= MAX_PATH) return {key, kind, value, MV_TOO_LONG};
    return {key, kind, value, IsFullyQualifiedPath(value.c_str()) ? MV_PATH : MV_NOT_FULLY_QUALIFIED};
}

std::wstring Widened(const std::string& bytes, size_t from, UINT codePage, DWORD flags = 0)
{
    const char* p = bytes.data() + from;
    const int n = static_cast<int>(bytes.size() - from);
    if (n == 0) return L"";
    std::wstring text(::MultiByteToWideChar(codePage, flags, p, n, nullptr, 0), L'\0');
    if (text.empty()) return L"";
    ::MultiByteToWideChar(codePage, flags, p, n, &text[0], static_cast<int>(text.size()));
    return text;
}

}  // namespace

SectionCheck CheckSection(LPCWSTR pszReadFrom, const ManifestText& text, LPCWSTR pszSection)
{
    SectionCheck check;
    WCHAR value[MANIFEST_VALUE_SIZE];
    for (; check.stop < MANIFEST_KEY_LIMIT; ++check.stop) {
        const ManifestValue kind = ReadManifestKey(pszReadFrom, pszSection, check.stop, value);
        if (kind == MV_END) break;
        if (kind == MV_PATH)
            check.entries.push_back({check.stop, value});
        else
            check.skipped.push_back({std::to_wstring(check.stop),
                                     kind == MV_TOO_LONG ? SkipKind::TooLong : SkipKind::NotFullyQualified, value});
    }

    // What the numbered reading above never asked for. The reader answers a key with its first line.
    std::vector<bool> seen(MANIFEST_KEY_LIMIT);
    const SkipKind afterStop = check.stop < MANIFEST_KEY_LIMIT ? SkipKind::AfterStop : SkipKind::PastLimit;
    for (const SectionLine& line : SectionLines(text.text, pszSection)) {
        const int index = KeyIndex(line.key);
        const bool readable = index >= 0 && index < MANIFEST_KEY_LIMIT;
        const bool repeated = readable && seen[index];
        if (readable) seen[index] = true;
        if (readable && !repeated && index == check.stop) check.stopKeyWritten = true;

        const std::wstring entry = Unquoted(line.value);
        if (entry.empty() || (readable && !repeated && index < check.stop)) continue;
        if (index < 0) {
            check.skipped.push_back({line.key, SkipKind::NotNumbered, entry});
        } else if (repeated && index <= check.stop) {
            check.skipped.push_back({line.key, SkipKind::WrittenTwice, entry});
        } else {
            ++check.unreadAfterStop;
            check.skipped.push_back(NeverRead(line.key, afterStop, entry));
        }
    }

    if (!text.hiddenSection.empty() && ::lstrcmpiW(text.hiddenSection.c_str(), pszSection) == 0)
        for (const SectionLine& line : SectionLines(text.hiddenText, pszSection)) {
            const std::wstring entry = Unquoted(line.value);
            if (!entry.empty()) check.skipped.push_back(NeverRead(line.key, SkipKind::HiddenByMark, entry));
        }
    return check;
}

ManifestText DecodeManifest(const std::string& bytes)
{
    ManifestText manifest;
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
        manifest.encoding = ManifestEncoding::Utf16;
        manifest.text.assign(reinterpret_cast<const WCHAR*>(bytes.data() + 2), (bytes.size() - 2) / 2);
        return manifest;
    }
    manifest.text = Widened(bytes, 0, CP_ACP);
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        manifest.encoding = ManifestEncoding::Utf8WithBom;
        manifest.hiddenText = Widened(bytes, 3, CP_UTF8);
        SectionName(Trimmed(manifest.hiddenText.substr(0, manifest.hiddenText.find(L'\n'))), manifest.hiddenSection);
        return manifest;
    }
    manifest.encoding = ManifestEncoding::Ascii;
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) {
            manifest.encoding = Widened(bytes, 0, CP_UTF8, MB_ERR_INVALID_CHARS).empty()
                                    ? ManifestEncoding::AnsiNonAscii
                                    : ManifestEncoding::Utf8;
            break;
        }
    return manifest;
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

CTextCopy::CTextCopy(const std::wstring& text)
{
    WCHAR folder[MAX_PATH], path[MAX_PATH];
    const DWORD n = ::GetTempPathW(MAX_PATH, folder);
    if (n == 0 || n >= MAX_PATH || !::GetTempFileNameW(folder, L"uck", 0, path)) return;
    m_path = path;
    CHandle file(::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
    const std::wstring content = L"\xFEFF" + text;
    DWORD written;
    const DWORD size = static_cast<DWORD>(content.size() * sizeof(WCHAR));
    if (!file.IsValid() || !::WriteFile(file, content.data(), size, &written, nullptr) || written != size) {
        file.Close();
        ::DeleteFileW(path);
        m_path.clear();
    }
}

CTextCopy::~CTextCopy()
{
    if (!m_path.empty()) ::DeleteFileW(m_path.c_str());
}
