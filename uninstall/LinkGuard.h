#pragma once
#include "platform/String.h"

// Uninst.exe runs with administrator rights on paths that lie, some of them, in folders that users
// without those rights can write. A junction or symbolic link that such a user made there would
// lead a deletion to files of the link's choosing; one that the system made (Documents and
// Settings, say) is the system's own.

// Whether a link's owner is one that a user without administrator rights cannot be: SYSTEM,
// Administrators or TrustedInstaller.
bool IsTrustedOwner(PSID owner);
// Whether the attributes and reparse tag of a folder make it a link: a name surrogate (a junction,
// a symbolic link), or a reparse point whose kind cannot be told (tag 0: Wine's Unix symlinks).
bool IsLink(DWORD attributes, DWORD tag);
// The first folder on the path, from its root down, that is a link a user could have made; the
// path's last part is not looked at. Empty when there is none. The folders above the one in
// checked, which this path shares, were found free of such links by an earlier call; checked is
// set to this path's folder when it is.
CString LinkInPath(LPCWSTR pszPath, CString& checked);
