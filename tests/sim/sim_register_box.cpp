#include "sim/sim_register_box.h"

namespace olva_sim {

namespace {

constexpr std::uint8_t kSelect = 0x10;
constexpr std::uint8_t kWrite = 0x20;

}  // namespace

SimRegisterBox::SimRegisterBox() : SimBox(UsbLayout{0x0C76, 0x362F, 2, 2, 0x83, 4, 0})
{
    latch1_.fill(-1);
    latch2_.fill(-1);
    memories_[0x50].fill(0xFF);
    memories_[0x52].fill(0xFF);
}

std::array<std::uint8_t, 256> SimRegisterBox::memory(std::uint8_t device) const
{
    auto held = lock();
    auto found = memories_.find(device);
    return found == memories_.end() ? std::array<std::uint8_t, 256>{} : found->second;
}

void SimRegisterBox::setMemory(std::uint8_t device, std::uint8_t addr,
                               const std::vector<std::uint8_t>& bytes)
{
    auto held = lock();
    auto& memory = memories_[device];
    for (std::size_t i = 0; i < bytes.size(); ++i)
        memory[static_cast<std::uint8_t>(addr + i)] = bytes[i];
}

std::uint8_t SimRegisterBox::reg(std::uint16_t number) const
{
    auto held = lock();
    auto found = registers_.find(number);
    return found == registers_.end() ? 0 : found->second;
}

void SimRegisterBox::setReg(std::uint16_t number, std::uint8_t value)
{
    auto held = lock();
    registers_[number] = value;
}

void SimRegisterBox::setStatus(std::uint8_t status)
{
    auto held = lock();
    status_ = {0, status, 0, 0x31};
}

void SimRegisterBox::setStatusReport(std::array<std::uint8_t, 4> report)
{
    auto held = lock();
    status_ = report;
}

std::vector<SimRegisterBox::Pins> SimRegisterBox::pins() const
{
    auto held = lock();
    return pins_;
}

void SimRegisterBox::clearPins()
{
    auto held = lock();
    pins_.clear();
    pins_.shrink_to_fit();
}

int SimRegisterBox::latch1(int output) const
{
    auto held = lock();
    return latch1_.at(static_cast<std::size_t>(output));
}

int SimRegisterBox::latch2(int output) const
{
    auto held = lock();
    return latch2_.at(static_cast<std::size_t>(output));
}

int SimRegisterBox::misconfiguredCommands() const
{
    auto held = lock();
    return misconfigured_;
}

void SimRegisterBox::onOutputReport(const std::vector<std::uint8_t>& r)
{
    if (r.size() != 5 || r[0] != 0 || r[1] != 0x60)
        return;
    if (r[4] == kSelect) {
        selected_ = static_cast<std::uint16_t>(r[2] | (r[3] << 8));
        answer_pending_ = true;
        return;
    }
    if (r[4] == kWrite) {
        registers_[selected_] = r[2];
        if (selected_ == 0x110)
            user_words_shown_ = false;
        if (selected_ == 0x0B)
            runMasterCommand(r[2]);
        return;
    }
    const Pins pins{r[2], r[3], r[4]};
    pins_.push_back(pins);
    const int output = pins.g1 & 7;
    const int level = (pins.g1 >> 3) & 1;
    if (!(pins.g1 & 0x10))
        latch1_[static_cast<std::size_t>(output)] = level;
    if (!(pins.g3 & 0x01))
        latch2_[static_cast<std::size_t>(output)] = level;
}

void SimRegisterBox::runMasterCommand(std::uint8_t command)
{
    const bool write = (command & 0xC0) == 0xC0;
    const bool read = (command & 0xC0) == 0x80;
    const std::uint8_t setting1 = registers_[0x111];
    const std::uint8_t setting2 = registers_[0x112];
    const bool write_settings = setting1 == 0x10 && setting2 == 0x00;
    const bool read_settings = setting1 == 0x2E && setting2 == 0x03;
    const bool user_memory = registers_[0x110] == 0x52;
    if (user_memory && command == 0xE0 && read_settings && registers_[0x100] == 0x01) {
        user_words_shown_ = true;
        return;
    }
    const bool configured =
        registers_[0x100] == 0x01 &&
        ((user_memory && (write_settings || read_settings)) || (write && write_settings) ||
         (read && read_settings));
    auto memory = memories_.find(registers_[0x110]);
    if (!configured || memory == memories_.end()) {
        ++misconfigured_;
        return;
    }
    const int bank = registers_[0x08] == 0x41 ? 128 : (registers_[0x08] == 0x40 ? 0 : -1);
    if (bank < 0) {
        ++misconfigured_;
        return;
    }
    std::size_t byte = static_cast<std::size_t>(bank + 2 * (command & 0x3F));
    if (user_memory && read && bank == 128 && user_words_shown_ && (command & 0x3F) < 8)
        byte = 112 + 2 * static_cast<std::size_t>(command & 0x3F);
    if (write) {
        memory->second[byte] = registers_[0x09];
        memory->second[byte + 1] = registers_[0x0A];
    } else {
        registers_[0x09] = memory->second[byte];
        registers_[0x0A] = memory->second[byte + 1];
    }
}

int SimRegisterBox::onGetReport(std::uint8_t, std::uint8_t* data, int length)
{
    std::array<std::uint8_t, 4> answer = status_;
    if (answer_pending_) {
        answer_pending_ = false;
        answer[1] = registers_[selected_];
        answer[3] = 0x30;
    }
    const int given = length < 4 ? length : 4;
    std::copy(answer.begin(), answer.begin() + given, data);
    return given;
}

}  // namespace olva_sim
