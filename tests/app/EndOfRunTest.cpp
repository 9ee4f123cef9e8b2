// The end of a run at the desktop: the box that the rules choose, shown and logged with its answer,
// and the restart, which never reaches the system here.
#include "ImportHook.h"
#include "app/DesktopRun.h"
#include "uninstall/RemovalHarness.h"
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

}  // namespace

TEST(EndOfRun, ShowsTheOneBoxAndRestartsOnlyOnYes)
{
    struct Case {
        const char* what;
        Outcome outcome;
        int stayed;
        bool atRestart;
        int answer;
        bool restarted;
        std::string log;
    };
    const Case cases[] = {
        {"an ordinary removal", REMOVED, 0, false, IDYES, false, ""},
        {"one stayed and a restart, No", REMOVAL_FAILED, 1, true, IDNO, false,
         "box\twhat stayed\t1 named of 1\r\nrestart\tasked; answered No: what waits for it goes at the next restart\r\n"},
        {"a restart, Yes", REMOVED_AT_RESTART, 0, true, IDYES, true,
         "restart\tasked; answered Yes: Windows is asked for it once the script has started and this log is closed\r\n"},
        {"a manifest that names nothing here", NOTHING_LISTED_HERE, 0, false, IDOK, false,
         "box\tnothing removed: install again, then remove\r\n"},
    };
    const ImportHook box(importMessageBoxW, RecordBox);
    const ImportHook restart(importExitWindowsEx, RecordRestart);
    const ImportHook privilege(importAdjustTokenPrivileges, RecordPrivilege);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        s_boxes.clear();
        s_restarts.clear();
        s_answer = c.answer;
        RunState run;
        run.outcome = c.outcome;
        for (int i = 0; i < c.stayed; ++i) run.removal.stayed.AddTail((L"C:\\Zembrat\\f" + std::to_wstring(i) + L".dll").c_str());
        if (c.atRestart) run.removal.atRestart.AddTail(L"C:\\ZEMBRAT\\BUSY.DLL");

        // As the exit step ends a run, with the restart that the answer asked for.
        EXPECT_EQ(c.log, LogOf([&run] { if (ShowEndBox(run)) RestartComputer(); }));
        const EndBox chosen = ChooseEndBox(c.outcome, run.removal);
        std::vector<Box> shown;
        if (!chosen.text.IsEmpty()) shown.push_back({std::wstring(chosen.text), L"Zembrat", chosen.type});
        EXPECT_EQ(shown, s_boxes);
        // The shutdown privilege (19) enabled, then a planned restart, for an installation, as installers ask for it.
        std::vector<std::pair<UINT, DWORD>> restarts;
        if (c.restarted) restarts.emplace_back(19, SE_PRIVILEGE_ENABLED);
        if (c.restarted)
            restarts.emplace_back(EWX_REBOOT, SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION |
                                                  SHTDN_REASON_FLAG_PLANNED);
        EXPECT_EQ(restarts, s_restarts);
    }
}
