// The user number as the transport reaches it: the Tz2701A's three guarded
// copies behind its bridge with the controller-memory messages they use,
// and the 16 bytes behind the USB chip of the Tz2501B and Tz2402D.
#include <atomic>
#include <numeric>
#include <thread>

#include "sim/sim_register_box.h"
#include "sim/sim_tz2401.h"
#include "support/eventually.h"
#include "support/hid_sim_fixture.h"
#include "support/hid_test_box.h"
#include "support/user_number.h"

namespace {

using olva_sim::SimRegisterBox;
using olva_sim::SimTz2401Box;
using olva_test::Bytes;
using olva_test::HidDeviceAccess;
using olva_test::HidTestBox;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Each;

constexpr std::uint8_t kCopyBase = 0x80;
constexpr std::uint8_t kCopySize = 20;

using olva_test::user_number;

// A stored Tz2701A copy: the number, its check byte and three zeros.
Bytes storedCopy(const Bytes& user)
{
    Bytes copy = olva_test::checked_copy(user);
    copy.resize(kCopySize, 0);
    return copy;
}

Bytes slice(const std::array<std::uint8_t, 256>& memory, std::size_t at, std::size_t length)
{
    return Bytes(memory.begin() + static_cast<long>(at), memory.begin() + static_cast<long>(at + length));
}

Bytes area(const HidTestBox& hid)
{
    Bytes bytes(16, 0xEE);
    if (!hid.read_user_area(0, bytes.data(), 16))
        return {};
    return bytes;
}

class Tz2701UserTest : public olva_test::HidSimTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(HidDeviceAccess::openAs(hid_, sim_.path(box_), OLVA_PRODUCT_TZ2701A));
        HidDeviceAccess::startReadThread(hid_);
    }
    void TearDown() override
    {
        hid_.hidClose();
        HidSimTest::TearDown();
    }
    void storeCopy(int n, const Bytes& copy)
    {
        box_.setControllerMemory(0, static_cast<std::uint8_t>(kCopyBase + kCopySize * n), copy);
    }
    // Each piece of a read is two output reports: the address and the request.
    static int requestOfPiece(int copy, int piece) { return 2 * (5 * copy + piece) + 1; }

    SimTz2401Box& box_ = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2701a());
    HidTestBox hid_;
};

