// One queued box command or AT command of a Tz2701A. The producer allocates
// it and the consumer frees it.
#pragma once

#include <cstdint>

constexpr int kHidCmdOpDataSize = 1024;

struct hid_cmd_op {
    std::uint8_t data[kHidCmdOpDataSize] = {};
    int length = 0;
    int sms_index = 0;  // message reference of the SMS this PDU belongs to
    int sms_count = 0;  // number of parts of that SMS
    int wait_flag = 0;
    int type = 0;  // 0 device command, 1 AT text awaiting a reply, 2 SMS PDU, 5 raw report
};
