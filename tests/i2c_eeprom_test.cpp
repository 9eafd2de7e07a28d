// The boxes' serial EEPROMs on every path: Tz2401 EEPROM commands, the
// 17-byte I2C transaction, the Tz2501A's bit-banged bus and the USB chip's
// I2C master (Tz2501B and Tz2402D).
#include <functional>
#include <numeric>

#include "sim/sim_register_box.h"
#include "sim/sim_report17_box.h"
#include "sim/sim_tz2401.h"
#include "sim/sim_tz2501a.h"
#include "support/hid_sim_fixture.h"
#include "support/hid_test_box.h"

namespace {

using olva_sim::SimBox;
using olva_sim::SimRegisterBox;
using olva_sim::SimReport17Box;
using olva_sim::SimTz2401Box;
using olva_sim::SimTz2501ABox;
using olva_test::Bytes;
using olva_test::HidDeviceAccess;
using olva_test::HidTestBox;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

Bytes pattern(std::size_t length, std::uint8_t seed)
{
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + 37 * i);
    return bytes;
}

Bytes eeprom_bytes(const std::array<std::uint8_t, 256>& memory, std::uint8_t addr, std::size_t length)
{
    Bytes bytes;
    for (std::size_t i = 0; i < length; ++i)
        bytes.push_back(memory[static_cast<std::uint8_t>(addr + i)]);
    return bytes;
}

// One EEPROM path: how to make its box, open it, and where its memory is.
struct Path {
    const char* name;
    std::function<SimBox&(olva_sim::SimBackend&)> plug;
    std::function<void(HidTestBox&, const std::string&)> open;
    std::function<std::array<std::uint8_t, 256>(SimBox&)> memory;
    std::function<void(SimBox&, std::uint8_t, const Bytes&)> preset;
    std::function<bool(HidTestBox&, std::uint8_t, const Bytes&)> write;
    std::function<bool(HidTestBox&, std::uint8_t, Bytes&)> read;
};

bool byteWrite(HidTestBox& hid, std::uint8_t addr, const Bytes& data)
{
    return hid.eeprom_write(addr, data.data(), static_cast<int>(data.size())) == 0;
}

bool byteRead(HidTestBox& hid, std::uint8_t addr, Bytes& out)
{
    return hid.eeprom_read(addr, out.data(), static_cast<int>(out.size()));
}

bool chipWrite(HidTestBox& hid, std::uint8_t addr, const Bytes& data)
{
    return hid.Tz2402D_Write_2402(addr, data.data(), static_cast<int>(data.size()));
}

bool chipRead(HidTestBox& hid, std::uint8_t addr, Bytes& out)
{
    return hid.Tz2402D_Read_2402(addr, out.data(), static_cast<int>(out.size()));
}

const Path kTz2401bPath = {
    "Tz2401B",
    [](olva_sim::SimBackend& sim) -> SimBox& { return sim.plug<SimTz2401Box>(SimTz2401Box::tz2401b()); },
    [](HidTestBox& hid, const std::string& path) {
        ASSERT_TRUE(HidDeviceAccess::openAs(hid, path, OLVA_PRODUCT_TZ2401B));
        HidDeviceAccess::startReadThread(hid);
    },
    [](SimBox& box) { return static_cast<SimTz2401Box&>(box).eeprom(); },
    [](SimBox& box, std::uint8_t addr, const Bytes& bytes) {
        static_cast<SimTz2401Box&>(box).setEeprom(addr, bytes);
    },
    byteWrite,
    byteRead,
};

const Path kReport17Path = {
    "17-byte box",
    [](olva_sim::SimBackend& sim) -> SimBox& { return sim.plug<SimReport17Box>(); },
    [](HidTestBox& hid, const std::string& path) {
        ASSERT_TRUE(HidDeviceAccess::openAs(hid, path, OLVA_PRODUCT_TZ2402B, 0x42));
    },
    [](SimBox& box) { return static_cast<SimReport17Box&>(box).eeprom(); },
    [](SimBox& box, std::uint8_t addr, const Bytes& bytes) {
        static_cast<SimReport17Box&>(box).setEeprom(addr, bytes);
    },
    byteWrite,
    byteRead,
};

