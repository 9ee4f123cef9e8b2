// UninstCheck.exe: what Uninst.exe will remove with a manifest, and what it will leave behind. It
// only reads: the manifest, with the reader of Uninst.exe, and the installation folder.
#include "check/ManifestCheck.h"
#include "check/CanonicalPath.h"
#include "check/RemovalForecast.h"
#include "check/ReportWriter.h"
#include "check/UninstallKey.h"
#include <algorithm>
#include <map>
#include <memory>
#include <shlobj.h>

enum { EXIT_CLEAN = 0, EXIT_PROBLEMS = 1, EXIT_CANNOT_CHECK = 2 };

static const WCHAR USAGE[] =
    L"Usage: UninstCheck.exe [-q] <path of Uninst.ini> [<installation folder>]\r\n"
    L"Tells what Uninst.exe will remove with this manifest and what it will leave behind. Changes nothing.\r\n"
    L"The installation folder is the manifest's own unless given. A manifest from elsewhere is checked\r\n"
    L"as if it were placed beside the folder's Uninst.exe.\r\n"
    L"  -q   no \"entry\" lines, only what needs attention\r\n"
    L"Exit status: 0 nothing is skipped or left behind, 1 something is, 2 the check cannot be made.\r\n";

static const WCHAR MANIFEST_NAME[] = L"Uninst.ini";
static const WCHAR EXE_NAME[] = L"Uninst.exe";

static int CannotCheck(const CReportWriter& err, const std::wstring& message, bool usage = false)
{
    err.Write(L"UninstCheck: " + message + L"\r\n" + (usage ? USAGE : L""));
    return EXIT_CANNOT_CHECK;
}

static std::wstring Count(size_t n, LPCWSTR pszOne, LPCWSTR pszMany)
{
    return std::to_wstring(n) + L" " + (n == 1 ? pszOne : pszMany);
}

static LPCWSTR Section(bool dirs)
{
    return dirs ? L"Dirs" : L"Files";
}

static std::wstring StopText(const SectionCheck& check)
{
    std::wstring text = L"key " + std::to_wstring(check.stop);
    if (check.stop == MANIFEST_KEY_LIMIT)
        text += L" is past the limit of " + std::to_wstring(MANIFEST_KEY_LIMIT) + L" keys";
    else
        text += check.stopKeyWritten ? L" is empty" : L" is missing";
    text += L": " + Count(check.unreadAfterStop, L"key from there on is", L"keys from there on are") + L" never read";
    if (check.stop == MANIFEST_KEY_LIMIT)
        text += L"; Uninst.exe cannot remove more than " + std::to_wstring(MANIFEST_KEY_LIMIT) +
                L" paths of a section, so it cannot remove this installation completely";
    return text;
}

static std::wstring SkipText(SkipKind kind, int stop)
{
    switch (kind) {
    case SkipKind::NotFullyQualified: return L"not fully qualified";
    case SkipKind::TooLong: return L"too long";
    case SkipKind::NotNumbered: return L"not a numbered key";
    case SkipKind::WrittenTwice: return L"key written twice";
    case SkipKind::AfterStop: return L"never read: after key " + std::to_wstring(stop) + L", where reading stops";
    case SkipKind::PastLimit: return L"never read: past key " + std::to_wstring(MANIFEST_KEY_LIMIT - 1);
    case SkipKind::HiddenByMark: return L"never read: the byte order mark hides the section named on the first line";
    }
    return L"";
}

static bool IsNeverRead(SkipKind kind)
{
    return kind == SkipKind::AfterStop || kind == SkipKind::PastLimit || kind == SkipKind::HiddenByMark;
}

static std::wstring FailureText(const EntryOutcome& o)
{
    switch (o.failure) {
    case Failure::None: break;
    case Failure::NotAFile: return L"a directory, not a file";
    case Failure::NotADirectory: return L"a file, not a directory";
    case Failure::EndsInSeparator: return L"ends in a separator";
    case Failure::ReadOnly: return L"read-only";
    case Failure::ReadOnlyDirectory: return L"read-only directory: Windows does not remove it";
    case Failure::NotEmpty: return L"not empty: something inside it stays";
    case Failure::Unreadable: return L"cannot be read: whether it is empty cannot be told";
    case Failure::InUse: return L"in use now: removed at the next restart, unless it is closed first";
    case Failure::LinkInPath: return L"not followed: a link in its path at " + o.leadsTo;
    }
    return L"";
}

