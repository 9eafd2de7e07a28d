// One entry of a Tz2701A's command or SMS queue, as the command pump takes
// it. The producer allocates it and the consumer frees it.
#pragma once

#include <cstdint>

constexpr int kHidCmdOpDataSize = 1024;

struct hid_cmd_op {
    // What the entry carries, and so how the pump sends it. The numbers
    // appear in the pump's log lines.
    enum class Kind {
        kDeviceCommand = 0,  // a bridge device command, or a text sent without awaiting a reply
        kAtCommand = 1,      // an AT text whose reply is awaited
        kSmsPdu = 2,         // one SMS part's PDU hex text
        kRawReport = 5,      // an 8-byte report written as it is
    };

    std::uint8_t data[kHidCmdOpDataSize] = {};
    int length = 0;
    int sms_index = 0;  // message reference of the SMS this PDU belongs to
    int sms_count = 0;  // number of parts of that SMS
    int wait_flag = 0;
    Kind type = Kind::kDeviceCommand;
};
