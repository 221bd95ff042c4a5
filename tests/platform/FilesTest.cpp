#include "platform/Files.h"
#include "platform/Errors.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace korvane;
using korvane::testing::TScopedEnv;

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

TEST(Files, AReplacedFileKeepsItsModeAndLinksStayLinks) {
    const korvane::testing::TempFolder folder("korvane-files");
    const std::string target = folder.Path("kept.png");
    WriteFileAtomically(target, "old");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    WriteFileAtomically(target, "new");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadWholeFile(target), "new");

    // Through a relative link, a link to a link, and a link to a file that is not there yet: the links stay,
    // the files they name get the bytes.
    fs::create_directories(folder.Dir() / "real");
    const std::string real = folder.Path("real/shot.png");
    WriteFileAtomically(real, "old");
    fs::create_symlink("real/shot.png", folder.Dir() / "link.png");
    fs::create_symlink("link.png", folder.Dir() / "link2.png");
    fs::create_symlink(folder.Path("real/later.png"), folder.Dir() / "dangling.png");
    WriteFileAtomically(folder.Path("link2.png"), "through two links");
    WriteFileAtomically(folder.Path("dangling.png"), "made");
    EXPECT_TRUE(fs::is_symlink(folder.Dir() / "link.png"));
    EXPECT_TRUE(fs::is_symlink(folder.Dir() / "link2.png"));
    EXPECT_TRUE(fs::is_symlink(folder.Dir() / "dangling.png"));
    EXPECT_EQ(ReadWholeFile(real), "through two links");
    EXPECT_EQ(ReadWholeFile(folder.Path("real/later.png")), "made");
    // A link that goes round in circles is replaced like a file would be, without hanging.
    fs::create_symlink("loop2", folder.Dir() / "loop1");
    fs::create_symlink("loop1", folder.Dir() / "loop2");
    WriteFileAtomically(folder.Path("loop1"), "x");
    EXPECT_EQ(ReadWholeFile(folder.Path("loop1")), "x");
    // No temporary file is left anywhere.
    for (const auto& entry : fs::recursive_directory_iterator(folder.Dir()))
        EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
}

TEST(Files, ALinkAnotherUserCouldHavePlacedIsReplacedNotFollowed) {
    const korvane::testing::TempFolder folder("korvane-files");
    const std::string victim = folder.Path("victim.txt");
    WriteFileAtomically(victim, "precious");
    // A folder everyone may write (as a shared output folder): any link in it may be another's.
    const fs::path shared = folder.Dir() / "shared";
    fs::create_directories(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
    fs::create_symlink(victim, shared / "page.png");
    EXPECT_TRUE(IsForeignLink((shared / "page.png").string()));
    WriteFileAtomically((shared / "page.png").string(), "picture");
    EXPECT_FALSE(fs::is_symlink(shared / "page.png"));
    EXPECT_EQ(ReadWholeFile((shared / "page.png").string()), "picture");
    EXPECT_EQ(ReadWholeFile(victim), "precious");
    // The same folder with its sticky bit (as /tmp): no one else can replace the user's link there.
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    fs::create_symlink(folder.Path("mine.txt"), shared / "own.png");
    EXPECT_FALSE(IsForeignLink((shared / "own.png").string()));
    WriteFileAtomically((shared / "own.png").string(), "through my link");
    EXPECT_TRUE(fs::is_symlink(shared / "own.png"));
    EXPECT_EQ(ReadWholeFile(folder.Path("mine.txt")), "through my link");
    // A link another user owns, in the user's own folder (only root can hand a link to another user).
    fs::create_symlink(victim, folder.Dir() / "given.png");
    if (::lchown(folder.Path("given.png").c_str(), 65534, 65534) == 0) {
        EXPECT_TRUE(IsForeignLink(folder.Path("given.png")));
        WriteFileAtomically(folder.Path("given.png"), "picture");
        EXPECT_FALSE(fs::is_symlink(folder.Dir() / "given.png"));
        EXPECT_EQ(ReadWholeFile(victim), "precious");
    } else {
        EXPECT_FALSE(IsForeignLink(folder.Path("given.png"))); // the user's own, as it stands
    }
    EXPECT_FALSE(IsForeignLink(victim)); // no link at all
}

TEST(Errors, MessagesSayTheSystemsReasonAndMemoryInWords) {
    EXPECT_EQ(korvane::MessageWithCause(korvane::EFOpenError("/x", ENOENT)),
              "Cannot open the file /x (No such file or directory)");
    EXPECT_EQ(korvane::MessageWithCause(korvane::EFOpenError("/x")), "Cannot open the file /x");
    try {
        std::vector<int> v;
        v.resize(v.max_size() + 1);
        ADD_FAILURE() << "a vector larger than its largest";
    } catch (const std::exception& e) {
        EXPECT_EQ(korvane::MessageWithCause(e), "not enough memory");
    }
    EXPECT_EQ(korvane::MessageWithCause(std::bad_alloc()), "not enough memory");
}
