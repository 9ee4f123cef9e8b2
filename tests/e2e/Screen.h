#pragma once
#include <windows.h>
#include <string>
#include <vector>

// What a user sees of one process, and the keys a user presses.
struct ShownBox {
    HWND hwnd = nullptr;
    std::wstring text;
    std::vector<int> buttons;  // the control ids of the visible buttons, in window order
};

// The top-level window of the process with the dialog class and exactly this caption, or null.
HWND FindProcessWindow(DWORD processId, const std::wstring& caption);
// Waits for the visible message box captioned "Zembrat" of the process.
ShownBox WaitForBox(DWORD processId, DWORD ms);
// Shown on screen: visible and not shrunk to nothing.
bool IsSeen(HWND hwnd);
bool WaitUntil(bool (*condition)(HWND), HWND hwnd, DWORD ms);
// Brings the window to the foreground (for up to a few seconds), closes the input method of its
// thread, then presses and releases the key, each only once the window and its focus are checked
// to be where the key must go. Empty when the key was sent, else what stood in the way.
std::string PressKey(HWND hwnd, WORD virtualKey);
// Presses the key on the box and waits for it to close; tries once more if it stays.
std::string AnswerBox(HWND box, WORD virtualKey);
// When the last key was pressed, by NowMs.
double LastKeyDownMs();

// Every top-level window that any process shows while the object lives, as the system reports each
// showing (an accessibility event, on a thread of its own), so that none is missed for being brief.
class ShowWatch {
public:
    ShowWatch();
    ~ShowWatch();
    ShowWatch(const ShowWatch&) = delete;
    ShowWatch& operator=(const ShowWatch&) = delete;

    // The windows of the process shown so far, by class and caption.
    std::vector<std::wstring> ShownBy(DWORD processId);

private:
    static DWORD WINAPI Loop(LPVOID self);
    static void CALLBACK OnShow(HWINEVENTHOOK, DWORD, HWND hwnd, LONG object, LONG child, DWORD, DWORD);
    static BOOL CALLBACK RecordIfVisible(HWND hwnd, LPARAM);
    static void Record(HWND hwnd);

    HANDLE m_ready;
    HANDLE m_thread;
    DWORD m_threadId = 0;
};

// A window station without WSF_VISIBLE, as a service has, with a desktop of its own: what is shown
// there nobody sees, nor can answer. Both go with the object.
class HiddenDesktop {
public:
    HiddenDesktop();
    ~HiddenDesktop();
    HiddenDesktop(const HiddenDesktop&) = delete;
    HiddenDesktop& operator=(const HiddenDesktop&) = delete;

    // "station\\desktop", for STARTUPINFO.lpDesktop; empty when it could not be made.
    const std::wstring& Name() const { return m_name; }

private:
    HWINSTA m_station = nullptr;
    HDESK m_desktop = nullptr;
    std::wstring m_name;
};
