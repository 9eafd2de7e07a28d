#include "base/platform/clock.h"

#include <atomic>
#include <chrono>

namespace platform {
namespace {

class SystemClock final : public Clock {
public:
    std::int64_t steadyMs() const override
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }

    std::int64_t wallMs() const override
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }
};

const SystemClock g_system_clock;
std::atomic<const Clock*> g_clock{&g_system_clock};

}  // namespace

const Clock& clock()
{
    return *g_clock.load(std::memory_order_acquire);
}

void setClock(const Clock* replacement)
{
    g_clock.store(replacement ? replacement : &g_system_clock, std::memory_order_release);
}

}  // namespace platform
