#include "platform/Files.h"
#include "platform/Errors.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

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

TEST(Files, APortableCopyKeepsItsFilesBesideItAndAnInstalledOneWhereTheUsersGo) {
    const korvane::testing::TempFolder t("korvane-places");
    const fs::path home = t.Dir() / "home", config = t.Dir() / "config";
    fs::create_directories(home / "Bilder");
    fs::create_directories(config);
    const TScopedEnv h("HOME", home.c_str()), c("XDG_CONFIG_HOME", config.c_str()),
        p("XDG_PICTURES_DIR", nullptr);
    t.Put("config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
    const std::string xdgSettings = (config / "korvane" / "korvane.ini").string();
    const std::string pictures = (home / "Bilder").string() + "/";

    // A folder that holds the settings file already.
    fs::create_directories(t.Dir() / "portable");
    const std::string portable = t.Put("portable/korvane", "");
    t.Put("portable/korvane.ini", "[option]\n");
    EXPECT_EQ(SettingsFilePath(portable), t.Path("portable/korvane.ini"));
    EXPECT_EQ(DefaultOutputFolder(portable), t.Path("portable") + "/");

    // The build tree: the build's cache one or two folders up.
    fs::create_directories(t.Dir() / "build" / "app");
    t.Put("build/CMakeCache.txt", "");
    const std::string built = t.Put("build/app/korvane", "");
    EXPECT_EQ(SettingsFilePath(built), t.Path("build/app/korvane.ini"));
    EXPECT_EQ(DefaultOutputFolder(built), t.Path("build/app") + "/");

    // Installed in a folder the user may write (as root may write /usr/bin): nothing goes beside it.
    fs::create_directories(t.Dir() / "bin");
    const std::string installed = t.Put("bin/korvane", "");
    EXPECT_FALSE(IsPortableCopy(installed));
    EXPECT_EQ(SettingsFilePath(installed), xdgSettings);
    EXPECT_TRUE(DirectoryExists((config / "korvane").string())) << "the settings' folder is made";
    EXPECT_EQ(fs::status(config / "korvane").permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(DefaultOutputFolder(installed), pictures);
    EXPECT_FALSE(fs::exists(t.Dir() / "bin" / "korvane.ini"));

    // Installed in a folder no one may write; and the system's own.
    fs::create_directories(t.Dir() / "ro");
    const std::string readOnly = t.Put("ro/korvane", "");
    fs::permissions(t.Dir() / "ro", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(SettingsFilePath(readOnly), xdgSettings);
    EXPECT_EQ(DefaultOutputFolder(readOnly), pictures);
    EXPECT_EQ(SettingsFilePath("/usr/bin/korvane"), xdgSettings);
    EXPECT_EQ(DefaultOutputFolder("/usr/bin/korvane"), pictures);

    // No pictures folder: the home folder.
    fs::remove(home / "Bilder");
    EXPECT_EQ(DefaultOutputFolder(installed), home.string() + "/");
    // A relative XDG_CONFIG_HOME counts for nothing.
    {
        const TScopedEnv relative("XDG_CONFIG_HOME", "relative/config");
        EXPECT_EQ(SettingsFilePath(installed), (home / ".config" / "korvane" / "korvane.ini").string());
    }
}

TEST(Files, TheDefaultOutputFolderIsNeverASystemFolder) {
    for (const char* home : {"/", "/usr", "/etc", "/usr/share/nobody", "/var/lib/service"}) {
        const TScopedEnv h("HOME", home), p("XDG_PICTURES_DIR", nullptr),
            c("XDG_CONFIG_HOME", "/nonexistent");
        const std::string out = DefaultOutputFolder("/usr/bin/korvane");
        for (const char* system : {"/usr/", "/etc/", "/var/lib/"})
            EXPECT_NE(out.rfind(system, 0), 0u) << home << " -> " << out;
        EXPECT_NE(out, "/") << home;
    }
}
