#include "e2e/Screen.h"
#include "e2e/UninstRun.h"
#include <algorithm>
#include <imm.h>
#include <mmsystem.h>
#include <mutex>

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

// A window as a failure names it: its caption, class and process.
std::string Name(HWND hwnd)
{
    if (!hwnd) return "no window";
    wchar_t caption[128] = {}, name[64] = {};
    ::GetWindowTextW(hwnd, caption, 128);
    ::GetClassNameW(hwnd, name, 64);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(hwnd, &processId);
    const std::wstring text = L"\"" + std::wstring(caption) + L"\" (" + name + L", process " +
                              std::to_wstring(processId) + L")";
    std::string utf8(::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.pop_back();
    return utf8;
}

// Windows lets another process take the foreground once the user has pressed Alt
// (LockSetForegroundWindow), and SetForegroundWindow may take effect only later: tried until it
// holds. Alt is released only afterwards, so that it opens no menu.
bool BringToForeground(HWND hwnd)
{
    for (const DWORD start = ::GetTickCount(); !IsForeground(hwnd);) {
        if (::GetTickCount() - start > 5000) return false;
        SendKey(VK_MENU, 0);
        ::SetForegroundWindow(hwnd);
        SendKey(VK_MENU, KEYEVENTF_KEYUP);
        WaitUntil(IsForeground, hwnd, 250);
    }
    return true;
}

// A Chinese input method in Chinese mode takes letters for a composition of its own. Closed through
// the default IME window of the window's thread, the one way another process can close it, it lets
// them through to the window.
std::string CloseInputMethod(HWND hwnd)
{
    const UINT getOpenStatus = 0x0005, setOpenStatus = 0x0006;  // IMC_GETOPENSTATUS, IMC_SETOPENSTATUS
    const HWND ime = ::ImmGetDefaultIMEWnd(hwnd);
    if (!ime) return "";
    DWORD_PTR open = 0;
    ::SendMessageTimeoutW(ime, WM_IME_CONTROL, setOpenStatus, FALSE, SMTO_ABORTIFHUNG, 1000, nullptr);
    if (::SendMessageTimeoutW(ime, WM_IME_CONTROL, getOpenStatus, 0, SMTO_ABORTIFHUNG, 1000, &open) && open)
        return "the input method of " + Name(hwnd) + " stays open";
    return "";
}

// Where a key pressed now would go: the foreground window, and the focus in it (none: the window).
std::string KeyTargetProblem(HWND hwnd)
{
    if (!IsForeground(hwnd)) return "the foreground is " + Name(::GetForegroundWindow()) + ", not " + Name(hwnd);
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(hwnd, nullptr), &info);
    const HWND focus = info.hwndFocus ? info.hwndFocus : info.hwndActive;
    if (focus != hwnd && !::IsChild(hwnd, focus)) return "the focus is on " + Name(focus) + ", not in " + Name(hwnd);
    return "";
}

double s_lastKeyDown = 0;

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
    for (const DWORD start = ::GetTickCount(); !condition(hwnd); ::Sleep(5))
        if (::GetTickCount() - start > ms) return false;
    return true;
}

