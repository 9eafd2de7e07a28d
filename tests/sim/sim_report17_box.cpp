#include "sim/sim_report17_box.h"

#include <algorithm>

namespace olva_sim {

SimReport17Box::SimReport17Box() : SimBox(UsbLayout{0xFFFF, 0x0017, 0, 0, 0x81, 17, 0}) {}

std::array<std::uint8_t, 256> SimReport17Box::eeprom() const
{
    auto held = lock();
    return eeprom_;
}

void SimReport17Box::setEeprom(std::uint8_t addr, const std::vector<std::uint8_t>& bytes)
{
    auto held = lock();
    for (std::size_t i = 0; i < bytes.size(); ++i)
        eeprom_[static_cast<std::uint8_t>(addr + i)] = bytes[i];
}

std::uint8_t SimReport17Box::mode() const
{
    auto held = lock();
    return mode_;
}

void SimReport17Box::spoilNextAnswer(std::uint8_t byte2)
{
    auto held = lock();
    spoil_ = byte2;
}

void SimReport17Box::spoilReadAt(std::uint8_t addr)
{
    auto held = lock();
    spoil_at_ = addr;
}

int SimReport17Box::micGain() const
{
    auto held = lock();
    return mic_gain_;
}

std::vector<std::uint8_t> SimReport17Box::otherCommands() const
{
    auto held = lock();
    return other_commands_;
}

void SimReport17Box::onOutputReport(const std::vector<std::uint8_t>& r)
{
    if (r.size() != 17 || r[0] != 0)
        return;
    switch (r[1]) {
    case 0x01:
        mode_ = r[3];
        break;
    case 0x40: {
        const std::uint8_t device = r[3];
        const std::uint8_t addr = r[4];
        if (device == 0xA0 && r[15] == 0x80 && r[14] == 1) {
            eeprom_[addr] = r[6];
        } else if (device == 0xA1 && r[15] == 0x82) {
            if (addr == spoil_at_) {
                spoil_at_ = -1;
                spoil_ = 0;
            }
            last_count_ = std::min<std::uint8_t>(r[14], 13);
            for (int i = 0; i < last_count_; ++i)
                last_read_[static_cast<std::size_t>(i)] = eeprom_[static_cast<std::uint8_t>(addr + i)];
        }
        break;
    }
    case 0x28:
        if (r[2] == 2 && r[3] == r[4])
            mic_gain_ = r[3];
        other_commands_.push_back(r[1]);
        break;
    case 0x05:
        break;
    default:
        other_commands_.push_back(r[1]);
        break;
    }
}

int SimReport17Box::onGetReport(std::uint8_t, std::uint8_t* data, int length)
{
    std::array<std::uint8_t, 17> answer{};
    if (mode_ == 0x43) {
        answer[1] = 0x40;
        answer[2] = 0x43;
        answer[3] = last_count_;
        std::copy(last_read_.begin(), last_read_.end(), answer.begin() + 4);
        if (spoil_ >= 0) {
            answer[2] = static_cast<std::uint8_t>(spoil_);
            spoil_ = -1;
        }
    } else if (mode_ == 0x28) {
        answer[1] = 0x28;
        answer[2] = static_cast<std::uint8_t>(mic_gain_ < 0 ? 0 : mic_gain_);
        answer[3] = answer[2];
    } else {
        answer[1] = 0x01;
        answer[2] = mode_;
    }
    const int given = std::min(length, 17);
    std::copy(answer.begin(), answer.begin() + given, data);
    return given;
}

}  // namespace olva_sim
