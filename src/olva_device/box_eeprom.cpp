// The box's memory as the library offers it: a byte read, a byte write and
// the user number, each carried out by the model's own path, and the
// Tz2401B's user number read once at open.
//
// Boxes that keep the user number in their byte-addressed EEPROM hold a
// primary copy and two backups of [number (16), check], the 17 bytes adding
// up to 0 modulo 256:
//   16..17   marker FB EB: the copies carry check bytes (not on the Tz2401B)
//   18..34   first backup
//   35..51   second backup
//   96..112  primary on the Tz2401B and the Tz2501A, 111..127 on the others
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/logger.h"
#include "olva_device/olva_device.h"
#include "usb_hid/hid_reports.h"

namespace {

constexpr int kCheckedSize = 17;
constexpr int kNumberSize = HidDevice::kUserNumberSize;
constexpr int kByteReadPiece = 8;
constexpr int kTz2701Piece = 4;
// The Tz2701A's box address splits into a device number and an offset by
// 255, as the boxes in the field were written.
constexpr unsigned kTz2701DeviceSpan = 255;
constexpr int kTz2701EraseUnitShift = 9;
// The user window of the Tz2402D and Tz2501B: the 24C02's bytes 76..84,
// which the Tz2501B's configuration check at open leaves alone.
constexpr unsigned kWindowFirst = 102;
constexpr unsigned kWindowLast = 110;
constexpr unsigned kWindowToMemory = 26;

constexpr std::uint8_t kMarker[2] = {0xFB, 0xEB};
constexpr unsigned kMarkerAddress = 16;
constexpr unsigned kFirstBackup = 18;
constexpr unsigned kSecondBackup = 35;

bool checks(const std::uint8_t copy[kCheckedSize])
{
    return user_number_sum(copy, kCheckedSize) == 0;
}

}  // namespace

bool OlvaDevice::on_usb_chip_memory() const
{
    const Eeprom eeprom = model_traits(model()).eeprom;
    return eeprom == Eeprom::kUsbChip ||
           (eeprom == Eeprom::kUsbChipFrom0x70 && version2() >= 0x70);
}

int OlvaDevice::olva_read_eepromEx(unsigned addr, std::uint8_t* out, int len)
{
    if (!out || len < 1)
        return -1;
    const Eeprom eeprom = model_traits(model()).eeprom;
    // Read into a copy first: a read that fails leaves the caller's bytes.
    std::string bytes(static_cast<std::size_t>(len), '\0');
    auto* scratch = reinterpret_cast<std::uint8_t*>(bytes.data());
    bool read = true;
    if (eeprom == Eeprom::kTz2401Commands) {
        // Its EEPROM answers only while the box is opened; later reads are
        // served from the copy read then.
        read = read_user_area(addr, scratch, len);
    } else if (eeprom == Eeprom::kGsmBridge) {
        for (int o = 0; o < len && read; o += kTz2701Piece)
            read = Tz2701_read_eeprom(static_cast<std::uint8_t>(addr / kTz2701DeviceSpan),
                                      static_cast<std::uint8_t>(addr % kTz2701DeviceSpan + o),
                                      scratch + o, std::min(kTz2701Piece, len - o)) == 1;
    } else if (on_usb_chip_memory()) {
        if (addr < kWindowFirst || addr > kWindowLast || addr + len - 1 > kWindowLast) {
            BOX_LOG(1, "%s read  eeprom addr:%d is error", addr);
            return -1;
        }
        read = Tz2402D_Read_2402(static_cast<std::uint8_t>(addr - kWindowToMemory), scratch, len);
    } else {
        // Every piece is read, even after one failed.
        for (int o = 0; o < len; o += kByteReadPiece)
            read = eeprom_read(static_cast<std::uint8_t>(addr + o), scratch + o,
                               std::min(kByteReadPiece, len - o)) &&
                   read;
    }
    if (!read)
        return -1;
    std::memcpy(out, scratch, static_cast<std::size_t>(len));
    return 0;
}

