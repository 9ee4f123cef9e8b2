#include "e2e/Screen.h"

namespace {

struct Search {
    DWORD processId;
    const std::wstring* caption;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM param)
{
    Search& search = *reinterpret_cast<Search*>(param);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(hwnd, &processId);
    wchar_t name[16], caption[64];
    if (processId != search.processId || !::GetClassNameW(hwnd, name, 16) || std::wstring(name) != L"#32770")
        return TRUE;
    ::GetWindowTextW(hwnd, caption, 64);
    if (*search.caption != caption) return TRUE;
    search.found = hwnd;
    return FALSE;
}

BOOL CALLBACK AddButton(HWND hwnd, LPARAM param)
{
    wchar_t name[16];
    if (::IsWindowVisible(hwnd) && ::GetClassNameW(hwnd, name, 16) && ::lstrcmpiW(name, L"Button") == 0)
        reinterpret_cast<std::vector<int>*>(param)->push_back(::GetDlgCtrlID(hwnd));
    return TRUE;
}

void SendKey(WORD virtualKey, DWORD flags)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = static_cast<WORD>(::MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = flags;
    ::SendInput(1, &input, sizeof input);
}

bool IsForeground(HWND hwnd)
{
    return ::GetForegroundWindow() == hwnd;
}

bool IsGone(HWND hwnd)
{
    return !::IsWindow(hwnd);
}

}  // namespace

HWND FindProcessWindow(DWORD processId, const std::wstring& caption)
{
    Search search = {processId, &caption, nullptr};
    ::EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool IsSeen(HWND hwnd)
{
    RECT rect;
    return ::IsWindowVisible(hwnd) && ::GetWindowRect(hwnd, &rect) && rect.right > rect.left && rect.bottom > rect.top;
}

bool WaitUntil(bool (*condition)(HWND), HWND hwnd, DWORD ms)
{
    for (const DWORD start = ::GetTickCount(); !condition(hwnd); ::Sleep(10))
        if (::GetTickCount() - start > ms) return false;
    return true;
}

ShownBox WaitForBox(DWORD processId, DWORD ms)
{
    ShownBox box;
    for (const DWORD start = ::GetTickCount(); ::GetTickCount() - start <= ms; ::Sleep(20)) {
        box.hwnd = FindProcessWindow(processId, L"Zembrat");
        if (box.hwnd && ::IsWindowVisible(box.hwnd)) break;
        box.hwnd = nullptr;
    }
    if (!box.hwnd) return box;
    // A message box's text is the static control with the id 0xFFFF.
    wchar_t text[512] = {};
    ::GetDlgItemTextW(box.hwnd, 0xFFFF, text, 512);
    box.text = text;
    ::EnumChildWindows(box.hwnd, AddButton, reinterpret_cast<LPARAM>(&box.buttons));
    return box;
}

bool PressKey(HWND hwnd, WORD virtualKey)
{
    if (!IsForeground(hwnd) && !::SetForegroundWindow(hwnd)) {
        // Windows lets another process take the foreground once the user has pressed Alt
        // (LockSetForegroundWindow). Alt is released only afterwards, so that it opens no menu.
        SendKey(VK_MENU, 0);
        ::SetForegroundWindow(hwnd);
        SendKey(VK_MENU, KEYEVENTF_KEYUP);
    }
    if (!WaitUntil(IsForeground, hwnd, 1000)) return false;
    SendKey(virtualKey, 0);
    SendKey(virtualKey, KEYEVENTF_KEYUP);
    return true;
}

bool AnswerBox(HWND box, WORD virtualKey)
{
    for (int attempt = 0; attempt < 2; ++attempt)
        if (PressKey(box, virtualKey) && WaitUntil(IsGone, box, 3000)) return true;
    return false;
}
