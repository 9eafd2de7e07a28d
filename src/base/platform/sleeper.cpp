#include "base/platform/sleeper.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace platform {
namespace {

class SystemSleeper final : public Sleeper {
public:
    void sleepMs(int ms) override
    {
        if (ms > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

SystemSleeper g_system_sleeper;
std::atomic<Sleeper*> g_sleeper{&g_system_sleeper};

}  // namespace

Sleeper& sleeper()
{
    return *g_sleeper.load(std::memory_order_acquire);
}

void setSleeper(Sleeper* replacement)
{
    g_sleeper.store(replacement ? replacement : &g_system_sleeper, std::memory_order_release);
}

}  // namespace platform
