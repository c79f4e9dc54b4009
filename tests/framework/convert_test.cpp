#include "framework/Convert.h"
#include "framework/Exception.h"

#include <gtest/gtest.h>

using fw::tryStrToInt;

TEST(Convert, AcceptsDecimalAndEveryHexPrefix) {
    EXPECT_EQ(tryStrToInt("65"), 65);
    EXPECT_EQ(tryStrToInt("  -12"), -12);
    EXPECT_EQ(tryStrToInt("+7"), 7);
    EXPECT_EQ(tryStrToInt("$41"), 0x41);
    EXPECT_EQ(tryStrToInt("x1f"), 0x1f);
    EXPECT_EQ(tryStrToInt("X1F"), 0x1f);
    EXPECT_EQ(tryStrToInt("0x10"), 16);
    EXPECT_EQ(tryStrToInt("-$10"), -16);
    EXPECT_EQ(tryStrToInt("$FFFFFFFF"), -1);
    EXPECT_EQ(tryStrToInt("2147483647"), 2147483647);
    EXPECT_EQ(tryStrToInt("-2147483648"), INT32_MIN);
}

TEST(Convert, RefusesTrailingCharactersOverflowAndEmptyDigits) {
    for (const char* bad : {"", " ", "-", "$", "0x", "65a", "6 5", "65 ", "2147483648",
                            "-2147483649", "$100000000", "99999999999999999999", "#65"}) {
        EXPECT_FALSE(tryStrToInt(bad).has_value()) << bad;
    }
}

TEST(Convert, StrToIntNamesTheTextInItsMessage) {
    EXPECT_EQ(fw::strToInt("$3A"), 0x3A);
    try {
        fw::strToInt("$G1");
        FAIL();
    } catch (const fw::EConvertError& e) {
        EXPECT_STREQ(e.what(), "'$G1' is not a valid integer value");
    }
}
