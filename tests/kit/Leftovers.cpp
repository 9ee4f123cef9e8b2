#include "kit/Leftovers.h"
#include "KitMark.h"
#include "platform/Handle.h"

const wchar_t WORK_FOLDER_PREFIX[] = L"QuorillTests-";

static std::wstring Outcome(bool removed, const std::wstring& what)
{
    return (removed ? L"Removed the kit's leftover " : L"Could not remove the kit's leftover ") + what;
}

std::vector<std::wstring> RemoveLeftovers(const std::wstring& temp)
{
    std::vector<std::wstring> lines;
    for (const wchar_t* key : KIT_KEYS)
        for (const std::wstring& path : {PendingKey(key), std::wstring(key)})
            if (IsMarkedKey(path)) lines.push_back(Outcome(DeleteMarkedKey(path), L"key HKLM\\" + path));
    WIN32_FIND_DATAW data;
    const CFindHandle find(::FindFirstFileW((temp + L"\\" + WORK_FOLDER_PREFIX + L"*").c_str(), &data));
    if (!find.IsValid()) return lines;
    do {
        const std::wstring folder = temp + L"\\" + data.cFileName;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsMarkedFolder(folder))
            lines.push_back(Outcome(RemoveMarkedFolder(folder), L"folder " + folder));
    } while (::FindNextFileW(find, &data));
    return lines;
}
