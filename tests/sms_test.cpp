#include "codecs/Sms.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Bytes past the space a function may use: a write there is caught.
constexpr char kGuard = '#';

TEST(SmsNumbersTest, InvertAndSerialize)
{
    struct Case {
        const char* digits;
        const char* semi;
    };
    const Case cases[] = {
        {"1234567", "214365F7"},
        {"12345", "2143F5"},
        {"12", "21"},
        {"1", "F1"},
        {"", ""},
        {"27381000015", "7283010010F5"},
        {"8613800250500", "683108200505F0"},
        {"12345678901234567890", "21436587092143658709"},
    };
    for (const Case& c : cases) {
        const int n = static_cast<int>(std::strlen(c.digits));
        char out[32];
        std::memset(out, kGuard, sizeof out);
        const int inverted = gsmInvertNumbers(c.digits, out, n);
        EXPECT_STREQ(out, c.semi);
        EXPECT_EQ(inverted, static_cast<int>(std::strlen(c.semi)));
        EXPECT_EQ(out[inverted + 1], kGuard) << c.digits;

        std::memset(out, kGuard, sizeof out);
        const int serialized = gsmSerializeNumbers(c.semi, out, inverted);
        EXPECT_STREQ(out, c.digits);
        EXPECT_EQ(serialized, n);
        EXPECT_EQ(out[inverted + 1], kGuard) << c.semi;
    }
    char out[8];
    EXPECT_EQ(gsmSerializeNumbers("214", out, 3), 3);  // an unpaired last character stays
    EXPECT_STREQ(out, "124");
    EXPECT_EQ(gsmInvertNumbers("12", out, -1), -1);
    EXPECT_EQ(gsmSerializeNumbers("12", out, -1), -1);
}

