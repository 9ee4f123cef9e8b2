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
    // A directory whose listing was read: what it holds is known.
    bool listed = false;
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
    // What lies at a path outside the folder, from the disk, and what a directory there holds, the
    // folder itself among it when it lies there: -1 when nothing is there.
    int Attach(const std::wstring& path);
    // Held open by another process without delete sharing: opened as a deletion opens it, the
    // system refuses with a sharing violation.
    bool InUse(int n) const;
    void Take(int n);
    bool IsInside(int n, int ancestor) const;

    std::vector<Node> nodes;

private:
    void List(int n);

    std::wstring m_rootKey;
    std::map<std::wstring, int> m_index;
};
