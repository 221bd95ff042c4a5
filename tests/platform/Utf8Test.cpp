// The UTF-8 check against the C library's own decoder, on every lead and second byte.
#include "platform/Text.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <stdexcept>
#include <string>

namespace {

bool IconvAccepts(const std::string& text) {
    iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open");
    std::string in = text;
    std::string out(in.size() * 4 + 8, '\0');
    char* inp = in.data();
    char* outp = out.data();
    std::size_t inLeft = in.size(), outLeft = out.size();
    const std::size_t done = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    iconv_close(cd);
    return done != static_cast<std::size_t>(-1) && inLeft == 0;
}

} // namespace

TEST(Utf8, EveryLeadAndSecondByteAsTheCLibraryReadsThem) {
    int differences = 0;
    for (int lead = 0; lead < 256; ++lead)
        for (int second = 0; second < 256; ++second)
            for (const char* tail : {"", "\x80", "\x80\xBF", "a"}) {
                const std::string text =
                    std::string{'x', static_cast<char>(lead), static_cast<char>(second)} + tail;
                if (korvane::IsValidUtf8(text) != IconvAccepts(text) && ++differences < 10)
                    ADD_FAILURE() << std::hex << lead << " " << second << " tail " << tail;
            }
    EXPECT_EQ(differences, 0);
}

TEST(Utf8, TextCutShortAndTheLargestCodePoints) {
    EXPECT_TRUE(korvane::IsValidUtf8(""));
    EXPECT_TRUE(korvane::IsValidUtf8("#caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"));
    EXPECT_TRUE(korvane::IsValidUtf8("\xF4\x8F\xBF\xBF"));  // U+10FFFF
    EXPECT_FALSE(korvane::IsValidUtf8("\xF4\x90\x80\x80")); // past it
    EXPECT_FALSE(korvane::IsValidUtf8("#\xFF"));
    EXPECT_FALSE(korvane::IsValidUtf8("caf\xE9"));  // Latin-1
    EXPECT_FALSE(korvane::IsValidUtf8("\xE6\x97")); // cut short
    EXPECT_FALSE(korvane::IsValidUtf8("\xF0\x9F\x98"));
}
