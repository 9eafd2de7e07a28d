// The box's user number as the transport reaches it: the Tz2701A's three
// guarded copies in its controller memory (device 0 at 0x80, 0x94, 0xA8,
// each [number (16), check, 0, 0, 0]), the 16 bytes behind the USB chip of
// the Tz2402D and Tz2501B (I2C device 0x52, no check byte), and the area
// that keeps the number a box read at open.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/platform/sleeper.h"
#include "usb_hid/hid_device.h"
#include "usb_hid/hid_reports.h"
#include "usb_hid/usb_chip_master.h"

namespace {

using namespace usb_chip;

constexpr int kCopies = 3;
constexpr int kCopyBase = 0x80;
constexpr int kCopySize = 20;
constexpr int kCheckedSize = 17;  // the number and its check byte
constexpr int kPieceSize = 4;
constexpr int kPieces = kCopySize / kPieceSize;

constexpr std::uint8_t kUserMemory = 0x52;
// Maps the user words for reading; they then answer as words 0..7 of the
// upper bank.
constexpr std::uint8_t kShowUserWords = 0xE0;
constexpr int kFirstUserWord = 56;  // as written: words 56..63 of the lower bank
constexpr int kUserWords = 8;
constexpr int kUserWordPauseMs = 20;

constexpr RegisterValue kReadUserSetup[] = {{kMasterEnable, 0x01},    {kMasterDevice, kUserMemory},
                                            {kMasterSetting1, 0x2E}, {kMasterSetting2, 0x03},
                                            {kMasterCommand, kShowUserWords}};
constexpr RegisterValue kWriteUserSetup[] = {{kMasterEnable, 0x01},    {kMasterDevice, kUserMemory},
                                             {kMasterSetting1, 0x2E}, {kMasterSetting2, 0x03},
                                             {kMasterBank, kLowerBank}};

}  // namespace

void HidDevice::store_user_number(const std::uint8_t* bytes, int len)
{
    std::lock_guard<std::mutex> lock(user_mutex_);
    std::memset(user_area_, 0, sizeof user_area_);
    std::memcpy(user_area_, bytes, static_cast<std::size_t>(std::clamp(len, 0, kUserAreaSize)));
    user_valid_ = true;
}

void HidDevice::clear_user_number()
{
    std::lock_guard<std::mutex> lock(user_mutex_);
    std::memset(user_area_, 0, sizeof user_area_);
    user_valid_ = false;
}

bool HidDevice::user_number_valid() const
{
    std::lock_guard<std::mutex> lock(user_mutex_);
    return user_valid_;
}

bool HidDevice::read_user_area(unsigned addr, std::uint8_t* out, int len) const
{
    if (!out || len < 1 || addr > static_cast<unsigned>(kUserAreaSize) ||
        static_cast<unsigned>(len) > kUserAreaSize - addr)
        return false;
    std::lock_guard<std::mutex> lock(user_mutex_);
    // Without a number that passed its check the area holds nothing to give.
    if (!user_valid_)
        return false;
    std::memcpy(out, user_area_ + addr, static_cast<std::size_t>(len));
    return true;
}

bool HidDevice::Tz2701_read_user()
{
    // Cleared first: a read that fails leaves no earlier number behind.
    clear_user_number();
    for (int n = 0; n < kCopies; ++n) {
        const int base = kCopyBase + kCopySize * n;
        std::uint8_t copy[kCopySize] = {};
        bool whole = true;
        for (int i = 0; i < kPieces && whole; ++i) {
            if (!Tz2701_read_eeprom(0, static_cast<std::uint8_t>(base + kPieceSize * i),
                                    copy + kPieceSize * i, kPieceSize)) {
                hid_log(1, "%sread error at [%d,%d]", __func__, n, i);
                whole = false;
            }
        }
        // A copy read in part is skipped: its unread zeros would pass the check.
        if (!whole)
            continue;
        const std::uint8_t sum = user_number_sum(copy, kCheckedSize);
        if (sum == 0) {
            hid_log(4, "%sread user number: %s", __func__,
                    hid_hex_bytes(copy, kUserNumberSize).c_str());
            store_user_number(copy, kUserNumberSize);
            return true;
        }
        hid_log(1, "%sget number(%d), check num is error, check%d", __func__, n, sum);
    }
    return false;
}

