// A helper for the end-to-end tests, run in the same Wine prefix as the uninstaller:
//   probe box      waits for the message box captioned "Zembrat"; prints its buttons and text
//   probe dialog   prints whether the uninstall dialog exists and is visible, its size and place,
//                  and whether it is topmost (Wine answers no WM_GETICON from another process)
//   probe hold     stays running until its standard input ends (a stand-in for the product)
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

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"box") return Box();
    if (command == L"dialog") return Dialog();
    if (command == L"hold") return Hold();
    return 2;
}
