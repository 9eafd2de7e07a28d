#include "base/common.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

TEST(TrimTest, RemovesBlanksAtBothEnds)
{
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"", ""},
        {" \r\n\t ", ""},
        {"\r\nOK\r\n", "OK"},
        {"+CSQ: 20,0", "+CSQ: 20,0"},
        {"  a b  ", "a b"},
        {"x", "x"},
        {"\tx\r", "x"},
    };
    for (Case c : cases) {
        trim(c.in);
        EXPECT_EQ(c.in, c.out);
    }
}

TEST(GsmStringToHexTest, ReadsUpToEightHexDigits)
{
    struct Case {
        const char* text;
        std::uint8_t len;
        std::uint32_t value;
    };
    const Case cases[] = {
        {"0A1F", 4, 0x0A1F},
        {"0a1f", 4, 0x0A1F},
        {"FF", 2, 0xFF},
        {"123456789", 9, 0x12345678},
        {"123456789", 255, 0x12345678},
        {"12", 8, 0x12},  // stops at the end of the text
        {"ABCD", 2, 0xAB},
        {"", 4, 0},
        {"7F", 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GSM_StringToHex(c.text, c.len), c.value) << c.text << " " << int(c.len);
    EXPECT_EQ(GSM_StringToHex(nullptr, 4), 0u);
}

TEST(ChartoPhoneNumTest, DecodesSwappedSemiOctets)
{
    struct Case {
        const char* src;
        std::uint8_t len;
        int count;
        const char* digits;
    };
    const Case cases[] = {
        {"2143F5", 6, 5, "12345"},
        {"2143", 4, 4, "1234"},
        {"21A3", 4, 0, ""},
        {"F5", 2, 1, "5"},
        {"7238880900F1", 11, 11, "27838890001"},  // length in digits, as PDUs give it
        {"7238880900F1", 12, 11, "27838890001"},
        {"2143", 8, 4, "1234"},  // the text ends before len
        {"214", 3, 3, "124"},    // an unpaired last digit stands as it is
        {"214", 255, 3, "124"},
        {"21F", 3, 2, "12"},     // a trailing filler with nothing after it
        {"1F", 2, 1, "1"},
        {"", 4, 0, ""},
        {"2143", 0, 0, ""},
    };
    for (const Case& c : cases) {
        // Guard bytes after the space the caller gave catch a write past it.
        char dst[300];
        std::memset(dst, '#', sizeof dst);
        const int count = ChartoPhoneNum(c.src, dst, c.len);
        EXPECT_EQ(count, c.count) << c.src << " len " << int(c.len);
        EXPECT_EQ(std::string(dst, count), c.digits) << c.src;
        const std::size_t room = std::min<std::size_t>(c.len, std::strlen(c.src));
        for (std::size_t i = room; i < sizeof dst; ++i)
            ASSERT_EQ(dst[i], '#') << c.src << " wrote past " << room;
    }
}

}  // namespace
