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
// Brings the window to the foreground (for up to a few seconds), sets the input method of its thread
// to alphanumeric input and closes it, then presses and releases the key, once the window and its
// focus are checked to be where the key must go. Empty when the key was sent, else what stood in
// the way.
std::string PressKey(HWND hwnd, WORD virtualKey);
// Presses the key on the box and waits for it to close; tries once more if it stays.
std::string AnswerBox(HWND box, WORD virtualKey);
// When the last key was pressed, by NowMs.
double LastKeyDownMs();
