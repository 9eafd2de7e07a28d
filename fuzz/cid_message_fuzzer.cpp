// Caller-ID messages as the demodulator delivers them: the first byte
// chooses whether a parameter of type 3 adds to the number; the rest is
// parsed whole and as every shorter prefix, as bytes arrive one by one.
#include <cstddef>
#include <cstdint>

#include "CLineDevice/cid_message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0 || size > 1024)
        return 0;
    const bool type3 = data[0] & 1;
    for (std::size_t count = 0; count < size; ++count) {
        cid_message::Texts texts;
        cid_message::parse(data + 1, count, type3, texts);
    }
    return 0;
}
