#pragma once
#include <windows.h>
#include <string>

// Why a path names nothing on Windows, or why the checker cannot tell what it names. After \\?\ a
// path goes to the file system as written: "." and ".." are not resolved, "/" is no separator, and
// a name keeps its trailing dots and spaces. No name holds "?" or "*": where a path has one, a
// character was lost on its way through a code page that cannot spell it.
enum class PathFault { None, RelativePart, Slash, TrailingDotOrSpace, UnknownRoot, Unspellable };

PathFault FaultOf(const std::wstring& path);
// The path as Windows hands it to the file system, as a drive or share path: full, and "." and ".."
// applied unless it was given after \\?\; a volume named by its GUID is replaced by where it is
// mounted. Empty when where it leads cannot be told (\\?\GLOBALROOT\…, a device).
std::wstring CanonicalPath(const std::wstring& path);
// CanonicalPath in long names as far as it exists.
std::wstring LongPath(const std::wstring& path);
// Where the path really leads: LongPath with the links and junctions among its parents resolved,
// and its own last part too when resolveLast; no trailing separator.
std::wstring RealPath(const std::wstring& path, bool resolveLast);
// The path read as it would be without \\?\: \\.\ is the same prefix with the usual parsing.
std::wstring WithParsing(const std::wstring& path);
// A full path in the form that file functions take at any length.
std::wstring Literal(const std::wstring& full);

// The length of "C:\" or of "\\server\share\" at the start of a full path.
size_t RootLength(const std::wstring& full);
std::wstring WithoutTrailingSeparator(std::wstring path);
// File names match without regard to case: the form in which paths are compared.
std::wstring Key(const std::wstring& path);
