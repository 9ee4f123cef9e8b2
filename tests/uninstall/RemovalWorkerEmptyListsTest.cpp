// The removal worker when the manifest lists nothing; a process of its own, since the lists of
// the other removal tests can never be emptied again.
#include "RemovalHarness.h"
#include "app/UninstallerApp.h"
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

// A silent run opens no page, and its exit code says whether the entry went: one with a subkey stays.
TEST(RemovalWorkerWithEmptyLists, ASilentRunTellsWhetherTheKeyWent)
{
    PageRecorder recorder;
    g_silent = 1;
    for (const bool subkey : {false, true}) {
        ASSERT_TRUE(CreateMarkedKey(UNINSTALL_KEY)) << KIT_KEY_TAKEN;
        if (subkey) ASSERT_TRUE(CreateMarkedKey(KIT_KEYS[0]));
        EXPECT_EQ(std::vector<std::string>{subkey ? "message 18 (1603, 0)" : "quit"}, Describe(RunWorkerBeforeAnyLoop()));
        EXPECT_EQ(subkey, KeyExists(UNINSTALL_KEY));
        for (const wchar_t* key : KIT_KEYS) DeleteMarkedKey(key);
    }
    g_silent = 0;
    EXPECT_EQ(0u, recorder.Calls().size());
}
