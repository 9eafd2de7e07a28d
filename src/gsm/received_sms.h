// A received SMS-DELIVER line, as the module gives it in PDU mode, read for
// its report: sender, service-centre time, text and its place in a
// concatenated message. Every position and length read from the line is
// checked against the line and against what an SMS can hold; a line that
// fails a check is logged and not reported.
//
//   07 917283010010F5 04 0B C8 7238880900F1 00 00 99309251619580 0A E8329BFD4697D9EC37
//   SC length, SC    FO  sender digits, type  PID DCS time stamp  UDL user data
#pragma once

#include <string>
#include <string_view>

#include "gsm/gsm_state.h"

namespace gsm {

// Delivery types: UCS2 text as its hex digits, or decoded.
inline constexpr int kDeliverUcs2AsHex = 0;

struct ReceivedSms {
    enum class Outcome {
        kReport,    // a message to report (event 35)
        kNoReport,  // a PDU that is bad, or that carries nothing to show
        kNotPdu,    // not hex text: some other line of the module
    };
    Outcome outcome = Outcome::kNoReport;
    std::string from;  // sender digits (or the sender's name)
    std::string time;  // "YYYY-MM-DD hh:mm:ss"
    std::string text;
    std::string part;  // "total(number)" for a part of a concatenated SMS, else empty
    Actions logs;      // kLog actions only
};

ReceivedSms read_received_sms(std::string_view line, int delivery_type);

}  // namespace gsm