const Path kTz2501aPath = {
    "Tz2501A bit-banged",
    [](olva_sim::SimBackend& sim) -> SimBox& { return sim.plug<SimTz2501ABox>(); },
    [](HidTestBox& hid, const std::string& path) {
        ASSERT_TRUE(HidDeviceAccess::openAs(hid, path, OLVA_PRODUCT_TZ2501A));
    },
    [](SimBox& box) { return static_cast<SimTz2501ABox&>(box).eeprom(); },
    [](SimBox& box, std::uint8_t addr, const Bytes& bytes) {
        static_cast<SimTz2501ABox&>(box).setEeprom(addr, bytes);
    },
    byteWrite,
    byteRead,
};

const Path kTz2501bChip = {
    "Tz2501B USB chip",
    [](olva_sim::SimBackend& sim) -> SimBox& { return sim.plug<SimRegisterBox>(); },
    [](HidTestBox& hid, const std::string& path) {
        ASSERT_TRUE(HidDeviceAccess::openAs(hid, path, OLVA_PRODUCT_TZ2501B, 0x80));
    },
    [](SimBox& box) { return static_cast<SimRegisterBox&>(box).memory(0x50); },
    [](SimBox& box, std::uint8_t addr, const Bytes& bytes) {
        static_cast<SimRegisterBox&>(box).setMemory(0x50, addr, bytes);
    },
    chipWrite,
    chipRead,
};

const Path kTz2402dChip = {
    "Tz2402D USB chip",
    [](olva_sim::SimBackend& sim) -> SimBox& { return sim.plug<SimRegisterBox>(); },
    [](HidTestBox& hid, const std::string& path) {
        ASSERT_TRUE(HidDeviceAccess::openAs(hid, path, OLVA_PRODUCT_TZ2402B, 0x70));
    },
    [](SimBox& box) { return static_cast<SimRegisterBox&>(box).memory(0x50); },
    [](SimBox& box, std::uint8_t addr, const Bytes& bytes) {
        static_cast<SimRegisterBox&>(box).setMemory(0x50, addr, bytes);
    },
    chipWrite,
    chipRead,
};

class EepromTest : public olva_test::HidSimTest {
protected:
    // Writes data at addr and reads it back on one path.
    void roundTrip(const Path& path, std::uint8_t addr, const Bytes& data)
    {
        SCOPED_TRACE(std::string(path.name) + " at " + std::to_string(addr) + ", " +
                     std::to_string(data.size()) + " bytes");
        SimBox& box = path.plug(sim_);
        HidTestBox hid;
        path.open(hid, sim_.path(box));
        const auto before = path.memory(box);
        ASSERT_TRUE(path.write(hid, addr, data));
        const auto after = path.memory(box);
        EXPECT_EQ(eeprom_bytes(after, addr, data.size()), data);
        // Nothing outside the range changed.
        for (int i = 0; i < 256; ++i) {
            const auto offset = static_cast<std::uint8_t>(i - addr);
            if (offset >= data.size()) {
                EXPECT_EQ(after[static_cast<std::size_t>(i)], before[static_cast<std::size_t>(i)]) << i;
            }
        }
        Bytes read(data.size(), 0xEE);
        ASSERT_TRUE(path.read(hid, addr, read));
        EXPECT_EQ(read, data);
    }

    // Fails (or unplugs at) the n-th transfer for n = 0, 1, ... until an
    // operation no longer reaches it. An operation that reports success must
    // have done its work whatever it met.
    void sweep(const Path& path, const std::function<void(SimBox&, int)>& inject,
               const std::function<bool(HidTestBox&, SimBox&)>& operation,
               const std::function<bool(HidTestBox&, SimBox&)>& done)
    {
        for (int n = 0;; ++n) {
            SCOPED_TRACE(std::string(path.name) + ", transfer " + std::to_string(n));
            SimBox& box = path.plug(sim_);
            HidTestBox hid;
            path.open(hid, sim_.path(box));
            inject(box, n);
            const bool succeeded = operation(hid, box);
            const bool reached = sim_.transferCount(box) > n;
            if (succeeded) {
                EXPECT_TRUE(done(hid, box));
            }
            hid.hidClose();
            sim_.unplug(box);
            if (!reached) {
                EXPECT_TRUE(succeeded);
                break;
            }
            ASSERT_LT(n, 2000);
        }
    }
};

