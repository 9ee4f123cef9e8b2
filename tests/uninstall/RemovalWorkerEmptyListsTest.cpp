// The removal worker when the manifest lists nothing; a process of its own, since the lists of
// the other removal tests can never be emptied again.
#include "RemovalHarness.h"
#include "uninstall/RunState.h"
#include <gtest/gtest.h>

TEST(RemovalWorkerWithEmptyLists, OpensThePageDeletesTheKeyAndQuitsWithoutSteps)
{
    ASSERT_EQ(0, g_fileList.GetCount() + g_dirList.GetCount());
    PageRecorder recorder;
    ASSERT_TRUE(CreateMarkedKey(UNINSTALL_KEY)) << KIT_KEY_TAKEN;

    EXPECT_EQ(StepsThenQuit(0), Describe(RunWorkerBeforeAnyLoop()));
    EXPECT_EQ(1, g_uninstallDone);
    EXPECT_FALSE(KeyExists(UNINSTALL_KEY));
    EXPECT_EQ(DownloadPageOpened(), recorder.Calls());

    DeleteMarkedKey(UNINSTALL_KEY);
}