TEST_F(Tz2701UserTest, AWrittenNumberIsReadBackFromTheFirstCopy)
{
    const Bytes ones(16, 0x01);
    ASSERT_TRUE(hid_.Tz2701_write_user(ones.data(), 16));
    const auto memory = box_.controllerMemory(0);
    Bytes expected = ones;
    expected.insert(expected.end(), {0xF0, 0, 0, 0});
    for (int n = 0; n < 3; ++n)
        EXPECT_EQ(slice(memory, kCopyBase + kCopySize * n, kCopySize), expected) << "copy " << n;
    // Fifteen pieces of four bytes, and no erase first.
    EXPECT_EQ(box_.memoryWrites(), 15);
    EXPECT_TRUE(box_.erasedUnits().empty());
    EXPECT_FALSE(hid_.user_number_valid());

    ASSERT_TRUE(hid_.Tz2701_read_user());
    EXPECT_EQ(area(hid_), ones);

    // A short number is padded with zeros before its check byte.
    const Bytes short_number = {'4', '2'};
    ASSERT_TRUE(hid_.Tz2701_write_user(short_number.data(), 2));
    ASSERT_TRUE(hid_.Tz2701_read_user());
    EXPECT_EQ(area(hid_), (Bytes{'4', '2', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(hid_.Tz2701_write_user(short_number.data(), 17));
    EXPECT_EQ(sim_.violations().size(), 0u);
}

// A write counts when one copy went out whole: a copy that lost a piece
// would fail its check or hold parts of two numbers, so pieces accepted
// here and there are no stored number.
TEST_F(Tz2701UserTest, AWriteCountsOnlyWhenACopyWentOutWhole)
{
    const Bytes ones(16, 0x01);
    struct Case {
        const char* name;
        int pieces;  // pieces that arrive before every transfer fails
        bool written;
    };
    const Case cases[] = {
        {"no piece", 0, false},
        {"four pieces of the first copy", 4, false},
        {"the first copy whole", 5, true},
        {"the first copy and two of the second", 7, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2701a());
        HidTestBox hid;
        ASSERT_TRUE(HidDeviceAccess::openAs(hid, sim_.path(box), OLVA_PRODUCT_TZ2701A));
        // A piece that arrives is its two halves.
        sim_.failTransfers(box, olva_sim::kOutputTransfers, 2 * c.pieces, 1000, usb::kErrorIo);
        EXPECT_EQ(hid.Tz2701_write_user(ones.data(), 16), c.written);
        EXPECT_EQ(box.memoryWrites(), c.pieces);
        hid.hidClose();
    }
}

TEST_F(Tz2701UserTest, TheFirstCopyThatPassesItsCheckIsTaken)
{
    struct Case {
        const char* name;
        std::array<bool, 3> good;  // copies stored with a right check byte
        int taken;                 // -1: none
    };
    const Case cases[] = {
        {"all good", {true, true, true}, 0},
        {"primary corrupted", {false, true, true}, 1},
        {"two corrupted", {false, false, true}, 2},
        {"all corrupted", {false, false, false}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int n = 0; n < 3; ++n) {
            Bytes copy = storedCopy(user_number(static_cast<std::uint8_t>(10 * n + 1)));
            if (!c.good[static_cast<std::size_t>(n)])
                copy[3] ^= 0x40;
            storeCopy(n, copy);
        }
        EXPECT_EQ(hid_.Tz2701_read_user(), c.taken >= 0);
        EXPECT_EQ(hid_.user_number_valid(), c.taken >= 0);
        if (c.taken >= 0)
            EXPECT_EQ(area(hid_), user_number(static_cast<std::uint8_t>(10 * c.taken + 1)));
        else
            EXPECT_TRUE(area(hid_).empty());
    }
}

TEST_F(Tz2701UserTest, ACopyReadInPartIsSkippedNotTakenAsZeros)
{
    // The first copy is all zeros, which passes its check when read whole;
    // the second holds the number.
    storeCopy(0, Bytes(kCopySize, 0));
    storeCopy(1, storedCopy(user_number(7)));
    for (int piece = 0; piece < 5; ++piece) {
        SCOPED_TRACE("piece " + std::to_string(piece) + " of the first copy lost");
        sim_.failTransfers(box_, olva_sim::kOutputTransfers, requestOfPiece(0, piece), 1,
                           usb::kErrorIo);
        ASSERT_TRUE(hid_.Tz2701_read_user());
        EXPECT_EQ(area(hid_), user_number(7));
    }
    // Read whole, the zero copy counts.
    ASSERT_TRUE(hid_.Tz2701_read_user());
    EXPECT_EQ(area(hid_), Bytes(16, 0));
}

TEST_F(Tz2701UserTest, AFailedReadLeavesNoEarlierNumberBehind)
{
    storeCopy(0, storedCopy(user_number(3)));
    ASSERT_TRUE(hid_.Tz2701_read_user());
    ASSERT_EQ(area(hid_), user_number(3));

    // Later the first copy cannot be read whole and the others are erased:
    // the earlier number must not stay as if it had been read again.
    storeCopy(1, Bytes(kCopySize, 0xFF));
    storeCopy(2, Bytes(kCopySize, 0xFF));
    sim_.failTransfers(box_, olva_sim::kOutputTransfers, requestOfPiece(0, 2), 1, usb::kErrorIo);
    EXPECT_FALSE(hid_.Tz2701_read_user());
    EXPECT_FALSE(hid_.user_number_valid());
    EXPECT_TRUE(area(hid_).empty());
}

TEST_F(Tz2701UserTest, EveryLostTransferOfAReadEndsInTheNumberOrInNone)
{
    storeCopy(0, storedCopy(user_number(5)));
    storeCopy(1, storedCopy(user_number(5)));
    storeCopy(2, storedCopy(user_number(5)));
    for (int n = 0;; ++n) {
        SCOPED_TRACE("transfer " + std::to_string(n));
        const int before = sim_.transferCount(box_);
        sim_.failTransfers(box_, olva_sim::kOutputTransfers, n, 1, usb::kErrorIo);
        const bool found = hid_.Tz2701_read_user();
        const bool reached = sim_.transferCount(box_) - before > n;
        EXPECT_EQ(hid_.user_number_valid(), found);
        if (found)
            EXPECT_EQ(area(hid_), user_number(5));
        else
            EXPECT_TRUE(area(hid_).empty());
        if (!reached) {
            EXPECT_TRUE(found);
            break;
        }
        // The one-cycle address is tried again, so one lost report never
        // loses the number.
        EXPECT_TRUE(found);
        ASSERT_LT(n, 100);
    }
}

class Tz2701EepromTest : public Tz2701UserTest {};

TEST_F(Tz2701EepromTest, MessagesCarryTheirPayloadsThroughTheBridge)
{
    sim_.clearTrace();
    const Bytes four = {0xD0, 0xD1, 0xD2, 0xD3};
    ASSERT_TRUE(hid_.Tz2701_write_eeprom(4, 8, four.data(), 4));
    hid_.Tz2701_erase_eeprom(0);
    Bytes read(4, 0);
    ASSERT_EQ(hid_.Tz2701_read_eeprom(4, 8, read.data(), 4), 1);
    EXPECT_EQ(read, four);
    EXPECT_THAT(sim_.reports(box_),
                ElementsAre(Bytes{3, 0xA1, 0x31, 4, 8, 0xD0, 0, 7}, Bytes{3, 0xA2, 0xD1, 0xD2, 0xD3, 0, 0, 7},
                            Bytes{3, 0xA1, 0x30, 0x00, 0xCF, 0xFF, 0, 7},
                            Bytes{3, 0xA2, 0x55, 0x55, 0x55, 0x00, 0, 7},
                            Bytes{3, 0xA5, 0x00, 0x32, 4, 8, 0, 0},
                            Bytes{3, 0xA0, 0xA3, 0x07, 0x00, 4, 8, 0}));
    EXPECT_THAT(box_.erasedUnits(), ElementsAre(0));
    EXPECT_EQ(box_.badMessages(), 0);
}

TEST_F(Tz2701EepromTest, AShortPieceKeepsTheStoredBytesBesideIt)
{
    box_.setControllerMemory(4, 8, {0x11, 0x22, 0x33, 0x44});
    const Bytes one = {0xAB};
    ASSERT_TRUE(hid_.Tz2701_write_eeprom(4, 9, one.data(), 1));
    EXPECT_EQ(slice(box_.controllerMemory(4), 8, 6), (Bytes{0x11, 0xAB, 0x33, 0x44, 0xFF, 0xFF}));

    // Without the stored bytes nothing is written: zeros would replace them.
    box_.dropEepromAnswers(0, 1);
    HidDeviceAccess::setReplyTimeout(hid_, 20);
    const Bytes two = {0x01, 0x02};
    EXPECT_FALSE(hid_.Tz2701_write_eeprom(4, 8, two.data(), 2));
    EXPECT_EQ(slice(box_.controllerMemory(4), 8, 4), (Bytes{0x11, 0xAB, 0x33, 0x44}));

    // More than one piece's worth is refused whole.
    const Bytes five(5, 0x99);
    const int writes = box_.memoryWrites();
    EXPECT_FALSE(hid_.Tz2701_write_eeprom(4, 8, five.data(), 5));
    EXPECT_FALSE(hid_.Tz2701_write_eeprom(4, 8, five.data(), 0));
    EXPECT_EQ(box_.memoryWrites(), writes);
}

TEST_F(Tz2701EepromTest, TheAnswerIsFoundBehindGsmBytesAndStatusReports)
{
    box_.setControllerMemory(0, 0x40, {1, 2, 3, 4});
    const Bytes others[] = {{3, 0x84, 'O', 'K', '\r', '\n'}, {3, 0x91, 0x20, 1, 0, 0, 0, 0}};
    for (const Bytes& other : others) {
        box_.precedeEepromAnswer(other);
        Bytes read(4, 0);
        ASSERT_EQ(hid_.Tz2701_read_eeprom(0, 0x40, read.data(), 3), 1);
        EXPECT_EQ(read, (Bytes{1, 2, 3, 0}));
    }
}

TEST_F(Tz2701EepromTest, TheAnswerReachesAReaderInEventModeToo)
{
    box_.setControllerMemory(1, 0x10, {9, 8, 7, 6});
    box_.precedeEepromAnswer({3, 0x91, 0x20, 1, 0, 0, 0, 0});
    HidDeviceAccess::setEventMode(hid_, true);
    Bytes read(4, 0);
    ASSERT_EQ(hid_.Tz2701_read_eeprom(1, 0x10, read.data(), 4), 1);
    EXPECT_EQ(read, (Bytes{9, 8, 7, 6}));
    // The status report went to its handler, the answer did not.
    ASSERT_TRUE(olva_test::eventually([&] { return hid_.reportCount() > 0; }));
    for (const HidTestBox::Report& report : hid_.reports())
        EXPECT_EQ(report.bytes[1], 0x91);
    HidDeviceAccess::setEventMode(hid_, false);
}

TEST_F(Tz2701EepromTest, OtherModelsSendNothing)
{
    HidDeviceAccess::setModel(hid_, OLVA_PRODUCT_TZ2401B);
    sim_.clearTrace();
    const Bytes four(4, 1);
    Bytes read(4, 0);
    EXPECT_FALSE(hid_.Tz2701_write_eeprom(0, 0, four.data(), 4));
    EXPECT_EQ(hid_.Tz2701_read_eeprom(0, 0, read.data(), 4), 0);
    hid_.Tz2701_erase_eeprom(1);
    EXPECT_FALSE(hid_.Tz2701_read_user());
    EXPECT_TRUE(sim_.reports(box_).empty());
}

// The USB chip's user number: register reports [0, 0x60, ...] and 4-byte
// GET_REPORTs of the register's value.
class ChipUserTest : public olva_test::HidSimTest {
protected:
    static Bytes select(std::uint16_t reg)
    {
        return {0, 0x60, static_cast<std::uint8_t>(reg & 0xFF), static_cast<std::uint8_t>(reg >> 8),
                0x10};
    }
    static Bytes value(std::uint8_t v) { return {0, 0x60, v, 0, 0x20}; }

    SimRegisterBox& box_ = sim_.plug<SimRegisterBox>();
    HidTestBox hid_;
};

TEST_F(ChipUserTest, TheReadIsFortyFiveReportsSixteenAnswersAnd180Ms)
{
    ASSERT_TRUE(HidDeviceAccess::openAs(hid_, sim_.path(box_), OLVA_PRODUCT_TZ2501B, 0x80));
    HidDeviceAccess::setPins(hid_, 0x1B, 0x1F, 0x35);
    box_.setMemory(0x52, 112, user_number(0x30));
    const int before = sim_.transferCount(box_);
    Bytes out(16, 0);
    ASSERT_TRUE(hid_.Tz2402D_ReadUser(out.data()));
    EXPECT_EQ(out, user_number(0x30));

    std::vector<Bytes> expected;
    auto reg = [&](std::uint16_t r, std::uint8_t v) {
        expected.push_back(select(r));
        expected.push_back(value(v));
    };
    reg(0x100, 0x01);
    reg(0x110, 0x52);
    reg(0x111, 0x2E);
    reg(0x112, 0x03);
    reg(0x0B, 0xE0);
    reg(0x08, 0x41);
    for (int k = 0; k < 8; ++k) {
        reg(0x0B, static_cast<std::uint8_t>(0x80 + k));
        expected.push_back(select(0x09));
        expected.push_back(select(0x0A));
    }
    expected.push_back({0, 0x60, 0x1B, 0x1F, 0x35});
    const auto reports = sim_.reports(box_);
    EXPECT_EQ(reports.size(), 45u);
    EXPECT_THAT(reports, ElementsAreArray(expected));
    EXPECT_EQ(sim_.transferCount(box_) - before - 45, 16);
    const std::vector<int> pauses = sleeper_.mine();
    EXPECT_THAT(pauses, Each(20));
    EXPECT_EQ(std::accumulate(pauses.begin(), pauses.end(), 0), 180);
    EXPECT_EQ(box_.misconfiguredCommands(), 0);
}

TEST_F(ChipUserTest, ATz2402dRestoresItsOwnPinsAndNoPinReset)
{
    ASSERT_TRUE(HidDeviceAccess::openAs(hid_, sim_.path(box_), OLVA_PRODUCT_TZ2402B, 0x70));
    HidDeviceAccess::setPins(hid_, 0x3C, 0x1C, 0);
    Bytes out(16, 0);
    ASSERT_TRUE(hid_.Tz2402D_ReadUser(out.data()));
    const auto reports = sim_.reports(box_);
    ASSERT_EQ(reports.size(), 45u);
    EXPECT_EQ(reports.back(), (Bytes{0, 0x60, 0x3C, 0x1C, 0x3F}));
    EXPECT_EQ(out, Bytes(16, 0xFF));
}

TEST_F(ChipUserTest, AFailedRegisterReadKeepsItsByteAndFailsTheRead)
{
    ASSERT_TRUE(HidDeviceAccess::openAs(hid_, sim_.path(box_), OLVA_PRODUCT_TZ2501B, 0x80));
    box_.setMemory(0x52, 112, user_number(1));
    sim_.failTransfers(box_, olva_sim::kGetReports, 4, 1, usb::kErrorTimeout);
    Bytes out(16, 0xEE);
    EXPECT_FALSE(hid_.Tz2402D_ReadUser(out.data()));
    Bytes expected = user_number(1);
    expected[4] = 0xEE;
    EXPECT_EQ(out, expected);
}

TEST_F(ChipUserTest, AWrittenNumberIsReadBack)
{
    for (const auto& [model, version] : {std::pair{OLVA_PRODUCT_TZ2501B, 0x80}, std::pair{OLVA_PRODUCT_TZ2402B, 0x70}}) {
        SCOPED_TRACE(model);
        ASSERT_TRUE(HidDeviceAccess::openAs(hid_, sim_.path(box_), model,
                                            static_cast<std::uint8_t>(version)));
        const Bytes user = user_number(static_cast<std::uint8_t>(model));
        sim_.clearTrace();
        ASSERT_TRUE(hid_.Tz2402D_WriteUser(user.data()));
        // Words 56..63: command values 0xF8..0xFF, 20 ms each.
        const auto reports = sim_.reports(box_);
        ASSERT_EQ(reports.size(), 10u + 8 * 6 + 1);
        EXPECT_EQ(reports[10 + 5], value(0xF8));
        EXPECT_EQ(reports[10 + 7 * 6 + 5], value(0xFF));
        Bytes out(16, 0);
        ASSERT_TRUE(hid_.Tz2402D_ReadUser(out.data()));
        EXPECT_EQ(out, user);
        EXPECT_EQ(box_.misconfiguredCommands(), 0);
        hid_.hidClose();
    }
    // A register write that fails makes the whole write fail.
    ASSERT_TRUE(HidDeviceAccess::openAs(hid_, sim_.path(box_), OLVA_PRODUCT_TZ2501B, 0x80));
    sim_.failTransfers(box_, olva_sim::kOutputTransfers, 12, 3, usb::kErrorIo);
    const Bytes user = user_number(99);
    EXPECT_FALSE(hid_.Tz2402D_WriteUser(user.data()));
}

// The open checks the microphone register while a library call may already
// read the user number: neither moves the register address under the other.
TEST_F(ChipUserTest, ARegisterReadOfAnotherThreadLeavesTheNumberWhole)
{
    constexpr std::uint16_t kMicRegister = 0x282;
    ASSERT_TRUE(HidDeviceAccess::openAs(hid_, sim_.path(box_), OLVA_PRODUCT_TZ2501B, 0x80));
    box_.setMemory(0x52, 112, user_number(0x30));
    box_.setReg(kMicRegister, 0x5A);
    std::atomic<bool> stop{false};
    std::atomic<int> mic_reads{0};
    std::atomic<int> wrong_mic{0};
    std::thread open_check([&] {
        while (!stop.load()) {
            std::uint8_t mic = 0;
            EXPECT_TRUE(hid_.Tz2402D_Reg_Read(kMicRegister, mic));
            hid_.Tz2501B_Restore_read_gpioaddr();
            wrong_mic += mic != 0x5A;
            ++mic_reads;
        }
    });
    ASSERT_TRUE(olva_test::eventually([&] { return mic_reads.load() > 0; }));
    for (int i = 0; i < 30; ++i) {
        SCOPED_TRACE("read " + std::to_string(i));
        Bytes out(16, 0);
        EXPECT_TRUE(hid_.Tz2402D_ReadUser(out.data()));
        EXPECT_EQ(out, user_number(0x30));
    }
    stop = true;
    open_check.join();
    EXPECT_EQ(wrong_mic.load(), 0);
    EXPECT_EQ(box_.reg(kMicRegister), 0x5A);
    EXPECT_EQ(box_.misconfiguredCommands(), 0);
}

}  // namespace
