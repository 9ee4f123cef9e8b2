// The removal worker when the manifest lists nothing; a process of its own, since the lists of
// the other removal tests can never be emptied again.
#include "DownloadPage.h"
#include "RemovalHarness.h"
#include "app/UninstallerApp.h"
#include <gtest/gtest.h>

TEST(RemovalWorkerWithEmptyLists, OpensThePageDeletesTheKeyAndQuitsWithoutSteps)
{
    ASSERT_EQ(0, g_fileList.GetCount() + g_dirList.GetCount());
    PageRecorder recorder;
    CreateKey(UNINSTALL_KEY);

    EXPECT_EQ(StepsThenQuit(0), Describe(RunWorkerBeforeAnyLoop()));
    EXPECT_EQ(1, g_uninstallDone);
    EXPECT_FALSE(KeyExists(UNINSTALL_KEY));
    EXPECT_EQ(std::vector<std::wstring>{DOWNLOAD_PAGE_URL}, recorder.Urls());

    DeleteKey(UNINSTALL_KEY);
}
