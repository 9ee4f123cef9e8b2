#pragma once
#include "platform/HeapArray.h"
#include "platform/StringList.h"
#include "uninstall/Outcome.h"

// The removal's rules, for Uninst.exe and its checker alike: plain functions over the entries that
// a manifest lists. They never call Windows themselves; they ask a site, which carries out each
// attempt and hands back what it returned. Uninst.exe's site is the disk; UninstCheck.exe's is its
// picture of the folder, which answers as Windows would.
class CRemovalSite {
public:
    // Each attempt answers with the Windows error; ERROR_SUCCESS when it was carried out.
    virtual DWORD DeleteFile(LPCWSTR pszPath) = 0;
    virtual DWORD RemoveDirectory(LPCWSTR pszPath) = 0;
    virtual DWORD MoveFile(LPCWSTR pszFrom, LPCWSTR pszTo) = 0;
    virtual DWORD DeleteAtRestart(LPCWSTR pszPath) = 0;
    // Whether a file that refused its deletion with that error is held by a process (open without
    // delete sharing, a running program, a loaded module) rather than kept by its attributes or
    // permissions, which a restart would not change.
    virtual bool IsInUse(LPCWSTR pszPath, DWORD error) = 0;
    // The first folder on the path that is a junction or link a user without administrator rights
    // could have made; empty when there is none.
    virtual CString LinkInPath(LPCWSTR pszPath) = 0;
    // The form in which two paths of one file or folder compare equal; empty when it has none.
    virtual CString Key(LPCWSTR pszPath) = 0;
    // The keys of what a folder, given by its key, holds now; false when it cannot be listed.
    virtual bool List(LPCWSTR pszFolder, CStringList& keys) = 0;
    virtual bool Exists(LPCWSTR pszPath) = 0;
    // One listed entry has been dealt with, one way or another.
    virtual void Step() {}

protected:
    ~CRemovalSite() = default;
};

// What became of a listed entry.
enum Fate {
    FATE_REMOVED,       // it went
    FATE_ABSENT,        // nothing was there, or its name is one that no file can have
    FATE_AT_RESTART,    // in use: it goes at the next restart, renamed beside itself where it could be
    FATE_AFTER_EXIT,    // a folder that holds nothing but what goes once Uninst.exe has ended
    FATE_KEPT,          // a folder that still holds what was not listed, such as the user's own files
    FATE_NOT_FOLLOWED,  // a link that a user could have made lies on its path
    FATE_STAYED,        // its removal failed
};
struct EntryFate {
    Fate fate;
    DWORD error;
};

// The run: Uninst.exe, its manifest beside it and the entries it lists, as given; what the rules
// decide for each entry, files first, then folders; and what is left for later: the keys of what
// goes once the process has ended (Uninst.exe, its manifest and the listed folders that hold
// nothing else) and of what goes at the next restart, and the listed paths that stayed for good.
struct RemovalRun {
    CString exe, manifest;
    CStringList files, dirs;
    CHeapArray<EntryFate> fates;
    CStringList afterExit, atRestart, stayed;
};

// Whether a manifest that lists entries names nothing that is here: not one of them is there (the
// folders that hold Uninst.exe, which are there anyway, left out), while Uninst.exe's folder holds
// more than Uninst.exe and the manifest. An ANSI manifest read in
// another code page than it was written in names other paths; a copied installation names the
// original's. After a removal cut short, or done but for those two files, nothing else is there.
bool NamesNothingHere(const RemovalRun& run, CRemovalSite& site);

// Why a run whose manifest is missing changes nothing, logged with what to do: NOTHING_INSTALLED
// when the uninstall entry is gone too, else MANIFEST_MISSING. keyProgram is the Uninst.exe that
// the entry names, empty when it names none.
Outcome RefuseWithoutManifest(const RemovalRun& run, bool keyThere, LPCWSTR pszKeyProgram, CRemovalSite& site);

// Removes every listed file, then every listed folder that is empty at its turn, and last, once
// more, the listed folders that what was listed after them has emptied. Logs and records what
// became of each entry. REMOVED, REMOVED_AT_RESTART or REMOVAL_FAILED.
Outcome RemoveListed(RemovalRun& run, CRemovalSite& site);

// Deletes the path at the next restart, noted in run.atRestart, and logs it; REMOVED_AT_RESTART, or
// REMOVAL_FAILED when the system refused.
Outcome ScheduleAtRestart(LPCWSTR pszKind, LPCWSTR pszPath, RemovalRun& run, CRemovalSite& site);

// The folder of Uninst.exe and each one above it, deepest first, as long as it goes after exit
// (or, with atRestart, at the next restart); never a drive's root.
void FoldersAbove(const RemovalRun& run, CRemovalSite& site, bool atRestart, CStringList& folders);

// A user's run ends with 0 whatever happened; an unattended run tells a deployment tool by the
// codes that Windows Installer gives the same outcomes.
int ExitCode(Outcome outcome, RunKind kind);

// A silent run that failed keeps the uninstall entry, Uninst.exe and its manifest, so that the same
// command can finish the job once the cause is gone; a user's run removes them whatever stayed.
bool KeepsForARetry(Outcome outcome, RunKind kind);

// The box that ends a run at the desktop once the dialog has closed, empty when none is due: a
// manifest that names nothing here removed nothing; a removal names what stayed (up to ten paths,
// or eleven rather than one more), and when something waits for the next restart, asks last
// whether to restart now, No being the default.
struct EndBox {
    CString text;
    UINT type;
    int named;
};
EndBox ChooseEndBox(Outcome outcome, const RemovalRun& run);
