#pragma once
#include <windows.h>
#include <map>
#include <string>
#include <vector>

struct Node {
    std::wstring path;
    int parent;
    DWORD attributes;
    bool present = true;
    bool expected = false;
    // A directory that could not be listed: what it holds is not known.
    bool unreadable = false;
    int children = 0;

    bool IsDir() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    bool IsReadOnly() const { return (attributes & FILE_ATTRIBUTE_READONLY) != 0; }
};

// Every file and directory under a folder as the disk has them, and what a removal takes away.
class CFolderPicture {
public:
    // Lists the folder at any depth, never through a link or junction, and marks each directory
    // that cannot be listed; false when the folder itself cannot be.
    bool Load(const std::wstring& folder);
    bool Contains(const std::wstring& path) const;
    int Find(const std::wstring& path) const;
    // The files of that name anywhere under the folder.
    std::vector<int> FindFiles(LPCWSTR pszName) const;
    // The deepest node that holds the path, or -1.
    int Holder(const std::wstring& path) const;
    int Add(const std::wstring& path, int parent, DWORD attributes);
    void Take(int n);
    bool IsInside(int n, int ancestor) const;

    std::vector<Node> nodes;

private:
    std::wstring m_rootKey;
    std::map<std::wstring, int> m_index;
};
