#include "sim/sim_tz2501a.h"

#include <algorithm>

namespace olva_sim {

SimTz2501ABox::SimTz2501ABox() : SimBox(UsbLayout{0xFFFF, 0x2501, 0, 0, 0x81, 5, 0}) {}

std::array<std::uint8_t, 256> SimTz2501ABox::eeprom() const
{
    auto held = lock();
    return memory_.memory;
}

void SimTz2501ABox::setEeprom(std::uint8_t addr, const std::vector<std::uint8_t>& bytes)
{
    auto held = lock();
    for (std::size_t i = 0; i < bytes.size(); ++i)
        memory_.memory[static_cast<std::uint8_t>(addr + i)] = bytes[i];
}

void SimTz2501ABox::neverAcknowledge(bool on)
{
    auto held = lock();
    memory_.never_acknowledge = on;
}

std::uint8_t SimTz2501ABox::buzzer() const
{
    auto held = lock();
    return buzzer_;
}

int SimTz2501ABox::pinReports() const
{
    auto held = lock();
    return pin_reports_;
}

int SimTz2501ABox::wordReports() const
{
    auto held = lock();
    return word_reports_;
}

void SimTz2501ABox::onOutputReport(const std::vector<std::uint8_t>& r)
{
    if (r.size() != 5 || r[0] != 0)
        return;
    if (r[1] == 0x80) {
        ++word_reports_;
        const int word = r[4] & 0x3F;
        if ((r[4] & 0xC0) == 0xC0) {
            memory_.memory[static_cast<std::size_t>(2 * word)] = r[2];
            memory_.memory[static_cast<std::size_t>(2 * word + 1)] = r[3];
        } else if ((r[4] & 0xC0) == 0x80) {
            word_answer_ = word;
        }
        return;
    }
    ++pin_reports_;
    buzzer_ = r[1];
    const std::uint8_t levels = r[2];
    const std::uint8_t driven = r[3];
    const bool scl = !(driven & 0x02) || (levels & 0x02);
    const bool sda = !(driven & 0x01) || (levels & 0x01);
    memory_.update(scl, sda);
}

int SimTz2501ABox::onGetReport(std::uint8_t, std::uint8_t* data, int length)
{
    if (word_answer_ >= 0) {
        const std::uint8_t answer[5] = {0, 0xC0, memory_.memory[static_cast<std::size_t>(2 * word_answer_)],
                                        memory_.memory[static_cast<std::size_t>(2 * word_answer_ + 1)], 0};
        word_answer_ = -1;
        const int given = std::min(length, 5);
        std::copy(answer, answer + given, data);
        return given;
    }
    const std::uint8_t answer[5] = {
        0, 0,
        static_cast<std::uint8_t>((memory_.sda() ? 0x01 : 0) | (memory_.scl() ? 0x02 : 0)), 0, 0};
    const int given = std::min(length, 5);
    std::copy(answer, answer + given, data);
    return given;
}

}  // namespace olva_sim
