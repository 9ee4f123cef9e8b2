// The end of a run at the desktop: the box that names what stayed and offers the restart that is
// needed, or says that nothing was removed, and the restart, which never reaches the system here.
#include "ImportHook.h"
#include "RemovalHarness.h"
#include "uninstall/ClosingSequence.h"
#include <gtest/gtest.h>

IMPORT_SLOT(MessageBoxW, 16);
IMPORT_SLOT(ExitWindowsEx, 8);
IMPORT_SLOT(AdjustTokenPrivileges, 24);

namespace {

struct Box {
    std::wstring text, caption;
    UINT type;
    bool operator==(const Box& o) const { return text == o.text && caption == o.caption && type == o.type; }
};
void PrintTo(const Box& box, std::ostream* os)
{
    *os << ::testing::PrintToString(box.caption + L" [" + std::to_wstring(box.type) + L"] " + box.text);
}

std::vector<Box> s_boxes;
int s_answer;
std::vector<std::pair<UINT, DWORD>> s_restarts;

int WINAPI RecordBox(HWND, LPCWSTR text, LPCWSTR caption, UINT type)
{
    s_boxes.push_back({text, caption, type});
    return s_answer;
}

BOOL WINAPI RecordRestart(UINT flags, DWORD reason)
{
    s_restarts.emplace_back(flags, reason);
    return TRUE;
}

// Windows refuses the restart to a process without the shutdown privilege enabled; Wine does not.
BOOL WINAPI RecordPrivilege(HANDLE, BOOL, PTOKEN_PRIVILEGES privileges, DWORD, PTOKEN_PRIVILEGES, PDWORD)
{
    s_restarts.emplace_back(privileges->Privileges[0].Luid.LowPart, privileges->Privileges[0].Attributes);
    return TRUE;
}

const UINT SEEN = MB_SETFOREGROUND | MB_TOPMOST;
const std::wstring STAYED = L"下面这些文件或文件夹未能删除\uFF0C您可以手动删除它们\uFF1A\n";
const std::wstring RESTART = L"重新启动计算机即可完成\u201CZembrat\u201D网络电话的删除\u3002\n\n是否立即重新启动计算机\uFF1F";
const Box RESTART_BOX = {RESTART, L"Zembrat", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | SEEN};

std::wstring Path(int i)
{
    return L"C:\\Zembrat\\f" + std::to_wstring(i) + L".dll";
}

}  // namespace

// One box, brought to the front and kept above: what stayed first, the restart question last.
TEST(ClosingSequence, NamesWhatStayedAndOffersTheRestartThatIsNeeded)
{
    std::wstring ten;
    for (int i = 0; i < 10; ++i) ten += L"\n" + Path(i);
    const std::wstring one = L"下面这个文件或文件夹未能删除\uFF0C您可以手动删除它\uFF1A\n\n" + Path(0);
    const Box oneStayed = {one, L"Zembrat", MB_OK | MB_ICONEXCLAMATION | SEEN};
    const Box elevenStayed = {STAYED + ten + L"\n" + Path(10), L"Zembrat", MB_OK | MB_ICONEXCLAMATION | SEEN};
    const Box twelveStayed = {STAYED + ten + L"\n\u2026\u2026另有 2 项\u3002", L"Zembrat",
                              MB_OK | MB_ICONEXCLAMATION | SEEN};
    const Box both = {one + L"\n\n" + RESTART, L"Zembrat", MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2 | SEEN};
    const Box refused = {L"没有删除任何内容\u3002\u201CZembrat\u201D网络电话的安装可能已损坏\uFF0C或是从其他位置复制来的\u3002"
                         L"请重新安装\u201CZembrat\u201D网络电话\uFF0C然后再删除它\u3002",
                         L"Zembrat", MB_OK | MB_ICONEXCLAMATION | SEEN};
    struct Case {
        const char* what;
        int stayed;
        bool atRestart;
        int answer;
        std::vector<Box> boxes;
        bool restarted;
        std::string log;
        Outcome outcome = REMOVED;
    };
    const Case cases[] = {
        {"an ordinary removal", 0, false, IDYES, {}, false, ""},
        {"one stayed", 1, false, IDOK, {oneStayed}, false, "box\twhat stayed\t1 named of 1\r\n"},
        {"eleven stayed", 11, false, IDOK, {elevenStayed}, false, "box\twhat stayed\t11 named of 11\r\n"},
        {"twelve stayed", 12, false, IDOK, {twelveStayed}, false, "box\twhat stayed\t10 named of 12\r\n"},
        {"a restart, Yes", 0, true, IDYES, {RESTART_BOX}, true,
         "restart\tasked; answered Yes: Windows is asked for it once the script has started and this log is closed\r\n"},
        {"a restart, No", 0, true, IDNO, {RESTART_BOX}, false,
         "restart\tasked; answered No: what waits for it goes at the next restart\r\n"},
        {"one stayed and a restart", 1, true, IDNO, {both}, false,
         "box\twhat stayed\t1 named of 1\r\nrestart\tasked; answered No: what waits for it goes at the next restart\r\n"},
        {"a manifest that names nothing here", 0, false, IDOK, {refused}, false,
         "box\tnothing removed: install again, then remove\r\n", NOTHING_LISTED_HERE},
    };
    const ImportHook box(importMessageBoxW, RecordBox);
    const ImportHook restart(importExitWindowsEx, RecordRestart);
    const ImportHook privilege(importAdjustTokenPrivileges, RecordPrivilege);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        s_boxes.clear();
        s_restarts.clear();
        s_answer = c.answer;
        Leftovers left;
        for (int i = 0; i < c.stayed; ++i) left.stayed.AddTail(Path(i).c_str());
        if (c.atRestart) left.atRestart.AddTail(L"C:\\ZEMBRAT\\BUSY.DLL");

        // As the exit step ends a run, with the restart that the answer asked for.
        EXPECT_EQ(c.log, LogOf([&c, &left] { if (EndRunAtDesktop(c.outcome, left)) RestartComputer(); }));
        EXPECT_EQ(c.boxes, s_boxes);
        // The shutdown privilege (19) enabled, then a planned restart, for an installation, as installers ask for it.
        std::vector<std::pair<UINT, DWORD>> restarts;
        if (c.restarted) restarts.emplace_back(19, SE_PRIVILEGE_ENABLED);
        if (c.restarted)
            restarts.emplace_back(EWX_REBOOT, SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION |
                                                  SHTDN_REASON_FLAG_PLANNED);
        EXPECT_EQ(restarts, s_restarts);
    }
}
