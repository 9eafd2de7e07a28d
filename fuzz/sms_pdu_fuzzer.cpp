// Received SMS-DELIVER PDUs as the module's hex text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/logger.h"
#include "codecs/Sms.h"

// Refused PDUs are logged as warnings: not worth the time here.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    logger_set_base_level(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string hex(reinterpret_cast<const char*>(data), size);
    SM_PARAM param{};
    gsmDecodePdu(hex.c_str(), &param);
    return 0;
}
