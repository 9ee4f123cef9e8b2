#pragma once
#include "platform/StringList.h"

// The directory of the running executable, ending in a separator; empty when the executable's
// path does not fit in MAX_PATH, for a cut path would name another directory.
CString GetModuleDirectory();
// The part of a full path up to and including its last separator.
CString DirectoryOfPath(LPCWSTR pszPath);
bool FileExists(LPCWSTR pszPath);
// A drive path (C:\ or C:/) or a UNC path (\\server\share\): one that does not depend on the
// current directory or drive.
bool IsFullyQualifiedPath(LPCWSTR pszPath);
// Appends the values of keys "0", "1", ... of a manifest section to the list, stopping at the first
// empty value or after 200 keys. Values that are too long or not fully qualified are skipped.
void ReadManifestSection(LPCWSTR pszManifest, LPCWSTR pszSection, CStringList& list);
