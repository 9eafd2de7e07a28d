// A 24C02 on a two-wire bus at device address 0xA0/0xA1, seen pin change by
// pin change. The lines are wired-AND: a line is low when either side pulls
// it low. Within one change SCL falls before SDA moves, and SDA settles
// before SCL rises.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace olva_sim {

class SimI2cMemory {
public:
    // The host's new pin levels (a released pin reads high).
    void update(bool scl, bool host_sda);
    // The SDA line as the host samples it.
    bool sda() const { return host_sda_ && !drive_low_; }
    bool scl() const { return scl_; }

    std::array<std::uint8_t, 256> memory{};
    bool never_acknowledge = false;
    int bytes_written = 0;

private:
    enum class Phase { kIdle, kReceive, kReceiveAck, kSend, kSendAck };

    void start();
    void stop();
    void sclRose();
    void sclFell();

    bool scl_ = true;
    bool host_sda_ = true;
    bool drive_low_ = false;
    Phase phase_ = Phase::kIdle;
    int bits_ = 0;
    std::uint8_t shift_ = 0;
    int byte_index_ = 0;  // 0 device address, 1 word address, then data
    bool reading_ = false;
    bool master_ack_ = false;
    std::uint8_t pointer_ = 0;
    std::uint8_t out_byte_ = 0;
    std::vector<std::uint8_t> pending_;  // written at the stop
    std::uint8_t pending_start_ = 0;
};

}  // namespace olva_sim
