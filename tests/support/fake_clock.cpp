#include "support/fake_clock.h"

#include <ctime>

namespace olva_test {

FakeClock::FakeClock(std::int64_t wall_ms) : wall_ms_(wall_ms)
{
    platform::setClock(this);
}

FakeClock::~FakeClock()
{
    platform::setClock(nullptr);
}

void FakeClock::advanceMs(std::int64_t ms)
{
    steady_ms_ += ms;
    wall_ms_ += ms;
}

std::int64_t localTimeMs(int year, int month, int day, int hour, int minute, int second,
                         int millisecond)
{
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&tm)) * 1000 + millisecond;
}

}  // namespace olva_test
