#include "platform/Spawn.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using namespace korvane;

// A viewer started for each of many files leaves no child behind to be reaped, however long it runs.
TEST(Spawn, DetachedProgramsLeaveNoChildren) {
    // Each program writes its parent's id into a pipe it inherits; the pipe ends once all of them have.
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    constexpr int kPrograms = 20;
    const std::string command = "echo $PPID >&" + std::to_string(report[1]);
    for (int i = 0; i < kPrograms; ++i)
        ASSERT_TRUE(SpawnDetached({"sh", "-c", command}));
    ::fcntl(report[1], F_SETFD, FD_CLOEXEC);
    ASSERT_TRUE(SpawnDetached({"sleep", "30"})); // still running when the test looks
    ::close(report[1]);
    std::string lines;
    char buf[512];
    for (ssize_t n; (n = ::read(report[0], buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        ASSERT_GT(n, 0);
        lines.append(buf, static_cast<std::size_t>(n));
    }
    ::close(report[0]);
    // Every program has run, none as a child of this process ...
    std::size_t ran = 0;
    for (std::size_t at = 0, end; (end = lines.find('\n', at)) != std::string::npos; at = end + 1, ++ran)
        EXPECT_NE(std::stol(lines.substr(at, end - at)), static_cast<long>(::getpid()));
    EXPECT_EQ(ran, static_cast<std::size_t>(kPrograms));
    // ... and none of them, the sleeping one included, is a child left to reap.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    EXPECT_FALSE(SpawnDetached({}));
}
