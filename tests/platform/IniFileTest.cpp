#include "platform/IniFile.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using korvane::TMemIniFile;
namespace fs = std::filesystem;

namespace {

struct TempDir : korvane::testing::TempFolder {
    TempDir() : TempFolder("korvane-ini") {}
    std::string file(const std::string& name) const { return Path(name); }
};

void Put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace

TEST(IniFile, ReadingTrimsDropsCommentsAndMatchesWithoutCase) {
    auto ini = TMemIniFile::FromText("stray=1\r\n"
                                     "  [ OPTION ]  \r\n"
                                     "; comment=3\n"
                                     "\n"
                                     "   CaptureHeight  =  5  \r"
                                     "no equals sign\n"
                                     "empty=\n"
                                     "a=b=c\n");
    EXPECT_EQ(ini.ReadInteger("option", "captureheight", -1), 5);
    EXPECT_EQ(ini.ReadString("Option", "EMPTY", "def"), "");
    EXPECT_EQ(ini.ReadString("option", "a", ""), "b=c");
    EXPECT_EQ(ini.ReadString("option", "comment", "none"), "none");
    EXPECT_EQ(ini.ReadString("option", "stray", "none"), "none");
    EXPECT_EQ(ini.ReadString("option", "no equals sign", "none"), "none");
    EXPECT_EQ(ini.Text(), "[OPTION]\r\nCaptureHeight=5\r\nno equals sign\r\nempty=\r\na=b=c\r\n\r\n");
}

TEST(IniFile, LastDuplicateWinsForReadingAndWriting) {
    auto ini = TMemIniFile::FromText("[s]\nk=1\nk=2\n[other]\nx=1\n[S]\nk=3\nk=4\n");
    EXPECT_EQ(ini.ReadInteger("s", "k", 0), 4);
    ini.WriteInteger("s", "K", 9);
    EXPECT_EQ(ini.Text(), "[s]\r\nk=1\r\nk=2\r\n\r\n[other]\r\nx=1\r\n\r\n[S]\r\nk=3\r\nK=9\r\n\r\n");
}

TEST(IniFile, WritingReplacesInPlaceAppendsAndKeepsUnknownSections) {
    auto ini =
        TMemIniFile::FromText("[window]\nLeft=5\nmine=kept\n[custom]\nz=26\n; gone\n\n[option]\ndelay=3\n");
    ini.WriteInteger("window", "left", -7);
    ini.WriteInteger("window", "top", 8);
    ini.WriteBool("security", "image", true);
    EXPECT_EQ(ini.Text(), "[window]\r\nleft=-7\r\nmine=kept\r\ntop=8\r\n\r\n"
                          "[custom]\r\nz=26\r\n\r\n"
                          "[option]\r\ndelay=3\r\n\r\n"
                          "[security]\r\nimage=1\r\n\r\n");
}

TEST(IniFile, BooleansAndIntegersFallBackToDefaults) {
    auto ini = TMemIniFile::FromText("[b]\nzero=0\nseven=7\nhex=0x0A\nword=yes\nhuge=99999999999\n");
    EXPECT_FALSE(ini.ReadBool("b", "zero", true));
    EXPECT_TRUE(ini.ReadBool("b", "seven", false));
    EXPECT_TRUE(ini.ReadBool("b", "word", true));
    EXPECT_FALSE(ini.ReadBool("b", "word", false));
    EXPECT_EQ(ini.ReadInteger("b", "hex", 1), 10);
    EXPECT_EQ(ini.ReadInteger("b", "huge", 1), 1);
    EXPECT_EQ(ini.ReadInteger("missing", "x", 3), 3);
}

TEST(IniFile, SurvivesBinaryNulsAndHugeInput) {
    std::string junk;
    std::mt19937 rng(7);
    for (int i = 0; i < 2'000'000; ++i)
        junk += static_cast<char>(rng() & 0xFF);
    junk += "\n[option]\ndelay=0x0A\n";
    junk += std::string("\0\0[x\0]\0", 7);
    std::string big;
    for (int i = 0; i < 300'000; ++i)
        big += "[sec" + std::to_string(i % 50) + "]\nkey=" + std::to_string(i) + "\n";
    for (const std::string& text :
         {junk, big, std::string(), std::string("\0\0\0", 3), std::string("[]\n=\n[\n]\n")}) {
        auto ini = TMemIniFile::FromText(text);
        (void)ini.Text();
        ini.WriteInteger("option", "delay", 1);
        EXPECT_EQ(ini.ReadInteger("option", "delay", 5), 1);
    }
    EXPECT_EQ(TMemIniFile::FromText(junk).ReadInteger("option", "delay", 1), 10);
    EXPECT_EQ(TMemIniFile::FromText(big).ReadInteger("sec49", "key", 0), 299'999);
}

TEST(IniFile, FileRoundTripAndFailures) {
    TempDir dir;
    const auto path = dir.file("k.ini");
    {
        TMemIniFile fresh(path); // no file yet: empty
        EXPECT_EQ(fresh.Text(), "");
        fresh.WriteString("window", "left", "1");
        fresh.UpdateFile();
    }
    EXPECT_EQ(TMemIniFile(path).ReadInteger("window", "left", 0), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Dir()), fs::directory_iterator{}), 1)
        << "no temporary left";

    if (::geteuid() != 0) { // root reads and writes whatever the mode bits say
        ::chmod(path.c_str(), 0);
        EXPECT_THROW(TMemIniFile{path}, korvane::EFOpenError);
        ::chmod(path.c_str(), 0644);
    }
    // A folder in the file's place counts as no file; writing it then fails with the creation error.
    const auto folder = dir.file("folder.ini");
    fs::create_directory(folder);
    TMemIniFile onFolder(folder);
    onFolder.WriteString("a", "b", "c");
    try {
        onFolder.UpdateFile();
        FAIL() << "writing over a folder must fail";
    } catch (const korvane::EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create the file " + folder);
    }
}

TEST(IniFile, FailedWriteLeavesTheOldFile) {
    TempDir dir;
    const auto path = dir.file("keep.ini");
    Put(path, "[window]\r\nleft=3\r\n\r\n");
    TMemIniFile ini(path);
    ini.WriteString("window", "left", std::string(4096, '4'));

    // A file-size limit makes the write fail half-way, for root as for anyone.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_THROW(ini.UpdateFile(), korvane::EFCreateError);
    ::setrlimit(RLIMIT_FSIZE, &old);

    EXPECT_EQ(korvane::ReadWholeFile(path), "[window]\r\nleft=3\r\n\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Dir()), fs::directory_iterator{}), 1)
        << "no temporary left";
}

TEST(IniFile, SomethingThatIsNoPlainFileCannotBeOpened) {
    TempDir dir;
    const auto fifo = dir.file("pipe.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    try {
        TMemIniFile ini(fifo); // must neither block on the pipe nor read it as settings
        FAIL() << "a pipe must not open as a settings file";
    } catch (const korvane::EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open the file " + fifo);
    }
}
