// A box on the 17-byte report protocol [0, cmd, len, data...]: command 0x01
// switches what GET_REPORT answers (0x00 status, 0x43 the last I2C read
// [0, 0x40, 0x43, count, data (13 bytes)]), 0x05 sets the pins, 0x40 runs
// one transaction on the 24C02 behind the box. Mode 0x28 answers the codec
// state [0, 0x28, gain, gain, 0...]; command 0x28 [gain, gain] sets the
// microphone gain of its cm6308 codec.
#pragma once

#include <array>

#include "sim/sim_backend.h"

namespace olva_sim {

class SimReport17Box final : public SimBox {
public:
    SimReport17Box();

    std::array<std::uint8_t, 256> eeprom() const;
    void setEeprom(std::uint8_t addr, const std::vector<std::uint8_t>& bytes);
    std::uint8_t mode() const;
    // The next EEPROM answer carries this in byte 2 instead of 0x43.
    void spoilNextAnswer(std::uint8_t byte2);
    // The answer to the next read starting at addr is spoiled.
    void spoilReadAt(std::uint8_t addr);
    // The codec's microphone gain, -1 while never set.
    int micGain() const;
    // The commands other than mode, GPIO and I2C, in order.
    std::vector<std::uint8_t> otherCommands() const;

protected:
    void onOutputReport(const std::vector<std::uint8_t>& report) override;
    int onGetReport(std::uint8_t report_id, std::uint8_t* data, int length) override;

private:
    std::array<std::uint8_t, 256> eeprom_{};
    std::uint8_t mode_ = 0x00;
    std::array<std::uint8_t, 13> last_read_{};
    std::uint8_t last_count_ = 0;
    int spoil_ = -1;
    int spoil_at_ = -1;
    int mic_gain_ = -1;
    std::vector<std::uint8_t> other_commands_;
};

}  // namespace olva_sim
