#include "codecs/utf8_utf16.h"

#include <iconv.h>

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

namespace {

TEST(Utf8Utf16Test, ConvertsWellFormedText)
{
    struct Case {
        std::string utf8;
        std::u16string utf16;
    };
    const Case cases[] = {
        {"", u""},
        {"hello", u"hello"},
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        {"\xC2\xA3\xC3\xA9", u"\u00A3\u00E9"},                    // £é
        {"\xE4\xBD\xA0\xE5\xA5\xBD", u"\u4F60\u597D"},            // 你好
        {"\xEF\xBF\xBF", u"\uFFFF"},
        {"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},                     // 😀
        {"\xF0\x90\x80\x80", u"\xD800\xDC00"},                     // U+10000
        {"\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},                     // U+10FFFF
        {"x\xF0\x9F\x91\x8D\xE4\xB8\xAD", u"x\xD83D\xDC4D\u4E2D"},  // x👍中
    };
    for (const Case& c : cases) {
        const Utf16Text to16 = utf8ToUtf16(c.utf8);
        EXPECT_EQ(to16.text, c.utf16) << c.utf8;
        EXPECT_EQ(to16.replaced, 0u) << c.utf8;
        const Utf8Text to8 = utf16ToUtf8(c.utf16);
        EXPECT_EQ(to8.text, c.utf8);
        EXPECT_EQ(to8.replaced, 0u) << c.utf8;
    }
}

TEST(Utf8Utf16Test, ReplacesEachMaximalIllFormedSubpart)
{
    struct Case {
        const char* name;
        std::string utf8;
        std::u16string utf16;
        std::size_t replaced;
    };
    const Case cases[] = {
        // The Unicode standard's own example of U+FFFD substitution.
        {"maximal subparts", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
         u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd", 6},
        {"stray continuation", "\x80", u"\uFFFD", 1},
        {"overlong NUL", "\xC0\x80", u"\uFFFD\uFFFD", 2},
        {"overlong slash", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD", 3},
        {"overlong 4-byte", "\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD", 4},
        {"encoded high surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", 3},
        {"encoded low surrogate", "\xED\xBF\xBF", u"\uFFFD\uFFFD\uFFFD", 3},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", 4},
        {"F5 lead", "\xF5\x80", u"\uFFFD\uFFFD", 2},
        {"FF byte", "a\xFF" "b", u"a\uFFFDb", 1},
        {"cut at the end", "ab\xE4\xBD", u"ab\uFFFD", 1},
        {"cut before ASCII", "\xF0\x9F\x98" "A", u"\uFFFDA", 1},
        {"lead after lead", "\xE4\xE4\xBD\xA0", u"\uFFFD\u4F60", 1},
    };
    for (const Case& c : cases) {
        const Utf16Text result = utf8ToUtf16(c.utf8);
        EXPECT_EQ(result.text, c.utf16) << c.name;
        EXPECT_EQ(result.replaced, c.replaced) << c.name;
    }
}

TEST(Utf8Utf16Test, ReplacesLoneSurrogates)
{
    struct Case {
        const char* name;
        std::u16string utf16;
        std::string utf8;
        std::size_t replaced;
    };
    const std::string fffd = "\xEF\xBF\xBD";
    const Case cases[] = {
        {"high at the end", u"a\xD83D", "a" + fffd, 1},
        {"low alone", u"\xDE00z", fffd + "z", 1},
        {"reversed pair", u"\xDE00\xD83D", fffd + fffd, 2},
        {"high before a letter", u"\xD83Dx", fffd + "x", 1},
        {"two highs, then a low", u"\xD83D\xD83D\xDE00", fffd + "\xF0\x9F\x98\x80", 1},
    };
    for (const Case& c : cases) {
        const Utf8Text result = utf16ToUtf8(c.utf16);
        EXPECT_EQ(result.text, c.utf8) << c.name;
        EXPECT_EQ(result.replaced, c.replaced) << c.name;
    }
}

// glibc's iconv as the reference: a strict converter we did not write.
class IconvTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        to16_ = iconv_open("UTF-16BE", "UTF-8");
        to8_ = iconv_open("UTF-8", "UTF-16BE");
        if (to16_ == reinterpret_cast<iconv_t>(-1) || to8_ == reinterpret_cast<iconv_t>(-1))
            GTEST_SKIP() << "iconv has no UTF-8/UTF-16BE conversion here";
    }
    void TearDown() override
    {
        if (to16_ != reinterpret_cast<iconv_t>(-1))
            iconv_close(to16_);
        if (to8_ != reinterpret_cast<iconv_t>(-1))
            iconv_close(to8_);
    }

    // The converted bytes, or false when iconv refuses the input.
    static bool convert(iconv_t cd, const std::string& in, std::string& out)
    {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        std::string input = in;
        char buffer[64];
        char* src = input.data();
        std::size_t src_left = input.size();
        char* dst = buffer;
        std::size_t dst_left = sizeof buffer;
        if (iconv(cd, &src, &src_left, &dst, &dst_left) == static_cast<std::size_t>(-1))
            return false;
        out.assign(buffer, sizeof buffer - dst_left);
        return true;
    }

    static std::string bigEndian(const std::u16string& units)
    {
        std::string bytes;
        for (char16_t u : units) {
            bytes += static_cast<char>(u >> 8);
            bytes += static_cast<char>(u & 0xFF);
        }
        return bytes;
    }

    iconv_t to16_ = reinterpret_cast<iconv_t>(-1);
    iconv_t to8_ = reinterpret_cast<iconv_t>(-1);
};

TEST_F(IconvTest, EveryScalarValueConvertsAsIconvConvertsIt)
{
    for (char32_t cp = 1; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        std::string utf8;
        utf8Append(utf8, cp);
        std::string reference16;
        ASSERT_TRUE(convert(to16_, utf8, reference16)) << std::hex << static_cast<unsigned>(cp);
        const Utf16Text ours16 = utf8ToUtf16(utf8);
        ASSERT_EQ(bigEndian(ours16.text), reference16) << std::hex << static_cast<unsigned>(cp);
        std::string reference8;
        ASSERT_TRUE(convert(to8_, reference16, reference8)) << std::hex << static_cast<unsigned>(cp);
        ASSERT_EQ(utf8, reference8) << std::hex << static_cast<unsigned>(cp);
        ASSERT_EQ(utf16ToUtf8(ours16.text).text, utf8) << std::hex << static_cast<unsigned>(cp);
    }
}

// What iconv refuses we replace, and what it takes we take without a
// replacement: every 2-byte sequence, and 3- and 4-byte sequences over every
// lead and second byte with the continuation bytes at the edges of their range
// and just outside it.
TEST_F(IconvTest, RefusesWhatIconvRefuses)
{
    const unsigned char tails[] = {0x00, 0x41, 0x7F, 0x80, 0xBF, 0xC0, 0xFF};
    std::size_t checked = 0;
    auto check = [&](const std::string& bytes) {
        std::string ignored;
        const bool valid = convert(to16_, bytes, ignored);
        const Utf16Text ours = utf8ToUtf16(bytes);
        ++checked;
        return (ours.replaced == 0) == valid;
    };
    for (int a = 0x80; a < 0x100; ++a)
        for (int b = 0; b < 0x100; ++b) {
            const std::string two{static_cast<char>(a), static_cast<char>(b)};
            ASSERT_TRUE(check(two)) << std::hex << a << " " << b;
            if (a < 0xE0)
                continue;
            for (unsigned char c : tails) {
                std::string three = two + static_cast<char>(c);
                ASSERT_TRUE(check(three)) << std::hex << a << " " << b << " " << int(c);
                if (a < 0xF0)
                    continue;
                for (unsigned char d : tails)
                    ASSERT_TRUE(check(three + static_cast<char>(d)))
                        << std::hex << a << " " << b << " " << int(c) << " " << int(d);
            }
        }
    EXPECT_GT(checked, 100000u);
}

}  // namespace
