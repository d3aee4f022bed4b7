// Decoding cases: the classic layout, the Windows 8+ layout with its letter N, and a real value.
#include "Module1.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Module1::DecodeProductKey;
using Module1::KeyBytes;

struct DecodeCase {
    const char* name;
    KeyBytes bytes;
    const wchar_t* expected;
};

// Byte 0 is the least significant; byte 14 holds the Windows 8+ layout bit (0x08).
const DecodeCase kDecodeCases[] = {
    {"AllZero", {}, L"BBBBB-BBBBB-BBBBB-BBBBB-BBBBB"},
    {"One", {1}, L"BBBBB-BBBBB-BBBBB-BBBBB-BBBBC"},
    {"TwentyFour", {24}, L"BBBBB-BBBBB-BBBBB-BBBBB-BBBCB"},
    // 24^25 - 1: the largest number the 25 symbols can show; byte 14 is 6, so a test of
    // "byte 14 / 6" instead of the layout bit would wrongly take the N layout here.
    {"LargestClassicStartsWith9",
     {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x17, 0x55, 0xB1, 0x32, 0x2A, 0x06},
     L"99999-99999-99999-99999-99999"},
    // 24^25 and 24^25 + 1: only N mod 24^25 is shown.
    {"TwentyFourToThe25",
     {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x18, 0x55, 0xB1, 0x32, 0x2A, 0x06},
     L"BBBBB-BBBBB-BBBBB-BBBBB-BBBBB"},
    {"TwentyFourToThe25PlusOne",
     {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x18, 0x55, 0xB1, 0x32, 0x2A, 0x06},
     L"BBBBB-BBBBB-BBBBB-BBBBB-BBBBC"},
    {"ClassicStartsWith9",
     {0x67, 0x99, 0x93, 0xDF, 0x12, 0x49, 0xD9, 0x4F, 0xAB, 0xC6, 0x2C, 0x67, 0x90, 0xE8, 0x05},
     L"9BCDF-GHJKM-PQRTV-WXY23-46789"},
    {"ClassicStartsWith8",
     {0xE2, 0x6C, 0x2F, 0xBE, 0x8B, 0x33, 0x86, 0xE0, 0x30, 0x11, 0x58, 0x8D, 0x89, 0xC0, 0x05},
     L"8PQRT-VWXY2-3467B-CDFGH-JKMPQ"},
    // Real Windows 10 value (offsets 52..66 of its DigitalProductId).
    {"RealWindows10",
     {0xEC, 0x0C, 0x00, 0x00, 0x00, 0x00, 0xA8, 0xD2, 0x7B, 0x6E, 0x89, 0x81, 0x4F, 0x6D, 0x09},
     L"VK7JG-NPHTM-C97JM-9MPGT-3V66T"},
    {"NLayoutNFirst",
     {0x67, 0x99, 0x93, 0xDF, 0x12, 0x49, 0xD9, 0x4F, 0xAB, 0x8F, 0x90, 0xD2, 0x1F, 0x00, 0x08},
     L"NBCDF-GHJKM-PQRTV-WXY23-46789"},
    {"NLayoutNInLastGroup",
     {0x67, 0x99, 0x93, 0xDF, 0x12, 0x49, 0xD9, 0x4F, 0xAB, 0x04, 0xBB, 0x2D, 0x0C, 0x65, 0x0D},
     L"BCDFG-HJKMP-QRTVW-XY234-6N789"},
    // Every bit set: the layout bit is cleared before dividing; the first digit (7) places N.
    {"AllOnes", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
     L"RQCTG-N98YP-V6JBQ-K7T3R-TVB7K"},
};

class DecodeProductKeyTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeProductKeyTest, GivesTheKeyAndLeavesTheInputUnchanged)
{
    const DecodeCase& c = GetParam();
    const KeyBytes input = c.bytes;
    EXPECT_EQ(DecodeProductKey(input), std::wstring(c.expected));
    EXPECT_EQ(input, c.bytes);
    EXPECT_EQ(DecodeProductKey(input), std::wstring(c.expected)) << "a second decoding differs";
}

INSTANTIATE_TEST_SUITE_P(Cases, DecodeProductKeyTest, testing::ValuesIn(kDecodeCases),
                         [](const testing::TestParamInfo<DecodeCase>& param) { return param.param.name; });

TEST(DecodeProductKeyShape, HyphensOnlyBetweenTheFiveGroups)
{
    for (const DecodeCase& c : kDecodeCases) {
        const std::wstring text = DecodeProductKey(c.bytes);
        ASSERT_EQ(text.size(), 29u) << c.name;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const bool separator = i == 5 || i == 11 || i == 17 || i == 23;
            EXPECT_EQ(text[i] == L'-', separator) << c.name << " at " << i;
        }
    }
}

} // namespace
