// Messages in the locale's language: English by default, the Japanese catalogue with a Japanese locale.
#include "platform/Translate.h"
#include "platform/Errors.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

using namespace korvane;

namespace {

// The language the environment asks for, from now on.
void UseLanguage(const char* lang) {
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    ::unsetenv("LANGUAGE");
    ::setenv("LOCPATH", KORVANE_TEST_LOCALES, 1);
    ::setenv("LANG", lang, 1);
    SetUpTranslations();
}

} // namespace

TEST(Translate, PatternsTakeTheirArgumentsInAnyOrder) {
    EXPECT_EQ(FormatText("%2 before %1, 100%% sure", {"one", "two"}), "two before one, 100% sure");
    EXPECT_EQ(FormatText("%3 is missing, %1 is not", {"a"}), "%3 is missing, a is not");
    EXPECT_EQ(FormatText("%", {}), "%");
    EXPECT_EQ(FormatText("", {"x"}), "");
}

TEST(Translate, EnglishByDefaultAndTheJapaneseCatalogueForAJapaneseLocale) {
    UseLanguage("C.UTF-8");
    EXPECT_STREQ(EFCreateError("/out/a.png").what(), "Cannot create the file /out/a.png");
    EXPECT_STREQ(EFOpenError("/k.ini").what(), "Cannot open the file /k.ini");
    EXPECT_STREQ(EWriteError().what(), "Error writing to the stream");
    EXPECT_STREQ(EIntfCastError().what(), "Interface not supported");

    UseLanguage("ja_JP.UTF-8");
    ASSERT_NE(std::setlocale(LC_MESSAGES, nullptr), std::string("C")) << "no Japanese test locale";
    EXPECT_STREQ(EFCreateError("/out/a.png").what(), "ファイル /out/a.png を作成できません");
    EXPECT_STREQ(EFOpenError("/k.ini").what(), "ファイル /k.ini は開けません");
    EXPECT_STREQ(EWriteError().what(), "ストリームへの書き込みエラー");
    EXPECT_STREQ(EIntfCastError().what(), "Interface はサポートされていません");
    EXPECT_STREQ(Tr("Loading %1"), "%1 を読み込み中");
    // The window's captions the catalogue leaves alone stay as they are.
    EXPECT_STREQ(Tr("Cap and View"), "Cap and View");

    UseLanguage("C");
    EXPECT_STREQ(EWriteError().what(), "Error writing to the stream");
}
