#pragma once
#include <windows.h>
#include <string>

// The path as Windows resolves it for a file operation: separators made backslashes, "." and ".."
// applied, relative to the current directory. Nothing on disk is consulted.
std::wstring FullPath(const std::wstring& path);
// The path without its aliases: no \\?\ or \\.\ prefix (\\?\UNC\ made \\), full, and in long names
// as far as it exists.
std::wstring LongPath(const std::wstring& path);
// Where the path really leads: LongPath with the links and junctions among its parents resolved,
// and its own last part too when resolveLast; no trailing separator.
std::wstring RealPath(const std::wstring& path, bool resolveLast);

// The length of "C:\" or of "\\server\share\" at the start of a full path.
size_t RootLength(const std::wstring& full);
std::wstring WithoutTrailingSeparator(std::wstring path);
// File names match without regard to case: the form in which paths are compared.
std::wstring Key(const std::wstring& path);