ShownBox WaitForBox(DWORD processId, DWORD ms)
{
    ShownBox box;
    for (const DWORD start = ::GetTickCount(); ::GetTickCount() - start <= ms; ::Sleep(5)) {
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

std::string PressKey(HWND hwnd, WORD virtualKey)
{
    if (!BringToForeground(hwnd)) return "the foreground stayed with " + Name(::GetForegroundWindow()) + ", not " + Name(hwnd);
    std::string problem = CloseInputMethod(hwnd);
    if (problem.empty()) problem = KeyTargetProblem(hwnd);
    if (!problem.empty()) return problem;
    s_lastKeyDown = NowMs();
    SendKey(virtualKey, 0);
    SendKey(virtualKey, KEYEVENTF_KEYUP);
    return "";
}

std::string AnswerBox(HWND box, WORD virtualKey)
{
    std::string problem;
    for (int attempt = 0; attempt < 2; ++attempt) {
        problem = PressKey(box, virtualKey);
        if (problem.empty() && WaitUntil(IsGone, box, 3000)) return "";
    }
    return problem.empty() ? "the box stays open" : problem;
}

double LastKeyDownMs()
{
    return s_lastKeyDown;
}

namespace {

std::mutex s_shownMutex;
std::vector<std::pair<DWORD, std::wstring>> s_shown;

}  // namespace

ShowWatch::ShowWatch() : m_ready(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    m_thread = ::CreateThread(nullptr, 0, Loop, this, 0, &m_threadId);
    ::WaitForSingleObject(m_ready, 10000);
}

ShowWatch::~ShowWatch()
{
    ::PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
    ::WaitForSingleObject(m_thread, INFINITE);
    ::CloseHandle(m_thread);
    ::CloseHandle(m_ready);
    std::lock_guard<std::mutex> lock(s_shownMutex);
    s_shown.clear();
}

// Wine reports no showing across processes: every millisecond, the visible windows are looked at too.
DWORD WINAPI ShowWatch::Loop(LPVOID self)
{
    // Out of context: the system calls back on this thread, which must pump its messages.
    const HWINEVENTHOOK hook =
        ::SetWinEventHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_SHOW, nullptr, OnShow, 0, 0, WINEVENT_OUTOFCONTEXT);
    MSG msg;
    ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    ::SetEvent(static_cast<ShowWatch*>(self)->m_ready);
    ::timeBeginPeriod(1);
    while (msg.message != WM_QUIT) {
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message != WM_QUIT) ::DispatchMessageW(&msg);
        ::EnumWindows(RecordIfVisible, 0);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
    ::timeEndPeriod(1);
    ::UnhookWinEvent(hook);
    return 0;
}

void CALLBACK ShowWatch::OnShow(HWINEVENTHOOK, DWORD, HWND hwnd, LONG object, LONG child, DWORD, DWORD)
{
    if (object == OBJID_WINDOW && child == CHILDID_SELF && ::GetAncestor(hwnd, GA_PARENT) == ::GetDesktopWindow())
        Record(hwnd);
}

BOOL CALLBACK ShowWatch::RecordIfVisible(HWND hwnd, LPARAM)
{
    if (::IsWindowVisible(hwnd)) Record(hwnd);
    return TRUE;
}

void ShowWatch::Record(HWND hwnd)
{
    DWORD processId = 0;
    ::GetWindowThreadProcessId(hwnd, &processId);
    wchar_t caption[128] = {}, name[64] = {};
    ::GetWindowTextW(hwnd, caption, 128);
    ::GetClassNameW(hwnd, name, 64);
    const std::pair<DWORD, std::wstring> shown(processId, std::wstring(name) + L" \"" + caption + L"\"");
    std::lock_guard<std::mutex> lock(s_shownMutex);
    if (std::find(s_shown.begin(), s_shown.end(), shown) == s_shown.end()) s_shown.push_back(shown);
}

std::vector<std::wstring> ShowWatch::ShownBy(DWORD processId)
{
    std::lock_guard<std::mutex> lock(s_shownMutex);
    std::vector<std::wstring> names;
    for (const auto& shown : s_shown)
        if (shown.first == processId) names.push_back(shown.second);
    return names;
}

HiddenDesktop::HiddenDesktop()
{
    const std::wstring station = L"QuorillTests" + std::to_wstring(::GetCurrentProcessId());
    m_station = ::CreateWindowStationW(station.c_str(), 0, WINSTA_ALL_ACCESS, nullptr);
    if (!m_station) return;
    // A desktop is made in the window station of the process.
    const HWINSTA own = ::GetProcessWindowStation();
    ::SetProcessWindowStation(m_station);
    m_desktop = ::CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ::SetProcessWindowStation(own);
    if (m_desktop) m_name = station + L"\\Default";
}

HiddenDesktop::~HiddenDesktop()
{
    if (m_desktop) ::CloseDesktop(m_desktop);
    if (m_station) ::CloseWindowStation(m_station);
}
