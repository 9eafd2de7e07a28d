// Caller-ID messages as the demodulator delivers them: the first byte
// chooses whether a parameter of type 3 adds to the number; the rest is
// parsed whole and as every shorter prefix, as bytes arrive one by one.
// The same bytes then reach a line's OnCidData one at a time, with the
// line's caller-ID settings from the first byte's other bits and the next
// message taken up after each one that ended.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "CLineDevice/CLineDevice.h"
#include "CLineDevice/cid_message.h"
#include "base/logger.h"
#include "support/line_access.h"

namespace {

using olva_test::LineAccess;

// A line without a box whose caller-ID event texts are read whole, as the
// service reads them.
class FuzzLine final : public CLineDevice {
public:
    FuzzLine(std::uint8_t choice)
    {
        LineAccess::setMdmfType3(*this, choice & 1);
        LineAccess::setCidType(*this, (choice >> 1) % 3);
        LineAccess::setProduct(*this,
                               (choice & 0x08) ? OLVA_PRODUCT_TZ2501B : OLVA_PRODUCT_TZ2401B);
        set_auto_link_slic((choice >> 4) & 1);
        LineAccess::setDtmfCid(*this, (choice >> 5) & 1);
        LineAccess::setNumberReported(*this, (choice >> 6) & 1);
    }
    void fire_event(int event, unsigned long p1, unsigned long p2, unsigned long p3,
                    unsigned long) override
    {
        if (event != OLVA_EVENT_CALLER_ID)
            return;
        for (const unsigned long text : {p1, p2, p3})
            length_ += std::strlen(reinterpret_cast<const char*>(text));
    }

private:
    std::size_t length_ = 0;
};

}  // namespace

// Refused bytes are logged: not worth the time here.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    logger_set_base_level(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0 || size > 1024)
        return 0;
    const bool type3 = data[0] & 1;
    for (std::size_t count = 0; count < size; ++count) {
        cid_message::Texts texts;
        cid_message::parse(data + 1, count, type3, texts);
    }

    FuzzLine line(data[0]);
    line.handld_cid_start();
    for (std::size_t at = 1; at < size; ++at) {
        line.OnCidData(data[at]);
        if (LineAccess::cidMessageDone(line))
            line.handld_cid_start();
    }
    return 0;
}