TEST_F(EepromTest, EveryPathRoundTrips)
{
    struct Case {
        const Path* path;
        std::uint8_t addr;
        std::size_t length;
    };
    const Case cases[] = {
        {&kTz2401bPath, 0x00, 1},       {&kTz2401bPath, 0x10, 4},       {&kTz2401bPath, 0x21, 5},
        {&kTz2401bPath, 0x60, 8},       {&kTz2401bPath, 0xFC, 8},
        {&kReport17Path, 0x00, 1},      {&kReport17Path, 0x6F, 8},      {&kReport17Path, 0xF8, 13},
        {&kTz2501aPath, 0x00, 1},       {&kTz2501aPath, 0x30, 3},       {&kTz2501aPath, 0xFE, 4},
        {&kTz2501bChip, 76, 9},     {&kTz2501bChip, 0, 16},     {&kTz2501bChip, 77, 2},
        {&kTz2501bChip, 77, 1},     {&kTz2501bChip, 126, 2},    {&kTz2402dChip, 76, 9},
        {&kTz2402dChip, 101, 6},
    };
    std::uint8_t seed = 1;
    for (const Case& c : cases)
        roundTrip(*c.path, c.addr, pattern(c.length, seed++));
}

TEST_F(EepromTest, Tz2401bWriteSendsBothHalves)
{
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    HidTestBox hid;
    ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box), OLVA_PRODUCT_TZ2401B));
    const Bytes three = {0xD0, 0xD1, 0xD2};
    EXPECT_EQ(hid.eeprom_write(0x60, three.data(), 3), 0);
    const Bytes six = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(hid.eeprom_write(0x70, six.data(), 6), 0);
    EXPECT_THAT(sim_.reports(box),
                ElementsAre(Bytes{3, 0xA3, 0xD0, 0xD1, 0xD2, 0, 0x60, 3},
                            Bytes{3, 0xA4, 0xD0, 0xD1, 0xD2, 0, 0x60, 3},
                            Bytes{3, 0xA3, 1, 2, 3, 4, 0x70, 6}, Bytes{3, 0xA4, 5, 6, 0, 0, 0x70, 6}));
    EXPECT_EQ(hid.eeprom_write(0, nullptr, 3), -1);
    EXPECT_EQ(hid.eeprom_write(0, six.data(), 0), -1);
    EXPECT_EQ(hid.eeprom_write(0, six.data(), 9), -1);
    Bytes nine(9);
    EXPECT_FALSE(hid.eeprom_read(0, nine.data(), 9));
    EXPECT_FALSE(hid.eeprom_read(0, nullptr, 4));
    EXPECT_EQ(sim_.reports(box).size(), 4u);
}

TEST_F(EepromTest, SeventeenByteWriteIsOneTransactionPerByte)
{
    SimReport17Box& box = sim_.plug<SimReport17Box>();
    HidTestBox hid;
    ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box), OLVA_PRODUCT_TZ2402B, 0x42));
    const Bytes two = {0x5A, 0xA5};
    EXPECT_EQ(hid.eeprom_write(0x40, two.data(), 2), 0);
    auto transaction = [](std::uint8_t addr, std::uint8_t byte) {
        Bytes report = {0, 0x40, 0x0E, 0xA0, addr, 0, byte, 0, 0, 0, 0, 0, 0, 0, 1, 0x80, 1};
        return report;
    };
    EXPECT_THAT(sim_.reports(box), ElementsAre(transaction(0x40, 0x5A), transaction(0x41, 0xA5)));
    EXPECT_THAT(sleeper_.mine(), ElementsAre(100, 100));
}

