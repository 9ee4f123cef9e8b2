#include "bench/Staging.h"
#include <algorithm>
#include <fstream>
#include <string>
#include <windows.h>

namespace {

const wchar_t KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorill2010";

}  // namespace

Staged Stage(const fs::path& folder, const fs::path& program, const wchar_t* name, int tops, int subs)
{
    std::wstring files = L"\xFEFF[Files]\r\n", dirs = L"[Dirs]\r\n";
    int f = 0, d = 0;
    for (int top = 0; top < tops; ++top)
        for (int sub = 0; sub <= subs; ++sub) {
            const fs::path parent = folder / ("d" + std::to_string(top));
            const fs::path dir = sub < subs ? parent / ("s" + std::to_string(sub)) : parent;
            fs::create_directories(dir);
            std::ofstream(dir / "file.dat", std::ios::binary) << std::string(4096, 'x');
            files += std::to_wstring(f++) + L"=" + (dir / "file.dat").wstring() + L"\r\n";
            dirs += std::to_wstring(d++) + L"=" + dir.wstring() + L"\r\n";
        }
    const std::wstring text = files + dirs;
    std::ofstream(folder / "Uninst.ini", std::ios::binary)
        .write(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    fs::copy_file(program, folder / name);
    HKEY key;
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    ::RegCloseKey(key);
    return {folder / name, folder / "d0" / (subs ? "s0" : "") / "file.dat", folder / ("d" + std::to_string(tops - 1))};
}

fs::path ThisProgram()
{
    wchar_t exe[MAX_PATH];
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    return exe;
}

bool UninstallKeyExists()
{
    HKEY key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
