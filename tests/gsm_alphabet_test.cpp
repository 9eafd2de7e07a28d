#include "codecs/gsm_alphabet.h"

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::string decode(const std::vector<std::uint8_t>& septets)
{
    return gsm7ToUtf8(septets.data(), septets.size());
}

TEST(GsmAlphabetTest, DecodesSeptetsToUtf8)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> septets;
        std::string utf8;
    };
    const Case cases[] = {
        {"empty", {}, ""},
        {"at sign inside", {0x48, 0x00, 0x49}, "H@I"},
        {"at sign at the end", {0x41, 0x00}, "A@"},
        {"only at signs", {0x00, 0x00}, "@@"},
        {"Greek and Latin", {0x10, 0x12, 0x1E, 0x7F}, "\xCE\x94\xCE\xA6\xC3\x9F\xC3\xA0"},
        {"currency", {0x01, 0x02, 0x03, 0x24}, "\xC2\xA3$\xC2\xA5\xC2\xA4"},
        {"euro and brackets", {0x1B, 0x65, 0x1B, 0x3C, 0x1B, 0x3E}, "\xE2\x82\xAC[]"},
        {"form feed", {0x1B, 0x0A}, "\f"},
        {"escape at the end", {0x41, 0x1B}, "A "},
        {"escape before an escape", {0x1B, 0x1B, 0x41}, " A"},
        {"unknown extension shows the default character", {0x1B, 0x41}, "A"},
        {"line breaks", {0x0A, 0x0D}, "\n\r"},
        {"high bit ignored", {0xC1}, "A"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(decode(c.septets), c.utf8) << c.name;
}

TEST(GsmAlphabetTest, EncodesUtf8ToSeptets)
{
    struct Case {
        const char* name;
        std::string utf8;
        std::vector<std::uint8_t> septets;
        std::size_t replaced;
    };
    const Case cases[] = {
        {"plain", "hello", {0x68, 0x65, 0x6C, 0x6C, 0x6F}, 0},
        {"ASCII that moved", "@$_", {0x00, 0x02, 0x11}, 0},
        {"space is not the escape", " ", {0x20}, 0},
        {"extension", "{\xE2\x82\xAC}", {0x1B, 0x28, 0x1B, 0x65, 0x1B, 0x29}, 0},
        {"outside the alphabet", "a\xE4\xB8\xAD" "b", {0x61, 0x3F, 0x62}, 1},
        {"backquote", "`", {0x3F}, 1},
        {"malformed", "\xFF\xC3", {0x3F, 0x3F}, 2},
        {"emoji", "\xF0\x9F\x98\x80", {0x3F}, 1},
    };
    for (const Case& c : cases) {
        const Gsm7Text result = utf8ToGsm7(c.utf8);
        EXPECT_EQ(result.septets, c.septets) << c.name;
        EXPECT_EQ(result.replaced, c.replaced) << c.name;
    }
}

// Perl's Encode::GSM0338 as the reference table: the UTF-8 (in hex) of
// every septet alone, then of every septet after an escape.
bool perlReference(std::vector<std::string>& lines)
{
    const char* command =
        "perl -MEncode -e 'for my $p (\"\", \"\\x1b\") { for my $s (0..127) { print "
        "unpack(\"H*\", encode(\"UTF-8\", decode(\"gsm0338\", $p . chr($s)))), \"\\n\" } }' "
        "2>/dev/null";
    FILE* pipe = popen(command, "r");
    if (!pipe)
        return false;
    char line[64];
    while (fgets(line, sizeof line, pipe)) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        lines.push_back(text);
    }
    return pclose(pipe) == 0 && lines.size() == 256;
}

std::string hexOf(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 0x0F];
    }
    return hex;
}

TEST(GsmAlphabetTest, MatchesPerlsTable)
{
    std::vector<std::string> reference;
    if (!perlReference(reference))
        GTEST_SKIP() << "perl with Encode::GSM0338 is not available";
    const std::string replacement = "efbfbd";
    int extensions = 0;
    for (std::uint8_t s = 0; s < 128; ++s) {
        if (s == kGsmEscape)
            continue;
        const std::string ours = decode({s});
        EXPECT_EQ(hexOf(ours), reference[s]) << "septet " << int(s);
        // And back: the character encodes to its septet.
        EXPECT_EQ(utf8ToGsm7(ours).septets, std::vector<std::uint8_t>{s}) << int(s);

        const std::string escaped = decode({kGsmEscape, s});
        const std::string& theirs = reference[128 + s];
        if (theirs == replacement) {
            // Perl refuses an escape to nothing; we show the default character.
            EXPECT_EQ(escaped, ours) << "escape " << int(s);
            continue;
        }
        ++extensions;
        EXPECT_EQ(hexOf(escaped), theirs) << "escape " << int(s);
        EXPECT_EQ(utf8ToGsm7(escaped).septets, (std::vector<std::uint8_t>{kGsmEscape, s}));
    }
    EXPECT_EQ(extensions, static_cast<int>(kGsmExtensionTable.size()));
}

}  // namespace
