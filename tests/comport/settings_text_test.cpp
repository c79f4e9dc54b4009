#include "comport/settings/SettingsText.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

using namespace comport;
using namespace std::string_literals;

namespace {

std::string upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}
std::string lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

// Every value's text reads back as that value, in any letter case.
template <typename Enum, typename ToText, typename FromText>
void expectTableRoundTrip(int count, ToText toText, FromText fromText) {
    for (int i = 0; i < count; ++i) {
        const auto value = static_cast<Enum>(i);
        const std::string text(toText(value));
        EXPECT_EQ(fromText(text), value) << text;
        EXPECT_EQ(fromText(upper(text)), value) << text;
        EXPECT_EQ(fromText(lower(text)), value) << text;
    }
}

} // namespace

TEST(SettingsText, EveryTableTextReadsBackInAnyLetterCase) {
    expectTableRoundTrip<TBaudRate>(16, baudRateText, baudRateFromText);
    expectTableRoundTrip<TStopBits>(3, stopBitsText, stopBitsFromText);
    expectTableRoundTrip<TDataBits>(4, dataBitsText, dataBitsFromText);
    expectTableRoundTrip<TParityBits>(5, parityText, parityFromText);
    expectTableRoundTrip<TFlowControl>(4, flowControlText, flowControlFromText);
    expectTableRoundTrip<TDTRFlowControl>(3, dtrControlText, dtrControlFromText);
    expectTableRoundTrip<TRTSFlowControl>(4, rtsControlText, rtsControlFromText);
    EXPECT_EQ(baudRateText(brCustom), "Custom");
    EXPECT_EQ(baudRateText(br256000), "256000");
    EXPECT_EQ(stopBitsText(sbOne5StopBits), "1.5");
    EXPECT_EQ(rtsControlText(rtsToggle), "Toggle");
}

TEST(SettingsText, ForeignTextsGiveTheFallbackWithoutTrimming) {
    for (const char* t : {"9600 ", " 9600", "9,600", "", "96OO", "br9600", "Custom "}) {
        EXPECT_EQ(baudRateFromText(t), br9600) << '"' << t << '"';
    }
    EXPECT_EQ(baudRateFromText("115200"), br115200);
    EXPECT_EQ(stopBitsFromText("1,5"), sbOneStopBit);
    EXPECT_EQ(stopBitsFromText(" 2"), sbOneStopBit);
    EXPECT_EQ(dataBitsFromText("9"), dbEight);
    EXPECT_EQ(dataBitsFromText("5"), dbFive);
    EXPECT_EQ(parityFromText("none"), prNone);
    EXPECT_EQ(parityFromText("sPACE"), prSpace);
    EXPECT_EQ(parityFromText("Spaces"), prNone);
    EXPECT_EQ(flowControlFromText("none"), fcNone);
    EXPECT_EQ(flowControlFromText("RTS/CTS"), fcCustom);
    EXPECT_EQ(dtrControlFromText("Toggle"), dtrDisable); // an RTS-only mode
    EXPECT_EQ(rtsControlFromText("toggle"), rtsToggle);
    // Only a to z fold: a Latin-1 capital does not match its small letter.
    EXPECT_EQ(parityFromText("\xC9ven"), prNone);
}

TEST(SettingsText, OnlyYesInAnyCaseIsTrue) {
    EXPECT_EQ(yesNoText(true), "Yes");
    EXPECT_EQ(yesNoText(false), "No");
    for (const char* t : {"yes", "YES", "Yes", "yEs"})
        EXPECT_TRUE(yesNoFromText(t)) << t;
    for (const char* t : {"No", "true", "1", "On", "", "Yes ", "Y"}) {
        EXPECT_FALSE(yesNoFromText(t)) << t;
    }
}

TEST(SettingsText, CharacterTextForms) {
    EXPECT_EQ(charText('\0'), "#0");
    EXPECT_EQ(charText(17), "#17");
    EXPECT_EQ(charText(' '), "#32");
    EXPECT_EQ(charText('!'), "!");
    EXPECT_EQ(charText('A'), "A");
    EXPECT_EQ(charText('#'), "#");
    EXPECT_EQ(charText('\x7F'), "\x7F");
    EXPECT_EQ(charText('\x80'), "#128");
    EXPECT_EQ(charText('\xFF'), "#255");
}

