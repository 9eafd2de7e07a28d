// A box on the register report protocol (Tz2501B, or a Tz2402D): 5-byte
// reports with id 0,
//   [0, 0x60, reg low, reg high, 0x10]   selects a register; the next
//                                        GET_REPORT answers [0, value, 0, 0x30]
//   [0, 0x60, value, 0, 0x20]            writes the selected register
//   [0, 0x60, G1, G2, G3]                sets the pins
// and otherwise answers GET_REPORT with its status [0, status, 0, 0x31].
// The chip's I2C master moves 16-bit words of the memories at device 0x50
// (the codec EEPROM) and 0x52 through registers 0x08..0x0B, 0x100..0x112.
// At 0x52 the chip keeps the user number: written as words 56..63 of the
// lower bank, read as words 0..7 of the upper bank once command 0xE0 has
// shown them (the simulator's reading of one chip: both forms reach the
// same 16 bytes, 112..127). Both setting pairs are taken there.
// Behind the pins sit the Tz2501B's two addressable latches: while a
// latch's strobe (G1 bit 4, G3 bit 0) is low, output G1 & 7 takes G1 bit 3.
#pragma once

#include <array>
#include <map>

#include "sim/sim_backend.h"

namespace olva_sim {

class SimRegisterBox final : public SimBox {
public:
    struct Pins {
        std::uint8_t g1, g2, g3;
        bool operator==(const Pins&) const = default;
    };

    SimRegisterBox();

    std::array<std::uint8_t, 256> memory(std::uint8_t device) const;
    void setMemory(std::uint8_t device, std::uint8_t addr, const std::vector<std::uint8_t>& bytes);
    std::uint8_t reg(std::uint16_t number) const;
    void setReg(std::uint16_t number, std::uint8_t value);
    void setStatus(std::uint8_t status);
    // The whole status report, for reports the poll must drop.
    void setStatusReport(std::array<std::uint8_t, 4> report);
    // Every pin report in order.
    std::vector<Pins> pins() const;
    // Forgets the pin reports seen so far.
    void clearPins();
    int latch1(int output) const;  // -1 while never set
    int latch2(int output) const;
    // Master commands given without the settings of their direction.
    int misconfiguredCommands() const;

protected:
    void onOutputReport(const std::vector<std::uint8_t>& report) override;
    int onGetReport(std::uint8_t report_id, std::uint8_t* data, int length) override;

private:
    void runMasterCommand(std::uint8_t command);

    std::map<std::uint8_t, std::array<std::uint8_t, 256>> memories_;
    std::map<std::uint16_t, std::uint8_t> registers_;
    std::uint16_t selected_ = 0;
    bool answer_pending_ = false;
    std::array<std::uint8_t, 4> status_ = {0, 0, 0, 0x31};
    std::vector<Pins> pins_;
    std::array<int, 8> latch1_;
    std::array<int, 8> latch2_;
    int misconfigured_ = 0;
    bool user_words_shown_ = false;
};

}  // namespace olva_sim
