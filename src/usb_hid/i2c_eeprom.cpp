// The boxes' serial EEPROMs (24C02 at I2C address 0xA0/0xA1), one path per
// family: Tz2401 EEPROM commands, the 17-byte I2C transaction, the Tz2501A's
// bit-banged bus (i2c_bitbang.cpp) and the I2C master of the USB chip.
#include <cstdio>
#include <cstring>

#include "base/platform/sleeper.h"
#include "usb_hid/hid_device.h"
#include "usb_hid/tz2401_report.h"
#include "usb_hid/usb_chip_master.h"

namespace {

constexpr std::uint8_t kMemoryWrite = 0xA0;
constexpr std::uint8_t kMemoryRead = 0xA1;

// Tz2401B: one EEPROM command moves at most 8 bytes.
constexpr int kTz2401PieceMax = 8;

// 17-byte boxes: a transaction block and the box's answer
//   [0, -, 0x43, -, data (13 bytes)]
constexpr std::uint8_t kModeCommand = 0x01;
constexpr std::uint8_t kStatusMode = 0x00;
constexpr std::uint8_t kEepromMode = 0x43;
constexpr std::uint8_t kTransactionCommand = 0x40;
constexpr int kTransactionBlockSize = 14;
constexpr unsigned long kAnswerSize = 17;
constexpr int kAnswerDataOffset = 4;
constexpr int kAnswerDataMax = 13;
// The memory needs this long for a byte written or a transaction run.
constexpr int kTransactionPauseMs = 100;

using namespace usb_chip;

constexpr std::uint8_t kMemory24C02 = 0x50;
// One word takes the master this long.
constexpr int kWordPauseMs = 30;

constexpr RegisterValue kMasterWriteSetup[] = {
    {kMasterEnable, 0x01}, {kMasterDevice, kMemory24C02}, {kMasterSetting1, 0x10},
    {kMasterSetting2, 0x00}, {kMasterBank, kLowerBank}};
constexpr RegisterValue kMasterReadSetup[] = {
    {kMasterEnable, 0x01}, {kMasterDevice, kMemory24C02}, {kMasterSetting1, 0x2E},
    {kMasterSetting2, 0x03}, {kMasterBank, kLowerBank}};

void transaction_block(std::uint8_t block[kTransactionBlockSize], bool read, std::uint8_t addr,
                       std::uint8_t byte_or_count)
{
    std::memset(block, 0, kTransactionBlockSize);
    block[0] = read ? kMemoryRead : kMemoryWrite;
    block[1] = addr;
    block[3] = read ? 0 : byte_or_count;
    block[11] = read ? byte_or_count : 1;
    block[12] = read ? 0x82 : 0x80;
    block[13] = 0x01;
}

}  // namespace

int HidDevice::eeprom_write(std::uint8_t addr, const std::uint8_t* data, int len)
{
    if (!data)
        return -1;
    const Eeprom eeprom = model_traits(model_.load()).eeprom;
    if (eeprom == Eeprom::kTz2401Commands) {
        if (len < 1 || len > kTz2401PieceMax)
            return -1;
        const auto count = static_cast<std::uint8_t>(len);
        using namespace tz2401;
        std::uint8_t first[kReportSize] = {kReportId, kEepromWriteFirst, 0, 0, 0, 0, addr, count};
        std::memcpy(first + 2, data, static_cast<std::size_t>(len < 4 ? len : 4));
        std::uint8_t second[kReportSize] = {kReportId, kEepromWriteSecond, first[2], first[3],
                                            first[4],  first[5],           addr,     count};
        if (len > 4) {
            std::memset(second + 2, 0, 4);
            std::memcpy(second + 2, data + 4, static_cast<std::size_t>(len - 4));
        }
        CommandLock lock(*this);
        const bool first_sent = Tz2401_sync_write(first, sizeof first);
        const bool second_sent = Tz2401_sync_write(second, sizeof second);
        return first_sent && second_sent ? 0 : -1;
    }
    if (eeprom == Eeprom::kI2cPins) {
        if (closing_.load())
            return -1;
        if (!I2CSend_bytes(addr, data, static_cast<unsigned long>(len < 0 ? 0 : len))) {
            std::printf("%s  write failed! \n\n", tag().c_str());
            return -1;
        }
        return 0;
    }
    for (int i = 0; i < len; ++i) {
        std::uint8_t block[kTransactionBlockSize];
        transaction_block(block, false, static_cast<std::uint8_t>(addr + i), data[i]);
        const bool sent = write_cmd(kTransactionCommand, block, kTransactionBlockSize);
        platform::sleeper().sleepMs(kTransactionPauseMs);
        if (!sent)
            return -1;
    }
    return 0;
}