TEST_F(EepromTest, SeventeenByteReadChecksTheAnswerAndReturnsToStatusMode)
{
    SimReport17Box& box = sim_.plug<SimReport17Box>();
    box.setEeprom(0x10, {1, 2, 3, 4});
    HidTestBox hid;
    ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box), OLVA_PRODUCT_TZ2402B, 0x42));
    box.spoilNextAnswer(0x42);
    Bytes out(4, 0xEE);
    EXPECT_FALSE(hid.eeprom_read(0x10, out.data(), 4));
    EXPECT_EQ(out, Bytes(4, 0xEE));
    EXPECT_EQ(box.mode(), 0x00);
    const auto reports = sim_.reports(box);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(Bytes(reports[0].begin(), reports[0].begin() + 4), (Bytes{0, 0x01, 0x01, 0x43}));
    EXPECT_EQ(Bytes(reports[1].begin(), reports[1].begin() + 5), (Bytes{0, 0x40, 0x0E, 0xA1, 0x10}));
    EXPECT_EQ(reports[1][14], 4);
    EXPECT_EQ(reports[1][15], 0x82);
    EXPECT_EQ(Bytes(reports[2].begin(), reports[2].begin() + 4), (Bytes{0, 0x01, 0x01, 0x00}));
    EXPECT_THAT(sleeper_.mine(), ElementsAre(100, 100));

    // One answer holds 13 bytes: a longer read is refused before anything is sent.
    Bytes fourteen(14, 0xEE);
    EXPECT_FALSE(hid.eeprom_read(0, fourteen.data(), 14));
    EXPECT_EQ(fourteen, Bytes(14, 0xEE));
    EXPECT_EQ(sim_.reports(box).size(), 3u);
}

TEST_F(EepromTest, RegisterProtocolBoxesHaveNoByteRead)
{
    SimRegisterBox& box = sim_.plug<SimRegisterBox>();
    HidTestBox hid;
    ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box), OLVA_PRODUCT_TZ2402B, 0x70));
    Bytes out(4);
    EXPECT_FALSE(hid.eeprom_read(0, out.data(), 4));
    EXPECT_THAT(sim_.reports(box), IsEmpty());
    HidDeviceAccess::setUnplugged(hid, true);
    SimReport17Box& other = sim_.plug<SimReport17Box>();
    ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(other), OLVA_PRODUCT_TZ2402B, 0x42));
    HidDeviceAccess::setUnplugged(hid, true);
    EXPECT_FALSE(hid.eeprom_read(0, out.data(), 4));
    EXPECT_THAT(sim_.reports(other), IsEmpty());
}

TEST_F(EepromTest, BitBangedWriteBoundsItsLength)
{
    SimTz2501ABox& box = sim_.plug<SimTz2501ABox>();
    HidTestBox hid;
    ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box), OLVA_PRODUCT_TZ2501A));
    const Bytes many(129, 1);
    EXPECT_FALSE(hid.I2CSend_bytes(0, many.data(), 0));
    EXPECT_FALSE(hid.I2CSend_bytes(0, many.data(), 129));
    EXPECT_FALSE(hid.I2CSend_bytes(0, nullptr, 1));
    EXPECT_EQ(box.pinReports(), 0);
    hid.hid_closeEx();
    EXPECT_EQ(hid.eeprom_write(0, many.data(), 1), -1);
    EXPECT_EQ(box.pinReports(), 0);
}

TEST_F(EepromTest, BitBangedWriteToASilentMemoryStillCompletes)
{
    SimTz2501ABox& box = sim_.plug<SimTz2501ABox>();
    box.neverAcknowledge(true);
    HidTestBox hid;
    ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box), OLVA_PRODUCT_TZ2501A));
    const Bytes data = {1, 2, 3};
    EXPECT_EQ(hid.eeprom_write(0x20, data.data(), 3), 0);
    EXPECT_EQ(eeprom_bytes(box.eeprom(), 0x20, 3), Bytes(3, 0));
    // Each byte is a whole transaction ending in a stop: SDA and SCL high, driven.
    EXPECT_EQ(HidDeviceAccess::g1(hid) & 0x03, 0x03);
    EXPECT_EQ(HidDeviceAccess::g2(hid) & 0x03, 0x03);
}

