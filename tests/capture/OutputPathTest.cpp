#include "capture/OutputPath.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

using namespace korvane;

TEST(OutputPath, ReservedAndControlCharactersBecomeUnderscoresAndNothingElseChanges) {
    EXPECT_EQ(UrlToFileName("http://host/dir/page.html?id=7"), "http___host_dir_page.html_id=7");
    EXPECT_EQ(UrlToFileName(R"(a\b"c*d?e<f>g:h|i/j)"), "a_b_c_d_e_f_g_h_i_j");
    EXPECT_EQ(UrlToFileName(" http://a b/..//"), " http___a b_..__");
    EXPECT_EQ(UrlToFileName("http://例え.jp/ページ"), "http___例え.jp_ページ");
    EXPECT_EQ(UrlToFileName("http://a/b\nc\td\re\x7f\x01"), "http___a_b_c_d_e__");
}

TEST(OutputPath, LongStemsAreCutToOneHundredBytesPlusTilde) {
    const std::string exact(100, 'a');
    EXPECT_EQ(LimitStem(exact), exact);
    const std::string longer = "http___" + std::string(200, 'x');
    EXPECT_EQ(LimitStem(longer), longer.substr(0, 100) + "~");
    EXPECT_EQ(LimitStem(longer).size(), 101u);
    // 98 ASCII bytes then a 3-byte character across the cut: the whole character goes.
    const std::string split = std::string(98, 'b') + "ペ" + "tail";
    EXPECT_EQ(LimitStem(split), std::string(98, 'b') + "~");
    // A 2-byte character ending exactly at byte 100 stays.
    const std::string fits = std::string(98, 'c') + "é" + "more";
    EXPECT_EQ(LimitStem(fits), std::string(98, 'c') + "é~");
}

TEST(OutputPath, FolderFallsBackWhenTheChosenOneIsNoFolder) {
    const korvane::testing::TempFolder dir("korvane-out");
    const std::string d = dir.Path();
    EXPECT_EQ(OutputFolder(d, "/fallback/"), d + "/");
    EXPECT_EQ(OutputFolder(d + "/", "/fallback/"), d + "/");
    EXPECT_EQ(OutputFolder(d + "/gone", "/fallback/"), "/fallback/");
    EXPECT_EQ(OutputFolder("", "/fallback/"), "/fallback/");
    EXPECT_EQ(CapturePath("http://h/p?q", d, "/fallback/", TSaveFormat::Png), d + "/http___h_p_q.png");
    EXPECT_EQ(CapturePath("http://h/", "/nope", "/fb/", TSaveFormat::Jpg), "/fb/http___h_.jpg");
    EXPECT_EQ(CapturePath("http://h/", "/nope", "/fb/", TSaveFormat::Bmp), "/fb/http___h_.bmp");
}
