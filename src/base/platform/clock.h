// The process's view of time. Everything that asks for the time of day or a
// steady tick goes through clock(), so that a test can move time on at will.
#pragma once

#include <cstdint>

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds of a monotonic clock with an arbitrary origin.
    virtual std::int64_t steadyMs() const = 0;
    // Milliseconds since the Unix epoch (wall-clock time).
    virtual std::int64_t wallMs() const = 0;

    std::int64_t wallSeconds() const { return wallMs() / 1000; }
};

// The clock in use: the system clock unless a test installed its own.
const Clock& clock();

// Installs a clock; nullptr restores the system clock. The caller keeps the
// object alive for as long as it is installed.
void setClock(const Clock* replacement);

}  // namespace platform
