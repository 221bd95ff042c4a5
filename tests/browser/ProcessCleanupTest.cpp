// No browser outlives the program: a helper starts one, then ends in each of the ways a program ends; the
// profile folder a signal leaves is removed at the next start. A browser that cannot be executed says why.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <linux/magic.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "browser/ChromiumBrowser.h"
#include "browser/ChromiumProcess.h"
#include "browser/EngineError.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestHttpServer.h"

#ifndef EXIT_HELPER_PATH
#error "EXIT_HELPER_PATH must name the helper binary"
#endif

namespace korvane::testing {
namespace {

struct Started {
    pid_t helper = -1;
    int input = -1; // the helper's stdin
    pid_t browser = -1;
    std::string profile;
};

Started StartHelper(const std::string& mode, const std::string& url) {
    int out[2], in[2];
    EXPECT_EQ(pipe(out), 0);
    EXPECT_EQ(pipe(in), 0);
    Started s;
    s.helper = fork();
    if (s.helper == 0) {
        dup2(out[1], 1);
        dup2(in[0], 0);
        close(out[0]);
        close(out[1]);
        close(in[0]);
        close(in[1]);
        execl(EXIT_HELPER_PATH, EXIT_HELPER_PATH, mode.c_str(), url.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    close(in[0]);
    s.input = in[1];
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    close(out[0]);
    std::istringstream fields(line);
    fields >> s.browser >> s.profile;
    return s;
}

// Processes whose process group is the browser's, or whose command line names its profile.
std::vector<pid_t> Leftovers(const Started& s) {
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    while (dirent* e = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
        if (pid <= 0) continue;
        std::ifstream stat("/proc/" + std::string(e->d_name) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        const auto close = text.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(text.substr(close + 2));
        std::string state;
        long ppid = 0, pgrp = 0;
        rest >> state >> ppid >> pgrp;
        if (state == "Z") continue; // already dead, waiting to be reaped by init
        std::ifstream cmd("/proc/" + std::string(e->d_name) + "/cmdline");
        std::string cmdline((std::istreambuf_iterator<char>(cmd)), {});
        if (pgrp == s.browser || (!s.profile.empty() && cmdline.find(s.profile) != std::string::npos))
            found.push_back(pid);
    }
    closedir(proc);
    return found;
}

class ProcessCleanup : public ::testing::TestWithParam<const char*> {};

TEST_P(ProcessCleanup, BrowserAndProfileAreGoneAfterTheProgramEnds) {
    TTestHttpServer server;
    THttpResponse page;
    page.Body = "<body>alive</body>";
    server.Route("/alive.html", page);
    const std::string mode = GetParam();
    Started s = StartHelper(mode == "exit" || mode == "exception" ? mode : "wait", server.Url("/alive.html"));
    ASSERT_GT(s.browser, 0) << "the helper did not load the page";
    ASSERT_TRUE(std::filesystem::exists(s.profile));
    ASSERT_FALSE(Leftovers(s).empty());
    const ssize_t go = write(s.input, "\n", 1); // ends "exit" and "exception"
    EXPECT_EQ(go, 1);
    close(s.input);
    if (mode == "SIGTERM") kill(s.helper, SIGTERM);
    if (mode == "SIGINT") kill(s.helper, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(s.helper, &status, 0), s.helper);
    if (mode == "exit") {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    } else {
        const int expected = mode == "exception" ? SIGABRT : mode == "SIGTERM" ? SIGTERM : SIGINT;
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == expected) << status;
    }
    // The browser's children may take a moment to notice their parent is gone; on a loaded machine this
    // takes a while.
    for (int i = 0; i < 250 && !Leftovers(s).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(Leftovers(s).empty());
    if (mode == "exit") {
        EXPECT_FALSE(std::filesystem::exists(s.profile));
        return;
    }
    // A program ended by a signal (or by abort) only kills its browser from the handler: removing a folder
    // is no work for a signal handler. The next start of a browser removes the folder it left.
    Started next = StartHelper("exit", server.Url("/alive.html"));
    ASSERT_GT(next.browser, 0);
    EXPECT_FALSE(std::filesystem::exists(s.profile));
    EXPECT_EQ(write(next.input, "\n", 1), 1);
    close(next.input);
    int nextStatus = 0;
    ASSERT_EQ(waitpid(next.helper, &nextStatus, 0), next.helper);
    EXPECT_FALSE(std::filesystem::exists(next.profile));
}

INSTANTIATE_TEST_SUITE_P(Endings, ProcessCleanup, ::testing::Values("exit", "exception", "SIGTERM", "SIGINT"),
                         [](const auto& info) { return std::string(info.param); });

TEST(ProcessStart, ABrowserThatCannotBeExecutedSaysWhy) {
    TempFolder folder("korvane-start");
    const std::string fake = folder.Put("chromium", "not a program\n");
    ::chmod(fake.c_str(), 0755);
    TChromiumBrowser::TOptions options;
    options.Path = fake;
    TChromiumBrowser browser(options);
    try {
        browser.Start();
        ADD_FAILURE() << "started";
    } catch (const EEngineError& e) {
        EXPECT_NE(std::string(e.what()).find(std::strerror(ENOEXEC)), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("cannot be started"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(browser.Running());
}

TEST(ProcessStart, OnlyProfilesOfProcessesThatAreGoneAreRemoved) {
    TempFolder folder("korvane-stale");
    const pid_t dead = fork();
    if (dead == 0) _exit(0);
    ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
    const std::string prefix = folder.Path("korvane-chromium-");
    for (const std::string& name : {std::to_string(dead) + "-gone", std::to_string(getpid()) + "-mine",
                                    std::string("12x-odd"), std::string("nopid")})
        std::filesystem::create_directories(prefix + name + "/Default");
    folder.Put("korvane-chromium-" + std::to_string(dead) + "-file", "a file, not a profile");
    EXPECT_EQ(RemoveStaleProfiles(folder.Path()), 1u);
    EXPECT_FALSE(std::filesystem::exists(prefix + std::to_string(dead) + "-gone"));
    EXPECT_TRUE(std::filesystem::exists(prefix + std::to_string(getpid()) + "-mine"));
    EXPECT_TRUE(std::filesystem::exists(prefix + "12x-odd"));
    EXPECT_TRUE(std::filesystem::exists(prefix + "nopid"));
}

// The arguments of a running process, separated by blanks.
std::string CommandLine(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline");
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::replace(all.begin(), all.end(), '\0', ' ');
    return all;
}

bool IsTmpfs(const std::string& folder, std::uint64_t room = 0) {
    struct statfs fs {};
    return ::statfs(folder.c_str(), &fs) == 0 && fs.f_type == TMPFS_MAGIC &&
           static_cast<std::uint64_t>(fs.f_bavail) * static_cast<std::uint64_t>(fs.f_bsize) >= room;
}

TEST(ProcessStart, ProfilesAreMadeWhereTmpdirSaysElseInAMemoryFolderWithRoom) {
    // Unset for the test (and set in it below), put back at its end.
    const TScopedEnv tmpdir("TMPDIR", nullptr), tmp("TMP", nullptr), temp("TEMP", nullptr),
        tempdir("TEMPDIR", nullptr), runtimeDir("XDG_RUNTIME_DIR", nullptr);
    TempFolder given("korvane-given");
    ::setenv("TMPDIR", given.Path().c_str(), 1);
    EXPECT_EQ(ProfileFolder(), given.Path()) << "the user's choice holds";
    ::setenv("TMPDIR", given.Path("missing").c_str(), 1);
    EXPECT_EQ(ProfileFolder(), "/tmp") << "a variable that names no folder";
    ::unsetenv("TMPDIR");

    if (!IsTmpfs("/dev/shm", std::uint64_t{1} << 30)) GTEST_SKIP() << "/dev/shm is no tmpfs with 1 GiB free";
    ::setenv("TMPDIR", "/dev/shm", 1);
    TempFolder runtime("korvane-runtime");
    ::unsetenv("TMPDIR");
    ::setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    EXPECT_EQ(ProfileFolder(), runtime.Path());
    if (!IsTmpfs(given.Path())) {
        ::setenv("XDG_RUNTIME_DIR", given.Path().c_str(), 1);
        EXPECT_EQ(ProfileFolder(), "/dev/shm") << "a runtime folder on a disk is not one in memory";
    }

    // A browser started now has its profile there, with a bounded cache, and takes it along when it ends.
    ::setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    auto process = TChromiumProcess::Start(TChromiumProcess::DefaultPath(), {});
    const std::filesystem::path profile = process->ProfileDir();
    EXPECT_EQ(profile.parent_path(), runtime.Dir());
    EXPECT_TRUE(std::filesystem::is_directory(profile));
    EXPECT_NE(CommandLine(process->Pid()).find("--disk-cache-size=134217728"), std::string::npos);
    process->Terminate();
    EXPECT_FALSE(std::filesystem::exists(profile));
    if (!IsTmpfs(given.Path())) {
        ::setenv("TMPDIR", given.Path().c_str(), 1);
        auto onDisk = TChromiumProcess::Start(TChromiumProcess::DefaultPath(), {});
        EXPECT_EQ(std::filesystem::path(onDisk->ProfileDir()).parent_path(), given.Dir());
        EXPECT_EQ(CommandLine(onDisk->Pid()).find("--disk-cache-size"), std::string::npos)
            << "a profile on a disk keeps the browser's own cache size";
    }
}

} // namespace
} // namespace korvane::testing
