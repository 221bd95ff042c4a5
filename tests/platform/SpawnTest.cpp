#include "platform/Spawn.h"
#include "platform/Files.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <sys/wait.h>
#include <thread>

using namespace korvane;

// A viewer started for each of many files leaves no child behind to be reaped, however long it runs.
TEST(Spawn, DetachedProgramsLeaveNoChildren) {
    const korvane::testing::TempFolder folder("korvane-spawn");
    constexpr int kPrograms = 20;
    for (int i = 0; i < kPrograms; ++i)
        ASSERT_TRUE(
            SpawnDetached({"sh", "-c", "echo $PPID > \"$0\"", folder.Path("ran-" + std::to_string(i))}));
    ASSERT_TRUE(SpawnDetached({"sleep", "30"})); // still running when the test looks
    // Every program has run (its file is there) ...
    for (int i = 0; i < kPrograms; ++i) {
        const std::string ran = folder.Path("ran-" + std::to_string(i));
        for (int wait = 0; wait < 2000 && (!FileExists(ran) || ReadWholeFile(ran).empty()); ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(FileExists(ran)) << i;
        EXPECT_NE(std::stol(ReadWholeFile(ran)), static_cast<long>(::getpid())) << "not a child of ours";
    }
    // ... and none of them, the sleeping one included, is a child of this process.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    EXPECT_FALSE(SpawnDetached({}));
}
