// The manifest of a run as a later run reads it back: what a killed run left, lines of another program, and
// files that changed since.
#include "cli/Manifest.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <sys/stat.h>

using namespace korvane;

TEST(Manifest, AKilledRunsLinesAreReadAndNeverRewritten) {
    korvane::testing::TempFolder folder("korvane-manifest");
    const std::string image = folder.Path("a.png"), path = folder.Path("run.jsonl");
    std::ofstream(image) << "12345";
    const std::string before = R"({"url":"http://a/","outcome":"failed"})"
                               "\n"
                               R"({"url":"http://a/","outcome":"captured","file":")" +
                               image +
                               R"(","bytes":5})"
                               "\n"
                               "not json at all\n"
                               R"({"url":"http://b/","outcome":"captured","file":")" +
                               image +
                               R"(","bytes":6})"
                               "\n"
                               R"({"url":"http://c/","outcome":"capt)";
    std::ofstream(path) << before;

    const TManifestContents read = ReadManifest(path);
    ASSERT_EQ(read.Warnings.size(), 2u);
    EXPECT_NE(read.Warnings[0].find("line 3 "), std::string::npos) << read.Warnings[0];
    EXPECT_NE(read.Warnings[1].find("line 5 "), std::string::npos) << read.Warnings[1];
    EXPECT_NE(read.Warnings[1].find("not finished"), std::string::npos) << read.Warnings[1];
    // The last line of a page counts; a file whose size changed is captured no more.
    EXPECT_TRUE(AlreadyCaptured(read, "http://a/"));
    EXPECT_FALSE(AlreadyCaptured(read, "http://b/"));
    EXPECT_FALSE(AlreadyCaptured(read, "http://c/"));
    std::ofstream(image) << "1234";
    EXPECT_FALSE(AlreadyCaptured(read, "http://a/"));

    {
        TManifestWriter writer(path, "1/3");
        TPageResult page;
        page.Argument = "http://d/";
        page.Url = "http://d/";
        page.Captured = true;
        page.Path = image;
        page.Width = 10;
        page.Height = 20;
        page.HttpStatus = 200;
        writer.Append(page, "captured", "png");
        writer.AppendSkipped(read.Pages.at("http://a/"));
    }
    const std::string after = ReadWholeFile(path);
    ASSERT_EQ(after.substr(0, before.size()), before);
    EXPECT_EQ(after[before.size()], '\n'); // the unfinished line is ended, not continued
    const TManifestContents again = ReadManifest(path);
    EXPECT_EQ(again.Warnings.size(), 2u);
    EXPECT_TRUE(AlreadyCaptured(again, "http://d/"));
    EXPECT_EQ(again.Pages.at("http://a/").Outcome, "skipped");
    const std::size_t start = before.size() + 1;
    const auto line = nlohmann::json::parse(after.substr(start, after.find('\n', start) - start));
    EXPECT_EQ(line["width"], 10);
    EXPECT_EQ(line["bytes"], 4);
    EXPECT_EQ(line["shard"], "1/3");
    EXPECT_EQ(line["http_status"], 200);
    EXPECT_TRUE(line["error"].is_null());
}

TEST(Manifest, IsWrittenToARegularFileOnly) {
    korvane::testing::TempFolder folder("korvane-manifest");
    const std::string fifo = folder.Path("run.jsonl");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    try {
        TManifestWriter writer(fifo, "");
        ADD_FAILURE() << "a manifest was opened on a pipe";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("not a regular file"), std::string::npos) << e.what();
    }
}
