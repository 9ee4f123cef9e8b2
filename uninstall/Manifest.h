#pragma once
#include "platform/Path.h"

// The running executable's path, and its directory, ending in a separator; empty when the
// executable's path does not fit in MAX_PATH, for a cut path would name another file.
CString GetModulePath();
CString GetModuleDirectory();
// "Uninst.ini" beside the executable; empty when the executable's path does not fit.
CString ManifestPath();
bool FileExists(LPCWSTR pszPath);

// A section's keys "0" to "199" are acted on; those beyond are only logged as skipped.
const int MANIFEST_KEY_LIMIT = 200;
// Room for one value as read: twice a path's, see ReadManifestKey.
const int MANIFEST_VALUE_SIZE = 2 * MAX_PATH;

enum ManifestValue { MV_END, MV_PATH, MV_TOO_LONG, MV_NOT_FULLY_QUALIFIED };
// Reads key "index" of a manifest section into value and says what the uninstaller makes of it: the
// end of the section (empty or absent), a path to act on, or one of two kinds of value it skips.
ManifestValue ReadManifestKey(LPCWSTR pszManifest, LPCWSTR pszSection, int index,
                              WCHAR (&value)[MANIFEST_VALUE_SIZE]);
// Appends the paths of keys "0", "1", ... of a manifest section to the list, up to the end of the
// section or the key limit; skipped values, and the keys past the limit, are logged and left out.
void ReadManifestSection(LPCWSTR pszManifest, LPCWSTR pszSection, CStringList& list);
// Whether the profile reader takes the manifest as UTF-16, by its byte order mark; else it reads
// the manifest in the ANSI code page.
bool IsUtf16Manifest(LPCWSTR pszManifest);
