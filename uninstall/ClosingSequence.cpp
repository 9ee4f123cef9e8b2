#include "uninstall/ClosingSequence.h"
#include "platform/Handle.h"
#include "uninstall/RemovalLog.h"

static const WCHAR CAPTION[] = L"Zembrat";
static const WCHAR STAYED_ONE[] = L"下面这个文件或文件夹未能删除，您可以手动删除它：\n";
static const WCHAR STAYED_MANY[] = L"下面这些文件或文件夹未能删除，您可以手动删除它们：\n";
static const WCHAR MORE_STAYED[] = L"\n……另有 %d 项。";
static const WCHAR RESTART[] = L"重新启动计算机即可完成“Zembrat”网络电话的删除。\n\n是否立即重新启动计算机？";
static const WCHAR NOTHING_REMOVED[] = L"没有删除任何内容。“Zembrat”网络电话的安装可能已损坏，或是从其他位置复制来的。"
                                       L"请重新安装“Zembrat”网络电话，然后再删除它。";
// The page that the worker opened a moment earlier has the foreground, and an ownerless box would
// open behind it, where the run would wait unseen.
static const UINT SEEN = MB_SETFOREGROUND | MB_TOPMOST;
// Up to ten paths are named; an eleventh takes the place that "one more" would.
static const int NAMED = 10;

struct EndBox {
    CString text;
    UINT type;
    int named;
};

// The paths of what stayed, one to a line, after the sentence that fits their number.
static int NameWhatStayed(const CStringList& stayed, CString& text)
{
    const int count = static_cast<int>(stayed.GetCount());
    const int named = count <= NAMED + 1 ? count : NAMED;
    text += count == 1 ? STAYED_ONE : STAYED_MANY;
    for (int i = 0; i < named; ++i) {
        text += L"\n";
        text += stayed.GetAt(stayed.FindIndex(i));
    }
    WCHAR more[40];
    ::wsprintfW(more, MORE_STAYED, count - named);
    if (named < count) text += more;
    return named;
}

// No text when no box is due.
static EndBox ChooseEndBox(Outcome outcome, const Leftovers& left)
{
    EndBox box = {CString(), MB_OK | MB_ICONEXCLAMATION | SEEN, 0};
    if (outcome == NOTHING_LISTED_HERE) {
        box.text = NOTHING_REMOVED;
        return box;
    }
    if (left.stayed.GetCount()) box.named = NameWhatStayed(left.stayed, box.text);
    if (!left.atRestart.GetCount()) return box;
    if (!box.text.IsEmpty()) box.text += L"\n\n";
    box.text += RESTART;
    box.type = MB_YESNO | MB_DEFBUTTON2 | (box.named ? MB_ICONEXCLAMATION : MB_ICONQUESTION) | SEEN;
    return box;
}

bool EndRunAtDesktop(Outcome outcome, const Leftovers& left)
{
    const EndBox box = ChooseEndBox(outcome, left);
    if (box.text.IsEmpty()) return false;
    // The dialog's end leaves quit messages behind, which would end a box's own loop at once.
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {}
    const bool yes = ::MessageBoxW(nullptr, box.text, CAPTION, box.type) == IDYES;

    if (outcome == NOTHING_LISTED_HERE) LogLine(L"box", L"nothing removed: install again, then remove");
    if (box.named) {
        WCHAR named[40];
        ::wsprintfW(named, L"%d named of %d", box.named, static_cast<int>(left.stayed.GetCount()));
        LogLine(L"box", L"what stayed", named);
    }
    if (!(box.type & MB_YESNO)) return false;
    LogLine(L"restart", yes ? L"asked; answered Yes: Windows is asked for it once the script has started and this log "
                              L"is closed"
                            : L"asked; answered No: what waits for it goes at the next restart");
    return yes;
}

// The shutdown privilege enabled, without which Windows refuses, and the restart given as planned,
// for an installation.
void RestartComputer()
{
    HANDLE hToken;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &hToken)) {
        const CHandle token(hToken);
        TOKEN_PRIVILEGES privileges = {1, {}};
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid))
            ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    ::ExitWindowsEx(EWX_REBOOT,
                    SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION | SHTDN_REASON_FLAG_PLANNED);
}
