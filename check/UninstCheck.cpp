// UninstCheck.exe: what Uninst.exe will remove with a manifest, and what it will leave behind. It
// only reads: the manifest, with the reader of Uninst.exe, and the installation folder.
#include "check/ManifestCheck.h"
#include "check/RemovalForecast.h"
#include "check/ReportWriter.h"
#include "uninstall/Manifest.h"
#include <map>

enum { EXIT_CLEAN = 0, EXIT_PROBLEMS = 1, EXIT_CANNOT_CHECK = 2 };

static const WCHAR USAGE[] =
    L"Usage: UninstCheck.exe [-q] <path of Uninst.ini> [<installation folder>]\r\n"
    L"Tells what Uninst.exe will remove with this manifest and what it will leave behind. Changes nothing.\r\n"
    L"The installation folder is the manifest's own unless given.\r\n"
    L"  -q   no \"entry\" lines, only what needs attention\r\n"
    L"Exit status: 0 nothing is skipped or left behind, 1 something is, 2 the check cannot be made.\r\n";

static const WCHAR UTF8_WITH_BOM[] =
    L"UTF-8 with a byte order mark: Windows reads it as ANSI text, and misses a section named on the first line";

static int CannotCheck(const CReportWriter& err, const std::wstring& message, bool usage = false)
{
    err.Write(L"UninstCheck: " + message + L"\r\n" + (usage ? USAGE : L""));
    return EXIT_CANNOT_CHECK;
}

static std::wstring Count(size_t n, LPCWSTR pszOne, LPCWSTR pszMany)
{
    return std::to_wstring(n) + L" " + (n == 1 ? pszOne : pszMany);
}

static std::wstring StopText(const SectionCheck& check)
{
    std::wstring text = L"key " + std::to_wstring(check.stop);
    if (check.stop == MANIFEST_KEY_LIMIT)
        text += L" is past the limit of " + std::to_wstring(MANIFEST_KEY_LIMIT) + L" keys";
    else
        text += check.stopKeyWritten ? L" is empty" : L" is missing";
    return text + L": " + Count(check.unreadAfterStop, L"key from there on is", L"keys from there on are") +
           L" never read";
}

int wmain(int argc, wchar_t** argv)
{
    const CReportWriter out(STD_OUTPUT_HANDLE), err(STD_ERROR_HANDLE);
    bool quiet = false, options = true;
    std::vector<std::wstring> paths;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (options && arg == L"--") {
            options = false;
        } else if (options && (arg == L"-h" || arg == L"--help" || arg == L"/?")) {
            out.Write(USAGE);
            return EXIT_CLEAN;
        } else if (options && arg == L"-q") {
            quiet = true;
        } else if (options && arg.size() > 1 && arg[0] == L'-') {
            return CannotCheck(err, L"unknown option " + arg, true);
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.empty() || paths.size() > 2)
        return CannotCheck(err, L"give the manifest, and the folder if it is not the manifest's", true);

    RemovalPlan plan;
    plan.manifest = FullPath(paths[0]);
    std::string bytes;
    if (plan.manifest.empty() || !ReadFileBytes(plan.manifest.c_str(), bytes))
        return CannotCheck(err, L"cannot read the manifest " + paths[0]);
    plan.folder = FullPath(paths.size() > 1 ? paths[1] : std::wstring(DirectoryOfPath(plan.manifest.c_str())));

    const SectionCheck files = CheckSection(plan.manifest.c_str(), L"Files");
    const SectionCheck dirs = CheckSection(plan.manifest.c_str(), L"Dirs");
    plan.files = files.entries;
    plan.dirs = dirs.entries;
    RemovalForecast forecast;
    std::wstring unreadable;
    if (plan.folder.empty() || !ForecastRemoval(plan, forecast, unreadable))
        return CannotCheck(err, L"cannot list the folder " + (unreadable.empty() ? paths.back() : unreadable));

    const ManifestText text = ClassifyManifestText(bytes);
    if (text == ManifestText::Utf8WithBom) out.Line({L"encoding", UTF8_WITH_BOM});
    if (text == ManifestText::AnsiNonAscii) {
        const std::wstring codePage = std::to_wstring(::GetACP());
        out.Line({L"note", L"ANSI text with non-ASCII characters: read in the ANSI code page of the machine, here " +
                               codePage + L"; UTF-16 with a byte order mark reads the same everywhere"});
    }

    size_t skipped = 0;
    for (const auto& section : {std::make_pair(L"Files", &files), std::make_pair(L"Dirs", &dirs)}) {
        const SectionCheck& check = *section.second;
        for (const ManifestEntry& entry : check.entries)
            if (!quiet) out.Line({L"entry", section.first, std::to_wstring(entry.key), entry.path});
        for (const SkippedKey& key : check.skipped) out.Line({L"skip", section.first, key.key, key.reason, key.value});
        if (check.unreadAfterStop > 0) out.Line({L"stop", section.first, std::to_wstring(check.stop), StopText(check)});
        skipped += check.skipped.size();
    }

    std::map<std::wstring, size_t> outcomes;
    for (const EntryOutcome& o : forecast.outcomes) {
        const std::wstring key = std::to_wstring(o.key);
        if (o.reason.empty())
            out.Line({o.word, o.section, key, o.path});
        else
            out.Line({o.word, o.section, key, o.reason, o.path});
        ++outcomes[o.word];
    }
    for (const Leftover& left : forecast.left) out.Line({L"left", left.dir ? L"dir" : L"file", left.path});
    for (size_t i = 0; i < forecast.expected.size(); ++i)
        out.Line({L"expected", i == 0 ? L"holds Uninst.exe while the removal runs; stays"
                                      : L"holds the folder of Uninst.exe; stays",
                  forecast.expected[i]});

    // Missing entries and entries outside the folder leave nothing behind in it.
    const bool clean = skipped == 0 && forecast.left.empty() && text != ManifestText::Utf8WithBom;
    const size_t entries = files.entries.size() + dirs.entries.size();
    out.Line({L"summary", (clean ? L"clean: " : L"problems: ") + Count(entries, L"entry", L"entries") +
                              L" acted on, " + std::to_wstring(skipped) + L" skipped, " +
                              std::to_wstring(outcomes[L"missing"]) + L" missing, " +
                              std::to_wstring(outcomes[L"outside"]) + L" outside, " +
                              std::to_wstring(outcomes[L"stays"]) + L" failing, " +
                              std::to_wstring(forecast.left.size()) + L" left behind"});
    return clean ? EXIT_CLEAN : EXIT_PROBLEMS;
}
