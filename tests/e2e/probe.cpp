// A helper for the end-to-end tests, run in the same Wine prefix as the uninstaller:
//   probe box      waits for the message box captioned "Zembrat"; prints its buttons and text
//   probe dialog   prints whether the uninstall dialog exists and is visible, its size and place,
//                  and whether it is topmost (Wine answers no WM_GETICON from another process)
//   probe hold     stays running until its standard input ends (a stand-in for the product)
//   probe console  runs the rest of its command line on a console of its own, with the output code
//                  page 437, and prints the console's lines once the program has ended
#include <windows.h>
#include <string>

static void Print(const std::wstring& text)
{
    std::string utf8(::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.back() = '\n';
    DWORD written;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

static int Box()
{
    for (int i = 0; i < 200; ++i, ::Sleep(50)) {
        HWND box = ::FindWindowW(L"#32770", L"Zembrat");
        if (!box) continue;
        wchar_t text[512] = {};
        ::GetDlgItemTextW(box, 0xFFFF, text, 512);
        const bool yesNo = ::GetDlgItem(box, IDYES) && ::GetDlgItem(box, IDNO);
        const bool ok = ::GetDlgItem(box, IDOK) != nullptr;
        Print(std::wstring(yesNo ? L"yesno " : ok ? L"ok " : L"other ") + text);
        return 0;
    }
    return 1;
}

static int Dialog()
{
    HWND dlg = ::FindWindowW(L"#32770", L"卸载\u201CZembrat\u201D");
    if (!dlg) {
        Print(L"none");
        return 0;
    }
    RECT rect;
    ::GetWindowRect(dlg, &rect);
    const bool topmost = (::GetWindowLongW(dlg, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    Print((::IsWindowVisible(dlg) ? L"visible " : L"hidden ") + std::to_wstring(rect.right - rect.left) + L"x" +
          std::to_wstring(rect.bottom - rect.top) + L" at " + std::to_wstring(rect.left) + L"," +
          std::to_wstring(rect.top) + (topmost ? L" topmost" : L""));
    return 0;
}

static int Hold()
{
    Print(L"ready");
    char buffer[64];
    DWORD read;
    while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &read, nullptr) && read) {}
    return 0;
}

static int Console(LPWSTR commandLine)
{
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    ::FreeConsole();
    if (!::AllocConsole()) return 3;
    ::SetStdHandle(STD_OUTPUT_HANDLE, out);
    ::SetConsoleOutputCP(437);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const HANDLE screen = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        &inherit, OPEN_EXISTING, 0, nullptr);
    const COORD size = {400, 200};
    ::SetConsoleScreenBufferSize(screen, size);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = screen;
    PROCESS_INFORMATION process;
    if (!::CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return 3;
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 3;
    ::GetExitCodeProcess(process.hProcess, &code);

    CONSOLE_SCREEN_BUFFER_INFO info;
    ::GetConsoleScreenBufferInfo(screen, &info);
    for (SHORT y = 0; y < info.dwCursorPosition.Y; ++y) {
        std::wstring line(info.dwSize.X, L' ');
        DWORD read = 0;
        ::ReadConsoleOutputCharacterW(screen, &line[0], info.dwSize.X, {0, y}, &read);
        line.resize(line.find_last_not_of(L' ') + 1);
        Print(line);
    }
    return static_cast<int>(code);
}

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"box") return Box();
    if (command == L"dialog") return Dialog();
    if (command == L"hold") return Hold();
    if (command == L"console") return Console(::wcsstr(::GetCommandLineW(), L" console ") + 9);
    return 2;
}