TEST(SmsHexTest, UpperCaseHexOnly)
{
    unsigned char bytes[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(gsmString2Bytes("0A1FFF", bytes, 6), 3);
    EXPECT_EQ(bytes[0], 0x0A);
    EXPECT_EQ(bytes[1], 0x1F);
    EXPECT_EQ(bytes[2], 0xFF);
    EXPECT_EQ(bytes[3], 0xEE);
    EXPECT_EQ(gsmString2Bytes("ABC", bytes, 3), 1);  // the odd last character is not read
    EXPECT_EQ(bytes[0], 0xAB);
    for (const char* bad : {"0a", "1f", "G0", "0 ", "\r\n", "+1"})
        EXPECT_EQ(gsmString2Bytes(bad, bytes, 2), -1) << bad;
    EXPECT_EQ(gsmString2Bytes("00", bytes, -2), -1);

    const unsigned char data[] = {0x00, 0xAB, 0xFF, 0x5A};
    char hex[10];
    std::memset(hex, kGuard, sizeof hex);
    EXPECT_EQ(gsmBytes2String(data, hex, 4), 8);
    EXPECT_STREQ(hex, "00ABFF5A");
    EXPECT_EQ(hex[9], kGuard);
}

std::string hexOf(const unsigned char* bytes, int n)
{
    std::string hex(static_cast<std::size_t>(2 * n) + 1, '\0');
    gsmBytes2String(bytes, hex.data(), n);
    hex.pop_back();
    return hex;
}

TEST(SmsSevenBitTest, PacksPublishedExamples)
{
    struct Case {
        const char* text;
        const char* octets;
    };
    const Case cases[] = {
        {"abc", "61F118"},
        {"hellohello", "E8329BFD4697D9EC37"},
        {"How are you?", "C8F71D14969741F977FD07"},
        {"", ""},
    };
    for (const Case& c : cases) {
        const int n = static_cast<int>(std::strlen(c.text));
        unsigned char packed[32];
        const int octets = gsmEncode7bit(c.text, packed, n);
        EXPECT_EQ(octets, (7 * n + 7) / 8) << c.text;
        EXPECT_EQ(hexOf(packed, octets), c.octets);
    }
}

TEST(SmsSevenBitTest, UnpackingInvertsPackingAtEveryLength)
{
    for (int n = 0; n <= 160; ++n) {
        std::string septets(static_cast<std::size_t>(n), '\0');
        for (int i = 0; i < n; ++i)
            septets[static_cast<std::size_t>(i)] = static_cast<char>((i * 37 + 11) % 128);
        unsigned char packed[141];
        std::memset(packed, kGuard, sizeof packed);
        const int octets = gsmEncode7bit(septets.data(), packed, n);
        ASSERT_EQ(octets, (7 * n + 7) / 8);
        if (octets < 141) {
            ASSERT_EQ(packed[octets], kGuard) << n;
        }
        char unpacked[162];
        std::memset(unpacked, kGuard, sizeof unpacked);
        const int count = gsmDecode7bit(packed, unpacked, octets);
        ASSERT_EQ(count, 8 * octets / 7);
        ASSERT_GE(count, n);
        ASSERT_EQ(std::string(unpacked, static_cast<std::size_t>(n)), septets) << n;
        if (count > n) {  // the spare bits of the last octet read as septet 0
            ASSERT_EQ(unpacked[n], '\0');
        }
        ASSERT_EQ(unpacked[count], '\0');
        ASSERT_EQ(unpacked[count + 1], kGuard);
    }
}

TEST(SmsUcs2Test, ConvertsWithSurrogatePairs)
{
    char text[8];
    const unsigned char zhong[] = {0x4E, 0x2D};
    EXPECT_EQ(gsmDecodeUcs2(zhong, text, 2), 3);
    EXPECT_STREQ(text, "\xE4\xB8\xAD");

    const unsigned char lone[] = {0xD8, 0x3D, 0x00, 0x41, 0x00};
    EXPECT_EQ(gsmDecodeUcs2(lone, text, 5), 4);  // the odd last octet is no character
    EXPECT_STREQ(text, "\xEF\xBF\xBD" "A");

    unsigned char ucs2[16];
    const char* mixed = "\xE4\xB8\xAD\xF0\x9F\x98\x80";
    EXPECT_EQ(gsmEncodeUcs2(mixed, ucs2, 7), 6);
    EXPECT_EQ(hexOf(ucs2, 6), "4E2DD83DDE00");
    EXPECT_EQ(gsmEncodeUcs2("a\xFF", ucs2, 2), 4);  // never a negative length
    EXPECT_EQ(hexOf(ucs2, 4), "0061FFFD");
    EXPECT_EQ(gsmEncodeUcs2("ab\0cd", ucs2, 5), 4);  // the text ends at its terminator
    EXPECT_EQ(gsmEncodeUcs2("ab", ucs2, -1), -1);
}

SM_PARAM message(const char* sca, const char* tpa, std::uint8_t dcs, const std::string& text)
{
    SM_PARAM p{};
    std::snprintf(p.SCA, sizeof p.SCA, "%s", sca);
    std::snprintf(p.TPA, sizeof p.TPA, "%s", tpa);
    p.TP_DCS = dcs;
    std::snprintf(p.TP_UD, sizeof p.TP_UD, "%s", text.c_str());
    return p;
}

std::string encode(const SM_PARAM& p)
{
    char out[kSmsPduHexMax + 2];
    std::memset(out, kGuard, sizeof out);
    const int n = gsmEncodePdu(&p, out);
    EXPECT_EQ(out[kSmsPduHexMax + 1], kGuard);
    if (n < 0)
        return "error";
    EXPECT_EQ(std::strlen(out), static_cast<std::size_t>(n));
    return out;
}

std::string encodePart(const SM_PARAM& p, unsigned char ref, unsigned char total,
                       unsigned char seq)
{
    char out[kSmsPduHexMax + 2];
    std::memset(out, kGuard, sizeof out);
    const int n = gsmEncodeMultiSmsPdu(&p, out, ref, total, seq);
    EXPECT_EQ(out[kSmsPduHexMax + 1], kGuard);
    if (n < 0)
        return "error";
    EXPECT_EQ(std::strlen(out), static_cast<std::size_t>(n));
    return out;
}

TEST(SmsSubmitTest, BuildsTheFieldsInOrder)
{
    EXPECT_EQ(encode(message("", "1234567", 8, "A")), "019111000791214365F7000800020041");
    EXPECT_EQ(encode(message("", "1234567", 8, "A")).size(), 32u);
    EXPECT_EQ(encode(message("8613800250500", "+8613912345678", 8, "\xE4\xBD\xA0")),
              "0891683108200505F0" "1100" "0D91683119325476F8" "000800" "02" "4F60");
    EXPECT_EQ(encode(message("+8613800250500", "10086", kSmsDcsUcs2Hex, "4f60597D")),
              "0891683108200505F0" "1100" "05910180F6" "000800" "04" "4F60597D");
    EXPECT_EQ(encode(message("", "10086", 4, "hi")), "0191" "1100" "05910180F6" "000400" "02" "6869");
}

// The published SMS-SUBMIT of "hellohello" to 46708251358 leaves the service
// centre to the phone ("00") and gives a 4-day validity (AA); we always write
// the type octet 91 and validity 00. Everything else is the same.
TEST(SmsSubmitTest, MatchesThePublishedSubmit)
{
    const std::string published = "0011000B916407281553F80000AA0AE8329BFD4697D9EC37";
    std::string expected = "0191" + published.substr(2);
    expected.replace(4 + 24, 2, "00");
    EXPECT_EQ(encode(message("", "46708251358", 0, "hellohello")), expected);
}

TEST(SmsSubmitTest, ConcatenatedPartCarriesItsHeader)
{
    EXPECT_EQ(encodePart(message("8613800250500", "8613912345678", kSmsDcsUcs2Hex, "4F60597D"),
                         0x2A, 3, 2),
              "0891683108200505F0" "5100" "0D91683119325476F8" "000800" "0A" "0500032A0302"
              "4F60597D");
    EXPECT_EQ(encodePart(message("", "10086", 8, "\xE4\xBD\xA0"), 0xFF, 2, 1),
              "0191" "5100" "05910180F6" "000800" "08" "050003FF0201" "4F60");
    // 7-bit: the header and one fill bit take 7 septets; "hi" follows.
    EXPECT_EQ(encodePart(message("", "10086", 0, "hi"), 1, 1, 1),
              "0191" "5100" "05910180F6" "000000" "09" "050003010101" "D069");
    for (auto [total, seq] : {std::pair{0, 0}, {2, 0}, {0, 1}, {2, 3}})
        EXPECT_EQ(encodePart(message("", "10086", 9, "0041"), 7, static_cast<unsigned char>(total),
                             static_cast<unsigned char>(seq)),
                  "error")
            << total << " " << seq;
}

std::string repeat(const std::string& s, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

TEST(SmsSubmitTest, RefusesWhatOneSmsCannotHold)
{
    const std::string zhong = "\xE4\xB8\xAD";
    const std::string emoji = "\xF0\x9F\x98\x80";
    const std::string euro = "\xE2\x82\xAC";
    struct Case {
        const char* name;
        std::uint8_t dcs;
        std::string text;
        bool single_fits;
        bool part_fits;
    };
    const Case cases[] = {
        {"160 septets", 0, std::string(160, 'a'), true, false},
        {"161 septets", 0, std::string(161, 'a'), false, false},
        {"153 septets", 0, std::string(153, 'a'), true, true},
        {"154 septets", 0, std::string(154, 'a'), true, false},
        {"80 euro signs", 0, repeat(euro, 80), true, false},
        {"81 euro signs", 0, repeat(euro, 81), false, false},
        {"70 UCS2 characters", 8, repeat(zhong, 70), true, false},
        {"71 UCS2 characters", 8, repeat(zhong, 71), false, false},
        {"67 UCS2 characters", 8, repeat(zhong, 67), true, true},
        {"68 UCS2 characters", 8, repeat(zhong, 68), true, false},
        {"35 emoji", 8, repeat(emoji, 35), true, false},
        {"36 emoji", 8, repeat(emoji, 36), false, false},
        {"280 hex", kSmsDcsUcs2Hex, std::string(280, 'A'), true, false},
        {"268 hex", kSmsDcsUcs2Hex, std::string(268, 'A'), true, true},
        {"270 hex", kSmsDcsUcs2Hex, std::string(270, 'A'), true, false},
        {"282 hex", kSmsDcsUcs2Hex, std::string(282, 'A'), false, false},
        {"odd hex", kSmsDcsUcs2Hex, "004", false, false},
        {"not hex", kSmsDcsUcs2Hex, "00G1", false, false},
        {"hex with a line end", kSmsDcsUcs2Hex, "0041\r\n", false, false},
        {"140 octets", 4, std::string(140, 'x'), true, false},
        {"141 octets", 4, std::string(141, 'x'), false, false},
        {"134 octets", 4, std::string(134, 'x'), true, true},
    };
    for (const Case& c : cases) {
        const SM_PARAM p = message("8613800250500", "8613912345678", c.dcs, c.text);
        EXPECT_EQ(encode(p) != "error", c.single_fits) << c.name;
        EXPECT_EQ(encodePart(p, 1, 2, 1) != "error", c.part_fits) << c.name;
    }
}

TEST(SmsSubmitTest, AddressesAreBounded)
{
    const std::string twenty = "12345678901234567890";
    const std::string longest = encode(message(twenty.c_str(), twenty.c_str(), 4,
                                               std::string(140, 'x')));
    EXPECT_EQ(longest.size(), kSmsPduHexMax);
    EXPECT_EQ(longest.substr(0, 24), "0B9121436587092143658709");
    for (const char* bad : {"123a", "12 34", "1+2", "++1", "*100#"})
        EXPECT_EQ(encode(message("", bad, 8, "A")), "error") << bad;
    EXPECT_EQ(encode(message("12-3", "1", 8, "A")), "error");

    SM_PARAM unterminated = message("", "1", 8, "A");
    std::memset(unterminated.TPA, '1', sizeof unterminated.TPA);
    EXPECT_EQ(encode(unterminated), "error");
    unterminated = message("", "1", 8, "A");
    std::memset(unterminated.SCA, '1', sizeof unterminated.SCA);
    EXPECT_EQ(encode(unterminated), "error");
}

SM_PARAM decode(const std::string& hex, int& result)
{
    SM_PARAM p;
    std::memset(&p, 0x5A, sizeof p);
    p.index = 17;
    result = gsmDecodePdu(hex.c_str(), &p);
    EXPECT_EQ(p.index, 17) << "the index is the caller's";
    return p;
}

const char* const kPublishedDeliver =
    "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37";

TEST(SmsDeliverTest, DecodesPublishedExamples)
{
    struct Case {
        const char* pdu;
        const char* sca;
        const char* tpa;
        const char* scts;
        const char* text;
    };
    const Case cases[] = {
        {kPublishedDeliver, "27381000015", "27838890001", "99032915165908", "hellohello"},
        {"07911326040000F0040B911346610089F60000208062917314080CC8F71D14969741F977FD07",
         "31624000000", "31641600986", "02082619374180", "How are you?"},
    };
    for (const Case& c : cases) {
        int result = 0;
        const SM_PARAM p = decode(c.pdu, result);
        EXPECT_EQ(result, static_cast<int>(std::strlen(c.text))) << c.pdu;
        EXPECT_STREQ(p.SCA, c.sca);
        EXPECT_STREQ(p.TPA, c.tpa);
        EXPECT_EQ(p.TP_PID, 0);
        EXPECT_EQ(p.TP_DCS, 0);
        EXPECT_STREQ(p.TP_SCTS, c.scts);
        EXPECT_STREQ(p.TP_UD, c.text);
    }
}

// The DELIVER a phone would receive for one of our SUBMITs: the same service
// centre, the destination as the originating address, protocol id, coding
// scheme and user data, and a fixed time stamp in place of the validity.
std::string deliverOf(const std::string& submit)
{
    auto octet = [&submit](std::size_t at) {
        return static_cast<int>(std::stoul(submit.substr(at, 2), nullptr, 16));
    };
    const std::size_t sca_end = 2 + 2 * static_cast<std::size_t>(octet(0));
    const int first = octet(sca_end);
    EXPECT_EQ(first & 0x1B, 0x11) << "an SMS-SUBMIT with a relative validity";
    const std::size_t address = sca_end + 4;
    const std::size_t address_end = address + 4 + 2 * ((octet(address) + 1) / 2);
    char deliver_first[3];
    std::snprintf(deliver_first, sizeof deliver_first, "%02X", 0x04 | (first & 0x40));
    return submit.substr(0, sca_end) + deliver_first +
           submit.substr(address, address_end - address) + submit.substr(address_end, 4) +
           "99309251619580" + submit.substr(address_end + 6);
}

TEST(SmsDeliverTest, OurSubmitsRoundTrip)
{
    struct Case {
        const char* name;
        std::uint8_t dcs;
        std::string text;
        std::string decoded;  // when it differs from the text
    };
    const Case cases[] = {
        {"Chinese", 8, "\xE4\xBD\xA0\xE5\xA5\xBD\xEF\xBC\x8C\xE4\xB8\x96\xE7\x95\x8C", ""},
        {"emoji", 8, "Hi \xF0\x9F\x98\x80\xF0\x9F\x91\x8D!", ""},
        {"UCS2 flash", 0x18, "\xE4\xB8\xAD\xE6\x96\x87", ""},
        {"hex UCS2", kSmsDcsUcs2Hex, "4F60D83DDE00", "\xE4\xBD\xA0\xF0\x9F\x98\x80"},
        {"GSM alphabet", 0, "@\xC2\xA3$\xC2\xA5 {\xE2\x82\xAC} hello_", ""},
        {"seven septets", 0, "1234567", ""},
        {"ends in an at sign", 0, "abcdefg@", ""},
        {"7-bit class 0", 0xF0, "flash", ""},
        {"8-bit data", 4, "bin\x01\x02\x7F", ""},
        {"full 7-bit", 0, std::string(160, 'z'), ""},
        {"full UCS2", 8, repeat("\xE4\xB8\xAD", 70), ""},
    };
    for (const Case& c : cases) {
        const SM_PARAM sent = message("8613800250500", "8613912345678", c.dcs, c.text);
        const std::string submit = encode(sent);
        ASSERT_NE(submit, "error") << c.name;
        int result = 0;
        const SM_PARAM got = decode(deliverOf(submit), result);
        const std::string& expected = c.decoded.empty() ? c.text : c.decoded;
        EXPECT_EQ(result, static_cast<int>(expected.size())) << c.name;
        EXPECT_EQ(std::string(got.TP_UD), expected) << c.name;
        EXPECT_STREQ(got.TPA, "8613912345678");
        EXPECT_STREQ(got.SCA, "8613800250500");
        EXPECT_EQ(got.TP_DCS, c.dcs == kSmsDcsUcs2Hex ? 8 : c.dcs) << c.name;
    }
}

TEST(SmsDeliverTest, ConcatenatedPartsDropTheirHeader)
{
    struct Case {
        std::uint8_t dcs;
        std::string text;
        std::string decoded;
    };
    const Case cases[] = {
        {kSmsDcsUcs2Hex, "4F60597D", "\xE4\xBD\xA0\xE5\xA5\xBD"},
        {kSmsDcsUcs2Hex, repeat("4E2D", 67), repeat("\xE4\xB8\xAD", 67)},
        {8, "\xF0\x9F\x98\x80 ok", "\xF0\x9F\x98\x80 ok"},
        {0, "part @ one", "part @ one"},
        {0, std::string(153, 'q'), std::string(153, 'q')},
        {4, "raw", "raw"},
    };
    for (const Case& c : cases) {
        const SM_PARAM sent = message("", "10086", c.dcs, c.text);
        const std::string submit = encodePart(sent, 0x99, 3, 3);
        ASSERT_NE(submit, "error");
        int result = 0;
        const SM_PARAM got = decode(deliverOf(submit), result);
        EXPECT_EQ(result, static_cast<int>(c.decoded.size())) << c.text;
        EXPECT_EQ(std::string(got.TP_UD), c.decoded);
    }
}

// A DELIVER from +8613912345678 with the given coding scheme and user data.
std::string deliverWith(std::uint8_t first, std::uint8_t dcs, int udl, const std::string& ud)
{
    char head[64];
    std::snprintf(head, sizeof head, "00%02X0D91683119325476F800%02X99309251619580%02X", first,
                  dcs, udl);
    return head + ud;
}

TEST(SmsDeliverTest, ReadsTheCodingSchemeByItsGroup)
{
    struct Case {
        std::uint8_t dcs;
        SmsAlphabet alphabet;
    };
    const Case cases[] = {
        {0x00, SmsAlphabet::Gsm7}, {0x01, SmsAlphabet::Gsm7}, {0x04, SmsAlphabet::Data8},
        {0x08, SmsAlphabet::Ucs2}, {0x0C, SmsAlphabet::Gsm7}, {0x10, SmsAlphabet::Gsm7},
        {0x11, SmsAlphabet::Gsm7}, {0x14, SmsAlphabet::Data8}, {0x15, SmsAlphabet::Data8},
        {0x18, SmsAlphabet::Ucs2}, {0x19, SmsAlphabet::Ucs2}, {0x1A, SmsAlphabet::Ucs2},
        {0x20, SmsAlphabet::Data8}, {0x28, SmsAlphabet::Data8}, {0x3A, SmsAlphabet::Data8},
        {0x40, SmsAlphabet::Gsm7}, {0x48, SmsAlphabet::Ucs2}, {0x54, SmsAlphabet::Data8},
        {0x59, SmsAlphabet::Ucs2}, {0x80, SmsAlphabet::Gsm7}, {0xB8, SmsAlphabet::Gsm7},
        {0xC0, SmsAlphabet::Gsm7}, {0xC8, SmsAlphabet::Gsm7}, {0xD8, SmsAlphabet::Gsm7},
        {0xE0, SmsAlphabet::Ucs2}, {0xEB, SmsAlphabet::Ucs2}, {0xF0, SmsAlphabet::Gsm7},
        {0xF3, SmsAlphabet::Gsm7}, {0xF4, SmsAlphabet::Data8}, {0xF7, SmsAlphabet::Data8},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(gsmDcsAlphabet(c.dcs), c.alphabet) << std::hex << int(c.dcs);
        std::string pdu;
        std::string text;
        switch (c.alphabet) {
        case SmsAlphabet::Gsm7:  // "hello@"
            pdu = deliverWith(0x04, c.dcs, 6, "E8329BFD0600");
            text = "hello@";
            break;
        case SmsAlphabet::Ucs2:
            pdu = deliverWith(0x04, c.dcs, 4, "4F60597D");
            text = "\xE4\xBD\xA0\xE5\xA5\xBD";
            break;
        case SmsAlphabet::Data8:
            pdu = deliverWith(0x04, c.dcs, 2, "4F60");
            text = "O`";
            break;
        }
        int result = 0;
        const SM_PARAM p = decode(pdu, result);
        EXPECT_EQ(std::string(p.TP_UD), text) << std::hex << int(c.dcs);
        EXPECT_EQ(result, static_cast<int>(text.size()));
        EXPECT_EQ(p.TP_DCS, c.dcs);
    }
}

TEST(SmsDeliverTest, LongestAddressesAndEmptyServiceCentre)
{
    int result = 0;
    SM_PARAM p = decode("0B912143658709214365870904149121436587092143658709"
                        "000099309251619580" "00", result);
    EXPECT_EQ(result, 0);
    EXPECT_STREQ(p.SCA, "12345678901234567890");
    EXPECT_STREQ(p.TPA, "12345678901234567890");

    p = decode(std::string("00") + (kPublishedDeliver + 16), result);
    EXPECT_EQ(result, 10);
    EXPECT_STREQ(p.SCA, "");
    EXPECT_STREQ(p.TP_UD, "hellohello");

    p = decode(std::string(kPublishedDeliver) + "00FF", result);  // octets past the user data
    EXPECT_EQ(result, 10);
    EXPECT_STREQ(p.TP_UD, "hellohello");
}

void expectRefused(const std::string& pdu, const char* name)
{
    int result = 0;
    const SM_PARAM p = decode(pdu, result);
    EXPECT_EQ(result, -1) << name << ": " << pdu;
    EXPECT_STREQ(p.SCA, "") << name;
    EXPECT_STREQ(p.TPA, "") << name;
    EXPECT_STREQ(p.TP_UD, "") << name;
    EXPECT_EQ(p.TP_DCS, 0) << name;
}

TEST(SmsDeliverTest, EveryTruncationIsRefused)
{
    const std::string pdus[] = {
        kPublishedDeliver,
        deliverOf(encodePart(message("", "10086", 0, "part"), 1, 2, 2)),
        deliverOf(encode(message("8613800250500", "10086", 8, "\xE4\xBD\xA0"))),
    };
    for (const std::string& pdu : pdus)
        for (std::size_t n = 0; n < pdu.size(); ++n)
            expectRefused(pdu.substr(0, n), "truncated");
}

TEST(SmsDeliverTest, MalformedPdusAreRefused)
{
    const std::string good = kPublishedDeliver;
    std::string lower = good;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string with_letter = good;
    with_letter.back() = 'G';
    struct Case {
        const char* name;
        std::string pdu;
    };
    const Case cases[] = {
        {"lower case", lower},
        {"not hex", with_letter},
        {"line end", good + "\r\n"},
        {"service centre of 22 digits", "0C91" "2143658709214365870921" + good.substr(16)},
        {"SMS-SUBMIT", good.substr(0, 16) + "11" + good.substr(18)},
        {"status report", good.substr(0, 16) + "06" + good.substr(18)},
        {"originating address of 21 digits",
         "00" "04" "15" "9121436587092143658709F1" "0000993092516195800AE8329BFD4697D9EC37"},
        {"161 septets", deliverWith(0x04, 0x00, 161, std::string(282, '0'))},
        {"141 UCS2 octets", deliverWith(0x04, 0x08, 141, std::string(282, '0'))},
        {"141 data octets", deliverWith(0x04, 0xF4, 141, std::string(282, '0'))},
        {"header longer than the data", deliverWith(0x44, 0x08, 4, "05000301")},
        {"header without data", deliverWith(0x44, 0x08, 0, "")},
        {"7-bit header longer than its septets", deliverWith(0x44, 0x00, 1, "00")},
    };
    for (const Case& c : cases)
        expectRefused(c.pdu, c.name);
    int result = 0;
    SM_PARAM p{};
    EXPECT_EQ(gsmDecodePdu(nullptr, &p), -1);
    EXPECT_EQ(gsmDecodePdu(kPublishedDeliver, nullptr), -1);
    (void)result;
}

}  // namespace