bool HidDevice::Tz2701_read_user_on_worker()
{
    return report_worker_.post_task([this] { Tz2701_read_user(); });
}

bool HidDevice::Tz2701_write_user(const std::uint8_t* data, int len)
{
    if (!data || len < 0 || len > kUserNumberSize)
        return false;
    // The number kept from the last read is no longer what the box holds.
    clear_user_number();
    std::uint8_t copy[kCopySize] = {};
    std::memcpy(copy, data, static_cast<std::size_t>(len));
    const std::uint8_t sum = user_number_sum(copy, kUserNumberSize);
    copy[kUserNumberSize] = static_cast<std::uint8_t>(0x100 - sum);
    hid_log(4, "%s check:0x%x ,0x%x", __func__, copy[kUserNumberSize], sum);
    bool one_whole = false;
    for (int n = 0; n < kCopies; ++n) {
        const int base = kCopyBase + kCopySize * n;
        bool whole = true;
        for (int i = 0; i < kPieces; ++i) {
            if (!Tz2701_write_eeprom(0, static_cast<std::uint8_t>(base + kPieceSize * i),
                                     copy + kPieceSize * i, kPieceSize)) {
                hid_log(1, "%swrite error at [%d,%d]", __func__, n, i);
                whole = false;
            }
        }
        one_whole = one_whole || whole;
    }
    return one_whole;
}

bool HidDevice::Tz2402D_ReadUser(std::uint8_t* out)
{
    if (!out)
        return false;
    std::lock_guard<std::recursive_mutex> pins(pins_mutex_);
    bool ok = true;
    for (const RegisterValue& setting : kReadUserSetup)
        ok = Tz2402D_Reg_Setting(setting.reg, setting.value) && ok;
    platform::sleeper().sleepMs(kUserWordPauseMs);
    ok = Tz2402D_Reg_Setting(kMasterBank, kUpperBank) && ok;
    for (int k = 0; k < kUserWords; ++k) {
        ok = Tz2402D_Reg_Setting(kMasterCommand, static_cast<std::uint8_t>(kReadWord + k)) && ok;
        platform::sleeper().sleepMs(kUserWordPauseMs);
        ok = Tz2402D_Reg_Read(kMasterLow, out[2 * k]) && ok;
        ok = Tz2402D_Reg_Read(kMasterHigh, out[2 * k + 1]) && ok;
    }
    if (has_tz2501b_latches())
        Tz2501B_Restore_read_gpioaddr();
    else
        Tz2402D_Restore_read_gpioaddr();
    std::string text;
    char item[8];
    for (int i = 0; i < kUserNumberSize; ++i) {
        std::snprintf(item, sizeof item, ": 0x%02x", out[i]);
        text += item;
    }
    hid_log(4, "%s read user:%s ", __func__, text.c_str());
    return ok;
}

bool HidDevice::Tz2402D_WriteUser(const std::uint8_t* data)
{
    if (!data)
        return false;
    std::lock_guard<std::recursive_mutex> pins(pins_mutex_);
    // Every register counts: a word whose data did not arrive is stored wrong.
    bool ok = true;
    for (const RegisterValue& setting : kWriteUserSetup)
        ok = Tz2402D_Reg_Setting(setting.reg, setting.value) && ok;
    for (int k = 0; k < kUserWords; ++k) {
        ok = Tz2402D_Reg_Setting(kMasterLow, data[2 * k]) && ok;
        ok = Tz2402D_Reg_Setting(kMasterHigh, data[2 * k + 1]) && ok;
        ok = Tz2402D_Reg_Setting(kMasterCommand,
                                 static_cast<std::uint8_t>(kWriteWord + kFirstUserWord + k)) &&
             ok;
        platform::sleeper().sleepMs(kUserWordPauseMs);
    }
    if (has_tz2501b_latches())
        Tz2501B_Restore_read_gpioaddr();
    else
        Tz2402D_Restore_read_gpioaddr();
    return ok;
}
