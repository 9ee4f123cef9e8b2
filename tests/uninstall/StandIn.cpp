// Stands in for programs that the tests need, under whatever name they copy it to, until they end it:
//   StandIn.exe                        a running program: sleeps
//   StandIn.exe rewrite MARK FOLDER... a program of a user's: as soon as it can open any _self_del*.bat
//                                      in the folders for writing, fills it with lines that make MARK
//   StandIn.exe ANYTHING               a command interpreter (COMSPEC): makes <its own path>.ran and ends
#include <windows.h>
#include <string>

static void RewriteScripts(const std::wstring& folder, const std::string& lines)
{
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = data.cFileName, path = folder + L"\\" + name;
        if (name.compare(0, 9, L"_self_del") != 0) continue;
        HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) continue;
        DWORD written;
        ::WriteFile(file, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
        ::SetEndOfFile(file);
        ::CloseHandle(file);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
}

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) ::Sleep(INFINITE);
    if (std::wstring(argv[1]) != L"rewrite" || argc < 4) {
        wchar_t self[MAX_PATH];
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        ::CloseHandle(::CreateFileW((std::wstring(self) + L".ran").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                    nullptr));
        return 0;
    }
    // Wherever cmd reads on, it reads one of these lines.
    char mark[MAX_PATH * 3];
    ::WideCharToMultiByte(CP_ACP, 0, argv[2], -1, mark, sizeof mark, nullptr, nullptr);
    std::string lines;
    while (lines.size() < 16384) lines += "echo x>\"" + std::string(mark) + "\"\r\n";
    for (;;) {
        for (int i = 3; i < argc; ++i) RewriteScripts(argv[i], lines);
        ::Sleep(1);
    }
}
