// Where the program keeps its settings file and puts its images: beside a portable copy, else where the
// user's files go, never in a folder of the system's.
#include "app/ProgramPaths.h"
#include "platform/Files.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using namespace korvane;
using korvane::testing::TScopedEnv;

TEST(ProgramPaths, APortableCopyKeepsItsFilesBesideItAndAnInstalledOneWhereTheUsersGo) {
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

TEST(ProgramPaths, TheDefaultOutputFolderIsNeverASystemFolder) {
    for (const char* home : {"/", "/usr", "/etc", "/usr/share/nobody", "/var/lib/service"}) {
        const TScopedEnv h("HOME", home), p("XDG_PICTURES_DIR", nullptr),
            c("XDG_CONFIG_HOME", "/nonexistent");
        const std::string out = DefaultOutputFolder("/usr/bin/korvane");
        for (const char* system : {"/usr/", "/etc/", "/var/lib/"})
            EXPECT_NE(out.rfind(system, 0), 0u) << home << " -> " << out;
        EXPECT_NE(out, "/") << home;
    }
}
