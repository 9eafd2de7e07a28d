// A clock that stands still until the test moves it. Installed for the
// lifetime of the object.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/platform/clock.h"

namespace olva_test {

class FakeClock final : public platform::Clock {
public:
    // Starts at the given wall-clock time (milliseconds since the epoch).
    explicit FakeClock(std::int64_t wall_ms = 1'780'000'000'000);
    ~FakeClock() override;

    std::int64_t steadyMs() const override { return steady_ms_.load(); }
    std::int64_t wallMs() const override { return wall_ms_.load(); }

    void advanceMs(std::int64_t ms);
    void setWallMs(std::int64_t wall_ms) { wall_ms_.store(wall_ms); }

private:
    std::atomic<std::int64_t> steady_ms_{1'000'000};
    std::atomic<std::int64_t> wall_ms_;
};

// Milliseconds since the epoch of a local date and time.
std::int64_t localTimeMs(int year, int month, int day, int hour, int minute, int second,
                         int millisecond = 0);

}  // namespace olva_test
