#pragma once
#include "platform/StringList.h"

// Paths as Windows reads them.
bool IsSeparator(WCHAR c);
// The part of a full path up to and including its last separator.
CString DirectoryOfPath(LPCWSTR pszPath);
// A drive path (C:\ or C:/) or a UNC path (\\server\share\): one that does not depend on the
// current directory or drive.
bool IsFullyQualifiedPath(LPCWSTR pszPath);
// The form in which two paths of the same existing file or folder compare equal: full, with long
// names, in upper case, without a closing separator. Empty when the path cannot be put so, or is
// not fully qualified.
CString PathKey(LPCWSTR pszPath);
// Whether the list holds the key.
bool HasKey(const CStringList& keys, LPCWSTR pszKey);
