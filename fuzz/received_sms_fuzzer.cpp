// Received PDU lines as the module gives them, read for their report with
// both delivery types of UCS2 text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/logger.h"
#include "gsm/received_sms.h"

// Refused lines are logged as warnings: not worth the time here.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    logger_set_base_level(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    gsm::read_received_sms(line, gsm::kDeliverUcs2AsHex);
    gsm::read_received_sms(line, 1);
    return 0;
}
