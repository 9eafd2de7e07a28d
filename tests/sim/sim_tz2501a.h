// A Tz2501A: 5-byte pin reports [0, buzzer, G1, G2, 0] (SDA bit 0, SCL
// bit 1; G2 says which pins the host drives) to a 24C02, and GET_REPORT
// answers [0, 0, pins, 0, 0] with the lines as they stand. The word
// reports [0, 0x80, low, high, 0x80 + word] (read: the next GET_REPORT
// answers [0, 0xC0, low, high, 0]) and [0, 0x80, low, high, 0xC0 + word]
// (write) reach the same memory a word at a time.
#pragma once

#include "sim/sim_backend.h"
#include "sim/sim_i2c_memory.h"

namespace olva_sim {

class SimTz2501ABox final : public SimBox {
public:
    SimTz2501ABox();

    std::array<std::uint8_t, 256> eeprom() const;
    void setEeprom(std::uint8_t addr, const std::vector<std::uint8_t>& bytes);
    void neverAcknowledge(bool on);
    std::uint8_t buzzer() const;
    int pinReports() const;
    int wordReports() const;

protected:
    void onOutputReport(const std::vector<std::uint8_t>& report) override;
    int onGetReport(std::uint8_t report_id, std::uint8_t* data, int length) override;

private:
    SimI2cMemory memory_;
    std::uint8_t buzzer_ = 0;
    int pin_reports_ = 0;
    int word_reports_ = 0;
    int word_answer_ = -1;  // the word the next GET_REPORT answers with
};

}  // namespace olva_sim