TEST_F(EepromTest, UsbChipReadOfTheUpperBank)
{
    SimRegisterBox& box = sim_.plug<SimRegisterBox>();
    box.setMemory(0x50, 0x90, {9, 8, 7, 6});
    HidTestBox hid;
    ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box), OLVA_PRODUCT_TZ2501B, 0x80));
    Bytes out(4);
    ASSERT_TRUE(hid.Tz2402D_Read_2402(0x90, out.data(), 4));
    EXPECT_EQ(out, (Bytes{9, 8, 7, 6}));
    std::vector<std::uint8_t> written;
    std::uint16_t selected = 0;
    for (const Bytes& report : sim_.reports(box)) {
        if (report[4] == 0x10)
            selected = static_cast<std::uint16_t>(report[2] | report[3] << 8);
        else if (report[4] == 0x20 && (selected == 0x08 || selected == 0x0B))
            written.push_back(report[2]);
    }
    // Bank register, then once more for the upper bank, then words 8 and 9.
    EXPECT_THAT(written, ElementsAre(0x40, 0x41, 0x88, 0x89));
    EXPECT_THAT(sleeper_.mine(), ElementsAre(30, 30));
}

TEST_F(EepromTest, UsbChipRefusesWordsBeyondTheBank)
{
    struct Case {
        const char* name;
        bool write;
        std::uint8_t addr;
        int length;
    };
    const Case cases[] = {
        {"read across the lower bank's end", false, 120, 16},
        {"read across the upper bank's end", false, 0xF8, 9},
        {"write past the lower bank", true, 127, 2},
        {"write into the upper bank", true, 0x80, 2},
        {"write of nothing", true, 0, 0},
        {"read of nothing", false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimRegisterBox& box = sim_.plug<SimRegisterBox>();
        HidTestBox hid;
        ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box), OLVA_PRODUCT_TZ2501B, 0x80));
        const auto before = box.memory(0x50);
        Bytes data(16, 0x11);
        if (c.write)
            EXPECT_FALSE(hid.Tz2402D_Write_2402(c.addr, data.data(), c.length));
        else
            EXPECT_FALSE(hid.Tz2402D_Read_2402(c.addr, data.data(), c.length));
        EXPECT_THAT(sim_.reports(box), IsEmpty());
        EXPECT_EQ(box.memory(0x50), before);
    }
}

const Path* const kAllPaths[] = {&kTz2401bPath, &kReport17Path, &kTz2501aPath, &kTz2501bChip, &kTz2402dChip};

TEST_F(EepromTest, AWriteThatMeetsAFailureNeverClaimsSuccess)
{
    for (const Path* path : kAllPaths) {
        for (int failures : {1, 3}) {
            const Bytes data = pattern(4, 0x30);
            sweep(
                *path,
                [&](SimBox& box, int n) {
                    sim_.failTransfers(box, olva_sim::kAllTransfers, n, failures, usb::kErrorIo);
                },
                [&](HidTestBox& hid, SimBox&) { return path->write(hid, 0x44, data); },
                [&](HidTestBox&, SimBox& box) { return eeprom_bytes(path->memory(box), 0x44, 4) == data; });
        }
    }
}

TEST_F(EepromTest, AReadThatMeetsAFailureNeverClaimsSuccess)
{
    for (const Path* path : kAllPaths) {
        for (int failures : {1, 3}) {
            Bytes out;
            sweep(
                *path,
                [&](SimBox& box, int n) {
                    path->preset(box, 0x44, pattern(4, 0x50));
                    sim_.failTransfers(box, olva_sim::kAllTransfers, n, failures, usb::kErrorIo);
                },
                [&](HidTestBox& hid, SimBox&) {
                    out.assign(4, 0xEE);
                    return path->read(hid, 0x44, out);
                },
                [&](HidTestBox&, SimBox&) { return out == pattern(4, 0x50); });
        }
    }
}

TEST_F(EepromTest, UnpluggingDuringAWriteEndsItCleanly)
{
    for (const Path* path : kAllPaths) {
        const Bytes data = pattern(4, 0x70);
        sweep(
            *path, [&](SimBox& box, int n) { sim_.unplugAfter(box, n + 1); },
            [&](HidTestBox& hid, SimBox&) { return path->write(hid, 0x20, data); },
            [&](HidTestBox&, SimBox& box) { return eeprom_bytes(path->memory(box), 0x20, 4) == data; });
    }
}

}  // namespace
