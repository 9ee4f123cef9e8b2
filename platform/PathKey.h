#pragma once
#include "platform/StringList.h"

// The form in which two paths of the same existing file or folder compare equal: full, with long
// names, in upper case, without a closing separator. Empty when the path cannot be put so, or is
// not fully qualified.
CString PathKey(LPCWSTR pszPath);
// Whether the list holds the key.
bool HasKey(const CStringList& keys, LPCWSTR pszKey);
