// The process's way of pausing a thread. Every pause that the device code
// asks for (retries, waits between reports) goes through sleeper(), so that
// a test can record the pauses and return at once.
#pragma once

namespace platform {

class Sleeper {
public:
    virtual ~Sleeper() = default;
    // Pauses the calling thread for about ms milliseconds (0 or less: none).
    virtual void sleepMs(int ms) = 0;
};

// The sleeper in use: the system's unless a test installed its own.
Sleeper& sleeper();

// Installs a sleeper; nullptr restores the system's. The caller keeps the
// object alive for as long as it is installed.
void setSleeper(Sleeper* replacement);

}  // namespace platform
