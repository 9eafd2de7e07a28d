// SMS in PDU mode: builds the hex text of an SMS-SUBMIT (with the
// service-centre address in front) and reads the hex text of an SMS-DELIVER,
// around one record, SM_PARAM.
//
// Hex text is upper case. Addresses are written with type 0x91
// (international). Text is UTF-8; the user data is the GSM 7-bit default
// alphabet, 8-bit data or UCS2 as the data coding scheme's coding group says.
#pragma once

#include <cstddef>
#include <cstdint>

// An address holds at most 10 octets of semi-octet digits.
inline constexpr std::size_t kSmsAddressDigitsMax = 20;
inline constexpr std::size_t kSmsUserDataOctetsMax = 140;
inline constexpr std::size_t kSmsSeptetsMax = 160;  // 140 octets of 7-bit text
// A concatenation header with an 8-bit reference: 05 00 03 ref total seq.
inline constexpr std::size_t kSmsConcatHeaderOctets = 6;
// The longest SUBMIT we build: service centre 12 octets, TPDU 158 octets.
inline constexpr std::size_t kSmsPduHexMax = 340;

// TP_DCS value saying that TP_UD already holds UCS2 as hex text; the PDU
// carries coding scheme 8 for it.
inline constexpr std::uint8_t kSmsDcsUcs2Hex = 9;

struct SM_PARAM {
    char SCA[kSmsAddressDigitsMax + 1];  // service-centre digits, terminated
    char TPA[kSmsAddressDigitsMax + 1];  // destination or originating digits, terminated
    std::uint8_t TP_PID;                 // protocol identifier
    std::uint8_t TP_DCS;                 // data coding scheme (or kSmsDcsUcs2Hex)
    char TP_SCTS[16];                    // YYMMDDhhmmsszz, terminated
    char TP_UD[512];                     // user data, terminated
    short index;                         // storage index, not set by the codec
};

enum class SmsAlphabet { Gsm7, Data8, Ucs2 };

// The alphabet of a data coding scheme, read by its coding group. Compressed
// text is handed over as 8-bit data; reserved values read as the 7-bit
// alphabet.
SmsAlphabet gsmDcsAlphabet(std::uint8_t dcs);

// n hex characters ('0'-'9', 'A'-'F') to n/2 bytes. Returns n/2, or -1 for
// any other character (nothing is written past the bad pair).
int gsmString2Bytes(const char* hex, unsigned char* bytes, int n);
// n bytes to 2n upper-case hex characters and a terminator; returns 2n.
int gsmBytes2String(const unsigned char* bytes, char* hex, int n);

// Packs n septets (the low 7 bits of each byte of text), least significant
// bit first, into ceil(7n/8) octets; returns the octets written.
int gsmEncode7bit(const char* text, unsigned char* out, int n);
// Unpacks n octets into floor(8n/7) septets and a terminator; returns the
// septets written. A septet 0 is the character '@', not the end.
int gsmDecode7bit(const unsigned char* octets, char* out, int n);

// Copies n bytes; returns n.
int gsmEncode8bit(const char* text, unsigned char* out, int n);
// Copies n bytes and a terminator; returns n.
int gsmDecode8bit(const unsigned char* octets, char* out, int n);

// The UTF-8 text in the first n bytes of text (up to a terminator) as
// big-endian UTF-16, at most 2n bytes. Returns the bytes written; what is
// not UTF-8 is sent as U+FFFD, and logged.
int gsmEncodeUcs2(const char* text, unsigned char* out, int n);
// n/2 big-endian UTF-16 units to UTF-8 and a terminator, at most 3 * (n/2)
// bytes before it. Returns the bytes of text written; a lone surrogate
// becomes U+FFFD, and is logged.
int gsmDecodeUcs2(const unsigned char* octets, char* out, int n);

// Swaps each pair of the n digits into semi-octet order; an odd count gets the
// filler 'F' before its last digit ("12345" gives "2143F5"). Writes n or
// n + 1 characters and a terminator; returns the characters written.
int gsmInvertNumbers(const char* digits, char* out, int n);
// Swaps each pair of n semi-octet characters back and drops a trailing
// filler 'F' ("2143F5" gives "12345"); an unpaired last character is kept.
// Returns the characters written before the terminator.
int gsmSerializeNumbers(const char* semi, char* out, int n);

// The SMS-SUBMIT of param as hex text in out (room for kSmsPduHexMax + 1).
// Returns its length, or -1 when an address is not up to 20 digits (after an
// optional '+'), the user data exceed one SMS (140 octets, 160 septets), or
// hex user data (kSmsDcsUcs2Hex) is not pairs of hex digits (lower case is
// taken, and written upper case). Characters that the 7-bit alphabet lacks
// are sent as '?', and logged.
int gsmEncodePdu(const SM_PARAM* param, char* out);
// One part (seq of total, both from 1) of a concatenated SMS-SUBMIT: the user
// data carry the header 05 00 03 ref total seq in front of the text, which
// leaves 134 octets, or 153 septets, for it. Results as gsmEncodePdu; -1 also
// for seq 0, total 0 or seq above total.
int gsmEncodeMultiSmsPdu(const SM_PARAM* param, char* out, unsigned char ref,
                         unsigned char total, unsigned char seq);

// Reads the SMS-DELIVER in the hex text (terminated) into param; a user-data
// header is skipped, and the text decoded by the coding scheme's alphabet (8-bit
// data are copied as they are). Returns the bytes of TP_UD before its
// terminator, or -1, leaving param cleared but for its index, when the text is
// not upper-case hex, is not an SMS-DELIVER, is shorter than its lengths say,
// or a length is beyond what an SMS can hold.
int gsmDecodePdu(const char* hex, SM_PARAM* param);