int OlvaDevice::olva_write_eeprom(unsigned addr, const std::uint8_t* data, int len)
{
    if (!data || len < 1)
        return -1;
    if (on_usb_chip_memory()) {
        // A write past the window would change the codec's configuration.
        if (addr < kWindowFirst || addr > kWindowLast || addr + len - 1 > kWindowLast) {
            BOX_LOG(1, "%s write  eeprom addr:%d is error", addr);
            return -1;
        }
        const unsigned memory = addr - kWindowToMemory;
        char where[16];
        std::snprintf(where, sizeof where, "  addr=%02x", memory);
        BOX_LOG(4, "%s%s", (hid_spaced_hex(data, static_cast<std::size_t>(len)) + where).c_str());
        if (!Tz2402D_Write_2402(static_cast<std::uint8_t>(memory), data, len)) {
            BOX_LOG(1, "%s write  eeprom error");
            return -1;
        }
        return 0;
    }
    bool written = true;
    if (model_traits(model()).eeprom == Eeprom::kGsmBridge) {
        Tz2701_erase_eeprom(static_cast<std::uint8_t>(addr >> kTz2701EraseUnitShift));
        for (int o = 0; o < len; o += kTz2701Piece)
            written = Tz2701_write_eeprom(static_cast<std::uint8_t>(addr / kTz2701DeviceSpan),
                                          static_cast<std::uint8_t>(addr % kTz2701DeviceSpan + o),
                                          data + o, std::min(kTz2701Piece, len - o)) &&
                      written;
    } else {
        for (int o = 0; o < len; o += kByteReadPiece)
            written = eeprom_write(static_cast<std::uint8_t>(addr + o), data + o,
                                   std::min(kByteReadPiece, len - o)) == 0 &&
                      written;
    }
    // Success only when every piece arrived: a part written is a failure.
    return written ? 0 : -1;
}

int OlvaDevice::olva_get_usernum(std::uint8_t* out, int len)
{
    if (!out || len < 1 || len > kCheckedSize)
        return -1;
    const UserNumber kept = model_traits(model()).user_number;
    if (on_usb_chip_memory() || kept == UserNumber::kUsbChip) {
        std::uint8_t number[kNumberSize] = {};
        if (!Tz2402D_ReadUser(number))
            return -1;
        std::memcpy(out, number, static_cast<std::size_t>(std::min(len, kNumberSize)));
        return 0;
    }
    if (kept == UserNumber::kUserArea) {
        BOX_LOG(4, "%sget usernumber flag:%d ", user_number_valid() ? 1 : 0);
        return read_user_area(0, out, std::min(len, kNumberSize)) ? 0 : -1;
    }
    return read_eeprom_user_number(out, len);
}

int OlvaDevice::read_eeprom_user_number(std::uint8_t* out, int len)
{
    std::uint8_t marker[2] = {};
    if (const int result = olva_read_eepromEx(kMarkerAddress, marker, 2); result != 0) {
        BOX_LOG(1, "%s read usernum version failed,ret:%d", result);
        return result;
    }
    const unsigned primary = model_traits(model()).user_number_primary;
    std::uint8_t copy[kCheckedSize] = {};
    const int first = olva_read_eepromEx(primary, copy, 8);
    const int second = olva_read_eepromEx(primary + 8, copy + 8, kCheckedSize - 8);
    // A copy read in part is no copy: its unread zeros would pass the check.
    const bool primary_read = first == 0 && second == 0;
    if (std::memcmp(marker, kMarker, sizeof kMarker) != 0) {
        if (!primary_read) {
            BOX_LOG(1, "%sread third usernum  failed,ret:%d", first != 0 ? first : second);
            return -1;
        }
        BOX_LOG(4, "%switch no check num usernum");
        std::memcpy(out, copy, static_cast<std::size_t>(len));
        return 0;
    }
    BOX_LOG(4, "%swith check num usernum");
    if (primary_read && checks(copy)) {
        std::memcpy(out, copy, static_cast<std::size_t>(len));
        return 0;
    }
    if (primary_read)
        BOX_LOG(1, "%sget check num is error");
    else
        BOX_LOG(1, "%sread third usernum  failed,ret:%d", first != 0 ? first : second);

    struct Backup {
        unsigned address;
        const char* read_failed;
        const char* check_failed;
    };
    constexpr Backup kBackups[] = {
        {kFirstBackup, "%sread  usernum  failed,ret:%d", "%sget first check num is error"},
        {kSecondBackup, "%sread sec usernum  failed,ret:%d", "%sget sec check num is error"},
    };
    for (const Backup& backup : kBackups) {
        const int result = olva_read_eepromEx(backup.address, copy, kCheckedSize);
        if (result != 0) {
            BOX_LOG(1, backup.read_failed, result);
            continue;
        }
        if (checks(copy)) {
            // The primary is left as it is: the box is not written here.
            std::memcpy(out, copy, static_cast<std::size_t>(len));
            return 0;
        }
        BOX_LOG(1, backup.check_failed);
    }
    return OLVA_ERR_USERNUM_CHECK;
}