bool HidDevice::eeprom_read(std::uint8_t addr, std::uint8_t* out, int len)
{
    if (!out || len < 1)
        return false;
    if (unplugged_.load() || closing_.load())
        return false;
    const Eeprom eeprom = model_traits(model_.load()).eeprom;
    if (eeprom == Eeprom::kTz2401Commands) {
        if (len > kTz2401PieceMax)
            return false;
        std::uint8_t piece[kTz2401PieceMax] = {};
        bool read = read_paramex(piece, tz2401::kReportId, tz2401::kEepromReadFirst, addr,
                                 static_cast<std::uint8_t>(len));
        if (read && len > 4)
            read = read_paramex(piece + 4, tz2401::kReportId, tz2401::kEepromReadSecond, 0, 0);
        if (!read || unplugged_.load() || closing_.load())
            return false;
        std::memcpy(out, piece, static_cast<std::size_t>(len));
        return true;
    }
    if (eeprom == Eeprom::kI2cPins)
        return I2CRecv_seqbytes(addr, out, static_cast<unsigned long>(len));
    if (version2_.load() >= 0x70)
        return false;

    if (len > kAnswerDataMax) {
        hid_log(1, "%s %d bytes asked, one answer holds %d", __func__, len, kAnswerDataMax);
        return false;
    }
    const std::uint8_t eeprom_mode = kEepromMode;
    const bool mode_set = write_cmd(kModeCommand, &eeprom_mode, 1);
    std::uint8_t block[kTransactionBlockSize];
    transaction_block(block, true, addr, static_cast<std::uint8_t>(len));
    const bool asked = write_cmd(kTransactionCommand, block, kTransactionBlockSize);
    platform::sleeper().sleepMs(kTransactionPauseMs);
    std::uint8_t answer[kAnswerSize] = {};
    // Without the mode and the transaction the answer is not this read's.
    const bool read = mode_set && asked && sync_read(answer, kAnswerSize) && answer[2] == kEepromMode;
    if (read)
        std::memcpy(out, answer + kAnswerDataOffset, static_cast<std::size_t>(len));
    platform::sleeper().sleepMs(kTransactionPauseMs);
    const std::uint8_t status_mode = kStatusMode;
    write_cmd(kModeCommand, &status_mode, 1);
    return read;
}

void HidDevice::restore_pins_after_register_work()
{
    if (has_tz2501b_latches()) {
        Tz2501B_Restore_read_gpioaddr();
    } else {
        Tz2402D_Restore_read_gpioaddr();
        Tz2402D_GPIO_init(1);
    }
}

bool HidDevice::Tz2402D_Read_2402(std::uint8_t addr, std::uint8_t* out, int len)
{
    if (!out || len < 1)
        return false;
    const bool upper = addr >= kBankSize;
    const int offset = upper ? addr - kBankSize : addr;
    // A word index of 64 or more would turn the read command into a write.
    if (offset + len > kBankSize) {
        hid_log(1, "%s addr:0x%x len:%d runs past the bank", __func__, addr, len);
        return false;
    }
    std::lock_guard<std::recursive_mutex> pins(pins_mutex_);
    const bool tz2501b = has_tz2501b_latches();
    if (!tz2501b)
        Tz2402D_GPIO_init(0);
    bool ok = true;
    for (const RegisterValue& setting : kMasterReadSetup)
        ok = Tz2402D_Reg_Setting(setting.reg, setting.value) && ok;
    ok = Tz2402D_Reg_Setting(kMasterBank, upper ? kUpperBank : kLowerBank) && ok;

    // Whole words: an odd start or end reads the neighbouring byte too,
    // which is not stored.
    for (int word = offset / 2; word < (offset + len + 1) / 2; ++word) {
        ok = Tz2402D_Reg_Setting(kMasterCommand, static_cast<std::uint8_t>(kReadWord + word)) && ok;
        platform::sleeper().sleepMs(kWordPauseMs);
        for (int half = 0; half < 2; ++half) {
            std::uint8_t value = 0;
            const bool got = Tz2402D_Reg_Read(half ? kMasterHigh : kMasterLow, value);
            ok = got && ok;
            const int byte = 2 * word + half;
            if (got && byte >= offset && byte < offset + len)
                out[byte - offset] = value;
        }
    }
    restore_pins_after_register_work();
    return ok;
}

bool HidDevice::Tz2402D_Write_2402(std::uint8_t addr, const std::uint8_t* data, int len)
{
    if (!data || len < 1)
        return false;
    // Writes reach the lower bank only; word 64 would wrap the write command.
    if (addr + len > kBankSize) {
        hid_log(1, "%s addr:0x%x len:%d runs past the bank", __func__, addr, len);
        return false;
    }
    std::lock_guard<std::recursive_mutex> pins(pins_mutex_);
    const int start = addr & ~1;
    const int end = (addr + len + 1) & ~1;
    std::uint8_t bytes[kBankSize] = {};
    // The memory moves whole words: the neighbour of an odd edge keeps its
    // content.
    if ((addr & 1) && !Tz2402D_Read_2402(static_cast<std::uint8_t>(start), bytes + start, 2)) {
        hid_log(1, "%s cannot read the word at 0x%x", __func__, start);
        return false;
    }
    if (((addr + len) & 1) &&
        !Tz2402D_Read_2402(static_cast<std::uint8_t>(end - 2), bytes + end - 2, 2)) {
        hid_log(1, "%s cannot read the word at 0x%x", __func__, end - 2);
        return false;
    }
    std::memcpy(bytes + addr, data, static_cast<std::size_t>(len));

    const bool tz2501b = has_tz2501b_latches();
    if (!tz2501b)
        Tz2402D_GPIO_init(0);
    bool ok = true;
    for (const RegisterValue& setting : kMasterWriteSetup)
        ok = Tz2402D_Reg_Setting(setting.reg, setting.value) && ok;
    for (int word = start / 2; word < end / 2; ++word) {
        ok = Tz2402D_Reg_Setting(kMasterLow, bytes[2 * word]) && ok;
        ok = Tz2402D_Reg_Setting(kMasterHigh, bytes[2 * word + 1]) && ok;
        ok = Tz2402D_Reg_Setting(kMasterCommand, static_cast<std::uint8_t>(kWriteWord + word)) && ok;
        platform::sleeper().sleepMs(kWordPauseMs);
    }
    restore_pins_after_register_work();
    return ok;
}
