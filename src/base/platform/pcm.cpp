#include "base/platform/pcm.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<PcmFactory*> g_factory{nullptr};

}  // namespace

PcmFactory& pcmFactory()
{
    PcmFactory* factory = g_factory.load(std::memory_order_acquire);
    return factory ? *factory : alsaPcmFactory();
}

void setPcmFactory(PcmFactory* replacement)
{
    g_factory.store(replacement, std::memory_order_release);
}

}  // namespace platform