static std::wstring FaultText(PathFault fault)
{
    const std::wstring literally = L"taken literally after \\\\?\\: ";
    switch (fault) {
    case PathFault::None: break;
    case PathFault::RelativePart: return literally + L"\".\", \"..\" and empty names are not resolved";
    case PathFault::Slash: return literally + L"\"/\" is not a separator";
    case PathFault::TrailingDotOrSpace: return literally + L"a name keeps its trailing dots and spaces";
    case PathFault::UnknownRoot: return L"cannot tell where it leads: not a drive, a share or a mounted volume";
    case PathFault::Unspellable:
        return L"holds ? or *, which no Windows name holds: the manifest was written in a code page that cannot spell "
               L"the name; save it as UTF-16 with a byte order mark";
    }
    return L"";
}

static std::wstring OutcomeWord(Finding kind)
{
    const LPCWSTR words[] = {L"missing", L"outside", L"unknown", L"stays", L"encoding"};
    return words[static_cast<int>(kind)];
}

// What an outcome says beyond its word; for an entry outside through a link, where it leads.
static std::wstring OutcomeText(const EntryOutcome& o)
{
    if (o.kind == Finding::Fails) return FailureText(o);
    if (o.failure == Failure::Unreadable) return L"inside a folder that cannot be read";
    if (o.fault != PathFault::None) return FaultText(o.fault);
    if (!o.leadsTo.empty()) return L"through a link or junction, to " + o.leadsTo;
    return L"";
}

static std::wstring FateText(const ExeFolder& folder, bool first)
{
    const std::wstring holds =
        first ? L"holds Uninst.exe and Uninst.ini while the removal runs; " : L"holds the folder of Uninst.exe; ";
    switch (folder.fate) {
    case FolderFate::RemovedAfterExit: return holds + L"removed after exit";
    case FolderFate::RemovedAtRestart: return holds + L"removed at the next restart";
    case FolderFate::Unlisted: return holds + L"stays: no entry lists it";
    case FolderFate::NotEmpty: return holds + L"stays: not empty";
    case FolderFate::ReadOnly: return holds + L"stays: read-only directory: Windows does not remove it";
    case FolderFate::Refused: return holds + L"stays: Uninst.exe refuses the manifest";
    }
    return L"";
}

static std::wstring LeftText(const Leftover& left)
{
    const std::wstring entry = std::wstring(L"its entry ") + Section(left.dirs) + L" " + left.key;
    switch (left.reason) {
    case LeftReason::NotListed: return L"no entry lists it";
    case LeftReason::EntrySkipped: return entry + L" is skipped";
    case LeftReason::EntryFails: return entry + L" fails";
    case LeftReason::EntryLiteral: return entry + L" names it only without \\\\?\\";
    case LeftReason::Unreadable: return L"cannot be read: nothing can be said about what it holds";
    case LeftReason::Refused: return L"Uninst.exe refuses the manifest and removes nothing";
    case LeftReason::TooLong:
        return L"its path is longer than " + std::to_wstring(MAX_PATH - 1) + L" characters, the most an entry may hold";
    }
    return L"";
}

static std::wstring NameOf(const std::wstring& path)
{
    return path.substr(path.rfind(L'\\') + 1);
}

static bool IsNumber(const std::wstring& key)
{
    return !key.empty() && key.size() < 10 && std::all_of(key.begin(), key.end(), [](WCHAR c) { return c >= L'0' && c <= L'9'; });
}

// The folders that, on a Windows as it comes, only administrators can write: Program Files in both
// views and the Windows folder, in the form Key gives.
static std::vector<std::wstring> AdministratorsFolders()
{
    std::vector<std::wstring> folders;
    WCHAR path[MAX_PATH];
    for (int csidl : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_WINDOWS})
        if (::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path) == S_OK) folders.push_back(Key(path));
    // A 32-bit program is told the 32-bit Program Files; the 64-bit one only by the environment.
    if (::GetEnvironmentVariableW(L"ProgramW6432", path, MAX_PATH) - 1u < MAX_PATH - 1u) folders.push_back(Key(path));
    return folders;
}

static bool IsUnder(const std::wstring& path, const std::vector<std::wstring>& folders)
{
    const std::wstring key = Key(path);
    return std::any_of(folders.begin(), folders.end(), [&key](const std::wstring& folder) {
        return key.compare(0, folder.size(), folder) == 0 && (key.size() == folder.size() || key[folder.size()] == L'\\');
    });
}

