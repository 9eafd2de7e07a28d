// The FSK caller-ID message of a line: the bytes the demodulator delivers
// between rings.
#include "CLineDevice/CLineDevice.h"

void CLineDevice::empty_cid_bytes()
{
    std::lock_guard<std::mutex> lock(cid_mutex_);
    cid_bytes_.clear();
}

void CLineDevice::arm_cid_message()
{
    std::lock_guard<std::mutex> lock(cid_mutex_);
    cid_bytes_.clear();
    cid_message_done_ = false;
}
