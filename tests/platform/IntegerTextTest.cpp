#include "platform/IntegerText.h"

#include <gtest/gtest.h>

using korvane::ParseIntegerText;
using korvane::StrToIntDef;

TEST(IntegerText, DecimalWithBlanksAndSigns) {
    EXPECT_EQ(StrToIntDef("42", -1), 42);
    EXPECT_EQ(StrToIntDef("   42", -1), 42);
    EXPECT_EQ(StrToIntDef("+7", -1), 7);
    EXPECT_EQ(StrToIntDef("-15", 0), -15);
    EXPECT_EQ(StrToIntDef("0", 9), 0);
}

TEST(IntegerText, HexadecimalPrefixes) {
    EXPECT_EQ(StrToIntDef("0x0A", 1), 10);
    EXPECT_EQ(StrToIntDef("0X1f", 1), 31);
    EXPECT_EQ(StrToIntDef("$1F", 1), 31);
    EXPECT_EQ(StrToIntDef("x10", 1), 16);
    EXPECT_EQ(StrToIntDef("X10", 1), 16);
    EXPECT_EQ(StrToIntDef("-$10", 1), -16);
    EXPECT_EQ(StrToIntDef("$FFFFFFFF", 1), -1);
}

TEST(IntegerText, UnreadableTextGivesTheDefault) {
    for (const char* text :
         {"", " ", "abc", "12a", "1 ", "\t5", "+", "-", "0x", "$", "1.5", "--1", "0x1g", "５"})
        EXPECT_EQ(StrToIntDef(text, 1234), 1234) << '"' << text << '"';
}

TEST(IntegerText, ThirtyTwoBitBounds) {
    EXPECT_EQ(ParseIntegerText("2147483647"), 2147483647);
    EXPECT_EQ(ParseIntegerText("-2147483648"), INT32_MIN);
    EXPECT_FALSE(ParseIntegerText("2147483648"));
    EXPECT_FALSE(ParseIntegerText("-2147483649"));
    EXPECT_FALSE(ParseIntegerText("99999999999999999999999"));
    EXPECT_FALSE(ParseIntegerText("$100000000"));
}
