// The end of a removal at the desktop: the boxes that name what stayed and offer the restart that
// is needed, and the restart itself, which never reaches the system here.
#include "ImportHook.h"
#include "RemovalHarness.h"
#include "uninstall/ClosingSequence.h"
#include <gtest/gtest.h>

IMPORT_SLOT(MessageBoxW, 16);
IMPORT_SLOT(ExitWindowsEx, 8);

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

const std::wstring STAYED = L"\u201CZembrat\u201D网络电话已从本计算机中删除\uFF0C但以下文件或文件夹未能删除\uFF0C"
                            L"您可以手动删除它们\uFF1A\n";
const Box RESTART_BOX = {L"\u201CZembrat\u201D网络电话已从本计算机中删除\u3002部分文件正在使用中\uFF0C"
                         L"需要重新启动计算机才能完成卸载\u3002\n\n是否立即重新启动计算机\uFF1F",
                         L"Zembrat", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2};

std::wstring Path(int i)
{
    return L"C:\\Zembrat\\f" + std::to_wstring(i) + L".dll";
}

}  // namespace

TEST(ClosingSequence, NamesWhatStayedAndOffersTheRestartThatIsNeeded)
{
    std::wstring ten;
    for (int i = 0; i < 10; ++i) ten += L"\n" + Path(i);
    const Box oneStayed = {STAYED + L"\n" + Path(0), L"Zembrat", MB_OK | MB_ICONEXCLAMATION};
    const Box twelveStayed = {STAYED + ten + L"\n\u2026\u2026另有 2 项\u3002", L"Zembrat", MB_OK | MB_ICONEXCLAMATION};
    struct Case {
        const char* what;
        int stayed;
        bool atRestart;
        int answer;
        std::vector<Box> boxes;
        bool restarted;
        std::string log;
    };
    const Case cases[] = {
        {"an ordinary removal", 0, false, IDYES, {}, false, ""},
        {"one stayed", 1, false, IDOK, {oneStayed}, false, "box\twhat stayed\t1 named\r\n"},
        {"twelve stayed", 12, false, IDOK, {twelveStayed}, false, "box\twhat stayed\t12 named\r\n"},
        {"a restart, Yes", 0, true, IDYES, {RESTART_BOX}, true, "restart\tasked; answered Yes\r\nrestart\tstarted\r\n"},
        {"a restart, No", 0, true, IDNO, {RESTART_BOX}, false,
         "restart\tasked; answered No: what waits for it goes at the next restart\r\n"},
        {"one stayed and a restart", 1, true, IDNO, {oneStayed, RESTART_BOX}, false,
         "box\twhat stayed\t1 named\r\nrestart\tasked; answered No: what waits for it goes at the next restart\r\n"},
    };
    const ImportHook box(importMessageBoxW, RecordBox);
    const ImportHook restart(importExitWindowsEx, RecordRestart);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        s_boxes.clear();
        s_restarts.clear();
        s_answer = c.answer;
        Leftovers left;
        for (int i = 0; i < c.stayed; ++i) left.stayed.AddTail(Path(i).c_str());
        if (c.atRestart) left.atRestart.AddTail(L"C:\\ZEMBRAT\\BUSY.DLL");

        EXPECT_EQ(c.log, LogOf([&left] { EndRemovalAtDesktop(left); }));
        EXPECT_EQ(c.boxes, s_boxes);
        // A planned restart, for an installation, as installers ask for it.
        std::vector<std::pair<UINT, DWORD>> restarts;
        if (c.restarted)
            restarts.emplace_back(EWX_REBOOT, SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION |
                                                  SHTDN_REASON_FLAG_PLANNED);
        EXPECT_EQ(restarts, s_restarts);
    }
}