TEST(SettingsText, EveryCharacterCodeReadsBack) {
    for (int code = 0; code <= 255; ++code) {
        const char c = static_cast<char>(code);
        EXPECT_EQ(static_cast<unsigned char>(charFromText(charText(c))), code) << charText(c);
    }
}

TEST(SettingsText, CharacterTextReading) {
    struct Case {
        std::string text;
        int code;
    };
    const std::vector<Case> cases{
        {"", 0},
        {"#", 35},
        {"AB", 65},
        {"#65", 65},
        {"#$41", 65},
        {"# 65", 65},
        {"#0x41", 65},
        {"#X41", 65},
        {"#+65", 65},
        {"#x", 0},
        {"#65a", 0},
        {"#65 ", 0},
        {"#300", 44},
        {"#-1", 255},
        {"#$FFFFFFFF", 255},
        {"#-2147483648", 0},
        {"#2147483648", 0},
        {"#99999999999999999999", 0},
        {"##", 0},
        {"#--1", 0},
        {"\xC3\xA9", 0xC3},
        {"\0x"s, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(static_cast<unsigned char>(charFromText(c.text)), c.code) << '"' << c.text << '"';
    }
}

// Random texts, half of them near a table text, through every text-to-value conversion: each
// result is a value of its table, and it is the table's match exactly when the text equals a
// table text letter case aside, otherwise the fallback.
TEST(SettingsText, RandomTextsAlwaysGiveATableValueOrTheFallback) {
    std::mt19937 rng(20240607);
    const std::vector<std::string> seeds{"Custom", "9600", "115200",   "1.5",       "8",
                                         "None",   "Odd",  "Hardware", "Handshake", "Toggle",
                                         "Yes",    "#",    "#65",      "#$41",      "Disable"};
    auto randomText = [&] {
        std::string s;
        if (rng() % 2) {
            s = seeds[rng() % seeds.size()];
            switch (rng() % 4) {
            case 0:
                s.insert(rng() % (s.size() + 1), 1, static_cast<char>(rng() % 256));
                break;
            case 1:
                s.erase(rng() % s.size(), 1);
                break;
            case 2:
                s[rng() % s.size()] ^= 0x20;
                break; // flips letter case, or not a letter
            default:
                break;
            }
        } else {
            const std::size_t n = rng() % 12;
            for (std::size_t i = 0; i < n; ++i)
                s.push_back(static_cast<char>(rng() % 256));
        }
        return s;
    };

    auto check = [](const std::string& text, int count, auto toText, auto fromText, auto fallback) {
        using Enum = decltype(fallback);
        const Enum got = fromText(text);
        ASSERT_LT(static_cast<int>(got), count) << text;
        Enum expected = fallback;
        for (int i = count - 1; i >= 0; --i) {
            if (upper(text) == upper(std::string(toText(static_cast<Enum>(i))))) {
                expected = static_cast<Enum>(i);
            }
        }
        EXPECT_EQ(got, expected) << '"' << text << '"';
    };

    for (int round = 0; round < 20000; ++round) {
        const std::string t = randomText();
        check(t, 16, baudRateText, baudRateFromText, br9600);
        check(t, 3, stopBitsText, stopBitsFromText, sbOneStopBit);
        check(t, 4, dataBitsText, dataBitsFromText, dbEight);
        check(t, 5, parityText, parityFromText, prNone);
        check(t, 4, flowControlText, flowControlFromText, fcCustom);
        check(t, 3, dtrControlText, dtrControlFromText, dtrDisable);
        check(t, 4, rtsControlText, rtsControlFromText, rtsDisable);
        EXPECT_EQ(yesNoFromText(t), upper(t) == "YES") << t;
        charFromText(t); // every 8-bit result is valid; it must simply not fail
    }
}

// "#" and a random 64-bit decimal: the low eight bits when it fits 32 signed bits, else code 0.
TEST(SettingsText, RandomCharacterNumbersKeepTheirLowBitsOrGiveZero) {
    std::mt19937_64 rng(7);
    for (int round = 0; round < 20000; ++round) {
        const auto wide = static_cast<std::int64_t>(rng()) >> (rng() % 63);
        const bool fits = wide >= INT32_MIN && wide <= INT32_MAX;
        const int expected = fits ? static_cast<int>(static_cast<std::uint64_t>(wide) & 0xFF) : 0;
        const std::string text = "#" + std::to_string(wide);
        ASSERT_EQ(static_cast<unsigned char>(charFromText(text)), expected) << text;
    }
}
