#include "platform/Files.h"
#include "platform/Errors.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace korvane;

TEST(Files, PathHelpers) {
    EXPECT_EQ(ChangeFileExt("/opt/k/korvane", ".ini"), "/opt/k/korvane.ini");
    EXPECT_EQ(ChangeFileExt("/opt/k/korvane.bin", ".ini"), "/opt/k/korvane.ini");
    EXPECT_EQ(ChangeFileExt("/opt/k.d/korvane", ".ini"), "/opt/k.d/korvane.ini");
    EXPECT_EQ(ChangeFileExt("/a/b.c.d", ".ini"), "/a/b.c.ini");
    EXPECT_EQ(ExtractFilePath("/a/b/c.png"), "/a/b/");
    EXPECT_EQ(ExtractFilePath("c.png"), "");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a/"), "/a/");
    EXPECT_EQ(ExecutableFolder().back(), '/');
    EXPECT_TRUE(FileExists(ExecutablePath()));
    EXPECT_FALSE(DirectoryExists(""));
    EXPECT_FALSE(FileExists("/"));
}

TEST(Files, AtomicFileReplacesOnlyWhenCommitted) {
    const korvane::testing::TempFolder folder("korvane-files");
    const fs::path& dir = folder.Dir();
    const std::string target = (dir / "out.bin").string();
    WriteFileAtomically(target, "old");
    {
        AtomicFile f(target);
        f.Write("new bytes", 9);
        EXPECT_EQ(ReadWholeFile(target), "old") << "target untouched until commit";
        EXPECT_TRUE(FileExists(f.TemporaryPath()));
    } // abandoned
    EXPECT_EQ(ReadWholeFile(target), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}), 1);
    {
        AtomicFile f(target);
        f.Write("new", 3);
        f.Commit();
    }
    EXPECT_EQ(ReadWholeFile(target), "new");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    const mode_t mask = ::umask(022);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << "a new file gets the usual mode, not a temporary's";

    EXPECT_THROW(AtomicFile((dir / "missing" / "x").string()), EFCreateError);
    EXPECT_THROW(AtomicFile(dir.string()), EFCreateError);
}
