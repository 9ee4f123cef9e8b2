#pragma once
#include <windows.h>
#include <map>
#include <set>
#include <string>
#include <vector>

// The folder of this program, with a closing backslash: Uninst.exe, UninstCheck.exe and StandIn.exe lie there.
std::wstring ProgramFolder();

// Every path under a folder, the folder included, with what tells a change: attributes, size, time.
std::map<std::wstring, std::wstring> Snapshot(const std::wstring& folder);
std::set<std::wstring> Paths(const std::map<std::wstring, std::wstring>& snapshot);

// A directory symbolic link at link to target, a folder beside the link's folder, made as a user without administrator rights makes
// one, owned by that user; under Wine, whose CreateSymbolicLinkW makes nothing, a Unix one, which
// Wine shows as a directory reparse point of the user's. Whether it is there.
bool MakeUsersDirectoryLink(const std::wstring& link, const std::wstring& target);
// Removes that link itself, never what it leads to (Wine's RemoveDirectoryW would remove the target).
void RemoveDirectoryLink(const std::wstring& link);
// Whether the tests run under Wine, where a few of them take another way or cannot run.
bool UnderWine();

// An installation of the product in a fresh folder under the temporary folder, with a space and
// Chinese in its path, a decoy folder beside it and the uninstall key, both marked as the tests'
// own. Everything it made, and the key, goes when it is destroyed; nothing else is touched.
class StagedInstall {
public:
    StagedInstall();
    ~StagedInstall();
    StagedInstall(const StagedInstall&) = delete;
    StagedInstall& operator=(const StagedInstall&) = delete;

    // Uninst.exe and the uninstall key, as the constructor puts them: again, for an installation made anew.
    void Install();
    // Empty when everything is in place, else why not.
    const std::string& Problem() const { return m_problem; }
    // Paths relative to the installation folder; "" is the folder itself.
    std::wstring Path(const std::wstring& relative) const;
    std::wstring AddFile(const std::wstring& relative);
    std::wstring AddDir(const std::wstring& relative);
    // The manifest, as UTF-16LE with a byte order mark, or as text in a code page: the lists keyed 0, 1, ...,
    // or the text as it stands.
    void WriteManifest(const std::vector<std::wstring>& files, const std::vector<std::wstring>& dirs,
                       UINT codePage = 0);
    void WriteManifestText(const std::wstring& text, UINT codePage = 0);
    bool Exists(const std::wstring& relative) const;
    // What lies around the installation: the decoy folder beside it, and what the temporary folder held
    // before the first run.
    std::map<std::wstring, std::wstring> Surroundings() const;

    const std::wstring& Root() const { return m_root; }
    // A path beside the installation folder, in the tests' own folder.
    std::wstring Beside(const std::wstring& name) const { return m_base + L"\\" + name; }
    std::wstring Exe() const { return Path(L"Uninst.exe"); }
    const std::wstring& Temp() const { return m_temp; }

private:
    std::string m_problem;
    std::wstring m_temp;
    std::wstring m_base;
    std::wstring m_root;
};