// Faults that keys never read would have if they were: their values checked, and the removal
// played again as though every numbered key were read in order.
static std::map<const SkippedKey*, std::wstring> NeverReadFaults(const CFolderPicture& picture, const RemovalPlan& plan,
                                                                 const SectionCheck (&sections)[2])
{
    RemovalPlan whatIf = plan;
    std::map<std::pair<bool, size_t>, const SkippedKey*> added;
    std::map<const SkippedKey*, std::wstring> faults;
    for (int s = 0; s < 2; ++s) {
        std::vector<const SkippedKey*> keys;
        for (const SkippedKey& key : sections[s].skipped) {
            if (!IsNeverRead(key.kind)) continue;
            if (key.wouldBe != MV_PATH)
                faults[&key] = SkipText(key.wouldBe == MV_TOO_LONG ? SkipKind::TooLong : SkipKind::NotFullyQualified, 0);
            else if (IsNumber(key.key))
                keys.push_back(&key);
        }
        std::stable_sort(keys.begin(), keys.end(),
                         [](const SkippedKey* a, const SkippedKey* b) { return std::stoi(a->key) < std::stoi(b->key); });
        std::vector<ManifestEntry>& list = s ? whatIf.dirs : whatIf.files;
        for (const SkippedKey* key : keys) {
            added[{s == 1, list.size()}] = key;
            list.push_back({std::stoi(key->key), key->value});
        }
    }
    for (const EntryOutcome& o : ForecastRemoval(picture, whatIf).outcomes) {
        const auto key = added.find({o.dirs, o.index});
        if (key == added.end()) continue;
        std::wstring& fault = faults[key->second];
        fault += (fault.empty() ? L"" : L"; ") + OutcomeWord(o.kind) + (OutcomeText(o).empty() ? L"" : L", " + OutcomeText(o));
    }
    return faults;
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

    const std::wstring manifest = RealPath(paths[0], false);
    std::string bytes;
    if (manifest.empty() || !ReadFileBytes(manifest.c_str(), bytes))
        return CannotCheck(err, L"cannot read the manifest " + paths[0]);
    const ManifestText text = DecodeManifest(bytes);
    const std::wstring folder =
        RealPath(paths.size() > 1 ? paths[1] : manifest.substr(0, manifest.rfind(L'\\') + 1), true);

    CFolderPicture picture;
    if (folder.empty() || !picture.Load(folder))
        return CannotCheck(err, L"cannot list the folder " + (folder.empty() ? paths.back() : folder));

    // Uninst.exe reads the Uninst.ini beside it. A manifest from elsewhere is checked as placed there.
    RemovalPlan plan;
    plan.manifest = manifest;
    if (picture.Contains(manifest) && ::lstrcmpiW(NameOf(manifest).c_str(), MANIFEST_NAME) == 0) {
        plan.exe = manifest.substr(0, manifest.rfind(L'\\') + 1) + EXE_NAME;
    } else {
        const std::vector<int> exes = picture.FindFiles(EXE_NAME);
        if (exes.size() != 1)
            return CannotCheck(err, (exes.empty() ? L"no " : std::to_wstring(exes.size()) + L" copies of ") +
                                        EXE_NAME + L" in " + folder + L": give the manifest as it lies beside the " +
                                        EXE_NAME + L" that will run, as its " + MANIFEST_NAME +
                                        L", or give the folder that holds that " + EXE_NAME);
        plan.exe = picture.nodes[exes[0]].path;
        plan.manifest = plan.exe.substr(0, plan.exe.rfind(L'\\') + 1) + MANIFEST_NAME;
        plan.placed = true;
    }

    // Wine reads a UTF-8 file with a byte order mark as UTF-8; a copy made as Windows reads it does not.
    std::unique_ptr<CTextCopy> copy;
    if (text.encoding == ManifestEncoding::Utf8WithBom) {
        copy.reset(new CTextCopy(text.text));
        if (copy->Path().empty()) return CannotCheck(err, L"cannot write a copy in the temporary folder");
    }
    const std::wstring readFrom = copy ? copy->Path() : manifest;
    const SectionCheck sections[2] = {CheckSection(readFrom.c_str(), text, L"Files"),
                                      CheckSection(readFrom.c_str(), text, L"Dirs")};
    for (int s = 0; s < 2; ++s) {
        (s ? plan.dirs : plan.files) = sections[s].entries;
        for (const SkippedKey& key : sections[s].skipped) plan.skipped.push_back({s == 1, key.key, key.value});
    }
    const RemovalForecast forecast = ForecastRemoval(picture, plan);
    const auto faults = NeverReadFaults(picture, plan, sections);

    if (plan.placed) out.Line({L"note", L"checked as placed beside " + std::wstring(EXE_NAME) + L", as", plan.manifest});
    // Uninst.exe runs with administrator rights and loads from its own folder what the loader looks
    // for there: a folder that users can write would let them choose what it runs.
    const std::vector<std::wstring> protectedFolders = AdministratorsFolders();
    if (!IsUnder(folder, protectedFolders))
        out.Line({L"warning", L"installed outside Program Files and the Windows folder: users may be able to write "
                              L"there, and put in a DLL that Uninst.exe, run as an administrator, loads",
                  folder});
    size_t encodingProblems = 0;
    const std::wstring codePage = std::to_wstring(::GetACP());
    if (text.encoding == ManifestEncoding::Utf8WithBom) {
        ++encodingProblems;
        out.Line({L"encoding", L"UTF-8 with a byte order mark: Windows reads it as ANSI text, and misses a section "
                               L"named on the first line"});
    }
    if (text.encoding == ManifestEncoding::Utf8) {
        ++encodingProblems;
        out.Line({L"encoding", L"UTF-8: Windows reads it as ANSI text, here in code page " + codePage +
                                   L", so its non-ASCII paths name other files; save it as UTF-16 with a byte order mark"});
    }
    if (text.encoding == ManifestEncoding::AnsiNonAscii) {
        ++encodingProblems;
        out.Line({L"encoding", L"ANSI text with non-ASCII characters: read in the ANSI code page of the machine, here " +
                                   codePage + L", so a machine with another reads other paths; save it as UTF-16 with a "
                                              L"byte order mark"});
    }
    if (forecast.outcome == NOTHING_LISTED_HERE)
        out.Line({L"refused", L"the manifest names nothing that is here: not one of its entries is there, while the folder "
                              L"of Uninst.exe holds more than Uninst.exe and the manifest; Uninst.exe changes nothing",
                  plan.manifest});

    size_t skipped = 0;
    for (int s = 0; s < 2; ++s) {
        const SectionCheck& check = sections[s];
        for (const ManifestEntry& entry : check.entries)
            if (!quiet) out.Line({L"entry", Section(s), std::to_wstring(entry.key), entry.path});
        for (const SkippedKey& key : check.skipped) {
            const auto fault = faults.find(&key);
            const std::wstring also = fault == faults.end() ? L"" : fault->second;
            out.Line({L"skip", Section(s), key.key, SkipText(key.kind, check.stop) + (also.empty() ? L"" : L"; if read: " + also),
                      key.value});
        }
        if (check.unreadAfterStop > 0) out.Line({L"stop", Section(s), std::to_wstring(check.stop), StopText(check)});
        skipped += check.skipped.size();
    }

    size_t counts[5] = {};
    for (const EntryOutcome& o : forecast.outcomes) {
        const ManifestEntry& entry = (o.dirs ? plan.dirs : plan.files)[o.index];
        const std::wstring key = std::to_wstring(entry.key), what = OutcomeText(o);
        if (what.empty())
            out.Line({OutcomeWord(o.kind), Section(o.dirs), key, entry.path});
        else
            out.Line({OutcomeWord(o.kind), Section(o.dirs), key, what, entry.path});
        ++counts[static_cast<int>(o.kind)];
    }
    encodingProblems += counts[static_cast<int>(Finding::Unspellable)];
    for (int s = 0; s < 2; ++s)
        for (const ManifestEntry& entry : (s ? plan.dirs : plan.files))
            if (FaultOf(entry.path) == PathFault::None && !picture.Contains(RealPath(entry.path, false)) &&
                !IsUnder(CanonicalPath(entry.path), protectedFolders))
                out.Line({L"warning", Section(s), std::to_wstring(entry.key),
                          L"outside the installation folder, Program Files and the Windows folder, where users may be "
                          L"able to write: Uninst.exe does not follow a link that one of them made there",
                          entry.path});
    for (const Repeat& r : forecast.repeats) {
        const std::vector<ManifestEntry>& list = r.dirs ? plan.dirs : plan.files;
        out.Line({L"note", std::wstring(Section(r.dirs)) + L" " + std::to_wstring(list[r.index].key) + L" names the same as " +
                               Section(r.dirs) + L" " + std::to_wstring(list[r.first].key),
                  list[r.index].path});
    }
    for (const Leftover& left : forecast.left) out.Line({L"left", left.dir ? L"dir" : L"file", LeftText(left), left.path});
    for (size_t i = 0; i < forecast.expected.size(); ++i)
        out.Line({L"expected", FateText(forecast.expected[i], i == 0), forecast.expected[i].path});

    // A staged folder checked before packaging has no key yet: its absence is only noted.
    const std::vector<UninstallKeyVerdict> keys = JudgeUninstallKey(plan.exe);
    if (keys.empty())
        out.Line({L"note", L"no uninstall entry under HKLM (either view) or HKCU: Apps & features lists nothing to remove",
                  UNINSTALL_KEY_NAME});
    size_t keyProblems = 0;
    for (const UninstallKeyVerdict& v : keys) {
        const std::wstring stays = v.stays.empty() && forecast.outcome == NOTHING_LISTED_HERE && v.where == keys[0].where
                                       ? L"Uninst.exe refuses the manifest"
                                       : v.stays;
        out.Line({L"key", v.where, stays.empty() ? L"deleted by Uninst.exe" : L"stays: " + stays, v.name});
        for (const std::wstring& problem : v.listing) out.Line({L"key", v.where, problem, v.name});
        out.Line({L"command", v.where, v.uninstall.fault.empty() ? L"starts the Uninst.exe checked" : v.uninstall.fault,
                  v.uninstall.command});
        if (v.quiet.present)
            out.Line({L"command", v.where,
                      L"QuietUninstallString: " +
                          (v.quiet.fault.empty() ? L"starts the Uninst.exe checked with " + v.quiet.silentWord : v.quiet.fault),
                      v.quiet.command});
        else
            out.Line({L"note", L"no QuietUninstallString (" + v.where + L"): deployment tools would start the interactive run",
                      v.name});
        if (!v.parent.empty())
            out.Line({L"note", L"ParentKeyName is " + v.parent + L": Apps & features lists it as an update of " + v.parent,
                      v.name});
        keyProblems += !stays.empty() + v.listing.size() + !v.uninstall.fault.empty() + !v.quiet.fault.empty();
    }

    // Both runs, by Uninst.exe's own rules: the box that ends the desktop's, and a silent run's code.
    std::wstring box = forecast.box;
    std::replace(box.begin(), box.end(), L'\n', L' ');
    out.Line({L"desktop", box.empty() ? L"ends without a box" : L"ends with a box: " + box});
    out.Line({L"silent", L"exit code " + std::to_wstring(forecast.silentCode),
              forecast.keptForRetry ? L"the uninstall entry, Uninst.exe and Uninst.ini are kept for a retry"
              : forecast.outcome == NOTHING_LISTED_HERE ? L"nothing changes"
                                                        : L"the uninstall entry goes"});

    // Missing entries and entries outside the folder alone leave nothing behind. An installation folder
    // that stays is no failure of Uninst.exe's, but it is left knowingly.
    const bool folderStays = std::any_of(forecast.expected.begin(), forecast.expected.end(),
                                         [](const ExeFolder& f) { return f.fate != FolderFate::RemovedAfterExit &&
                                                                         f.fate != FolderFate::RemovedAtRestart; });
    const bool clean = skipped == 0 && forecast.left.empty() && encodingProblems == 0 && !folderStays &&
                       forecast.outcome != NOTHING_LISTED_HERE &&
                       counts[static_cast<int>(Finding::Unknown)] == 0 && counts[static_cast<int>(Finding::Fails)] == 0 &&
                       keyProblems == 0;
    const size_t entries = plan.files.size() + plan.dirs.size();
    out.Line({L"summary", (clean ? L"clean: " : L"problems: ") + Count(entries, L"entry", L"entries") +
                              L" acted on, " + std::to_wstring(skipped) + L" skipped, " +
                              std::to_wstring(counts[static_cast<int>(Finding::Missing)]) + L" missing, " +
                              std::to_wstring(counts[static_cast<int>(Finding::Outside)]) + L" outside, " +
                              std::to_wstring(counts[static_cast<int>(Finding::Unknown)]) + L" unknown, " +
                              std::to_wstring(counts[static_cast<int>(Finding::Fails)]) + L" failing, " +
                              std::to_wstring(forecast.left.size()) + L" left behind, " +
                              Count(encodingProblems, L"encoding problem", L"encoding problems") + L", " +
                              Count(keyProblems, L"uninstall key problem", L"uninstall key problems")});
    return clean ? EXIT_CLEAN : EXIT_PROBLEMS;
}