bool OlvaDevice::read_tz2401b_copy(std::uint8_t at, std::uint8_t copy[17])
{
    std::memset(copy, 0, kCheckedSize);
    bool read = true;
    // 8, 8 and 1 bytes: one EEPROM command moves at most 8.
    for (int o = 0; o < kCheckedSize; o += kByteReadPiece)
        read = eeprom_read(static_cast<std::uint8_t>(at + o), copy + o,
                           std::min(kByteReadPiece, kCheckedSize - o)) &&
               read;
    return read;
}

bool OlvaDevice::get_2401B_user()
{
    std::uint8_t copy[kCheckedSize];
    const bool primary_read = read_tz2401b_copy(
        static_cast<std::uint8_t>(model_traits(model()).user_number_primary), copy);
    if (!primary_read)
        BOX_LOG(1, "%s read user usernum  failed,ret:%d", 0);
    std::printf("%s  usernumber: %s\n\n", box_tag().c_str(), hid_hex_bytes(copy, kCheckedSize).c_str());
    if (primary_read && checks(copy)) {
        store_user_number(copy, kCheckedSize);
        return true;
    }
    if (primary_read)
        BOX_LOG(1, "%s user check num is error, usernum(%s) check(0x%x)",
                hid_hex_bytes(copy, kCheckedSize).c_str(), user_number_sum(copy, kCheckedSize));

    struct Backup {
        std::uint8_t address;
        const char* read_failed;
        const char* check_failed;
    };
    constexpr Backup kBackups[] = {
        {kFirstBackup, "%sread  first usernum  failed,ret:%d",
         "%sget first check num is error, usernum(%s)"},
        {kSecondBackup, "%sread sec usernum  failed,ret:%d",
         "%sget sec check num is error, usernum(%s)"},
    };
    for (const Backup& backup : kBackups) {
        // A copy that cannot be read whole is skipped, never taken as zeros.
        if (!read_tz2401b_copy(backup.address, copy)) {
            BOX_LOG(1, backup.read_failed, 0);
            continue;
        }
        if (checks(copy)) {
            store_user_number(copy, kCheckedSize);
            return true;
        }
        BOX_LOG(1, backup.check_failed, hid_hex_bytes(copy, kCheckedSize).c_str());
    }
    return false;
}

void OlvaDevice::read_user_number_at_open()
{
    switch (model_traits(model()).eeprom) {
    case Eeprom::kTz2401Commands:
        for (int attempt = 0; attempt < kUserNumberAttempts && !giving_up(); ++attempt) {
            if (get_2401B_user()) {
                std::uint8_t number[kNumberSize] = {};
                read_user_area(0, number, kNumberSize);
                BOX_LOG(4, "%s get usernum:%s,count(%d) OK",
                        hid_hex_bytes(number, kNumberSize).c_str(), attempt);
                return;
            }
            BOX_LOG(4, "%s get usernum failed, count(%d)", attempt);
        }
        break;
    case Eeprom::kUsbChip: {
        // Read for the log only: the Tz2501B's number is read again on
        // every request.
        std::uint8_t scratch[kNumberSize] = {};
        Tz2402D_ReadUser(scratch);
        break;
    }
    default:
        break;
    }
}
