// The box's memory and user number as the box object offers them, on every
// model of the simulator: byte reads and writes at box addresses, the user
// number from each model's storage, the backups of the EEPROM boxes, and
// reads that fail part-way.
#include <functional>
#include <numeric>

#include "olva_device/olva_device.h"
#include "sim/sim_register_box.h"
#include "sim/sim_report17_box.h"
#include "sim/sim_tz2401.h"
#include "sim/sim_tz2501a.h"
#include "support/hid_sim_fixture.h"
#include "support/opened_as_box.h"
#include "support/user_number.h"

namespace {

using olva_sim::SimBox;
using olva_sim::SimRegisterBox;
using olva_sim::SimReport17Box;
using olva_sim::SimTz2401Box;
using olva_sim::SimTz2501ABox;
using olva_test::Bytes;
using ::testing::ElementsAre;

using MemoryBox = olva_test::OpenedAsBox;

using olva_test::user_number;

Bytes checked(const Bytes& user)
{
    return olva_test::checked_copy(user);
}

Bytes spoiled(Bytes copy)
{
    copy[5] ^= 0x21;
    return copy;
}

Bytes usernum(MemoryBox& box, int* result)
{
    Bytes out(16, 0xEE);
    *result = box.olva_get_usernum(out.data(), 16);
    return out;
}

// One model: how its box is made and opened, and how bytes are put in its
// byte-addressed memory behind the box's back.
struct Model {
    const char* name;
    std::function<SimBox&(olva_sim::SimBackend&)> plug;
    OLVA_PRODUCT product;
    std::uint8_t version2;
    std::function<void(SimBox&, std::uint8_t, const Bytes&)> preset;
    std::function<std::array<std::uint8_t, 256>(SimBox&)> memory;
    unsigned primary;  // where the primary copy of the user number lies
};

const Model kTz2401bModel = {
    "Tz2401B",
    [](olva_sim::SimBackend& sim) -> SimBox& { return sim.plug<SimTz2401Box>(SimTz2401Box::tz2401b()); },
    OLVA_PRODUCT_TZ2401B, 0,
    [](SimBox& box, std::uint8_t addr, const Bytes& bytes) {
        static_cast<SimTz2401Box&>(box).setEeprom(addr, bytes);
    },
    [](SimBox& box) { return static_cast<SimTz2401Box&>(box).eeprom(); }, 96};
const Model kReport17Model = {
    "Tz2402B (17-byte)",
    [](olva_sim::SimBackend& sim) -> SimBox& { return sim.plug<SimReport17Box>(); },
    OLVA_PRODUCT_TZ2402B, 0x42,
    [](SimBox& box, std::uint8_t addr, const Bytes& bytes) {
        static_cast<SimReport17Box&>(box).setEeprom(addr, bytes);
    },
    [](SimBox& box) { return static_cast<SimReport17Box&>(box).eeprom(); }, 111};
const Model kTz2501aModel = {
    "Tz2501A",
    [](olva_sim::SimBackend& sim) -> SimBox& { return sim.plug<SimTz2501ABox>(); },
    OLVA_PRODUCT_TZ2501A, 0,
    [](SimBox& box, std::uint8_t addr, const Bytes& bytes) {
        static_cast<SimTz2501ABox&>(box).setEeprom(addr, bytes);
    },
    [](SimBox& box) { return static_cast<SimTz2501ABox&>(box).eeprom(); }, 96};
const Model kTz2501bModel = {
    "Tz2501B",
    [](olva_sim::SimBackend& sim) -> SimBox& { return sim.plug<SimRegisterBox>(); },
    OLVA_PRODUCT_TZ2501B, 0x80,
    [](SimBox& box, std::uint8_t addr, const Bytes& bytes) {
        static_cast<SimRegisterBox&>(box).setMemory(0x50, addr, bytes);
    },
    [](SimBox& box) { return static_cast<SimRegisterBox&>(box).memory(0x50); }, 0};
const Model kTz2402dModel = {
    "Tz2402D",
    [](olva_sim::SimBackend& sim) -> SimBox& { return sim.plug<SimRegisterBox>(); },
    OLVA_PRODUCT_TZ2402B, 0x70,
    [](SimBox& box, std::uint8_t addr, const Bytes& bytes) {
        static_cast<SimRegisterBox&>(box).setMemory(0x50, addr, bytes);
    },
    [](SimBox& box) { return static_cast<SimRegisterBox&>(box).memory(0x50); }, 0};
// Model 11 reads its user number from its USB chip like the Tz2402D.
const Model kModel11 = {
    "model 11",
    [](olva_sim::SimBackend& sim) -> SimBox& { return sim.plug<SimRegisterBox>(); },
    static_cast<OLVA_PRODUCT>(11), 0x80,
    [](SimBox& box, std::uint8_t addr, const Bytes& bytes) {
        static_cast<SimRegisterBox&>(box).setMemory(0x50, addr, bytes);
    },
    [](SimBox& box) { return static_cast<SimRegisterBox&>(box).memory(0x50); }, 0};
const Model kTz2701aModel = {
    "Tz2701A",
    [](olva_sim::SimBackend& sim) -> SimBox& { return sim.plug<SimTz2401Box>(SimTz2401Box::tz2701a()); },
    OLVA_PRODUCT_TZ2701A, 0x20,
    [](SimBox& box, std::uint8_t addr, const Bytes& bytes) {
        static_cast<SimTz2401Box&>(box).setControllerMemory(0, addr, bytes);
    },
    [](SimBox& box) { return static_cast<SimTz2401Box&>(box).controllerMemory(0); }, 0x80};

// The EEPROM boxes: a marker, backups at 18 and 35, the primary.
const Model* const kEepromModels[] = {&kTz2401bModel, &kReport17Model, &kTz2501aModel};

class BoxEepromTest : public olva_test::HidSimTest {
protected:
    SimBox& open(const Model& model)
    {
        SimBox& box = model.plug(sim_);
        EXPECT_TRUE(olva_test::OlvaDeviceAccess::openAs(box_, sim_.path(box), model.product,
                                                        model.version2));
        return box;
    }
    // Stores the three copies of an EEPROM box behind its back.
    static void storeCopies(const Model& model, SimBox& box, const Bytes& primary,
                            const Bytes& first, const Bytes& second)
    {
        model.preset(box, 16, {0xFB, 0xEB});
        model.preset(box, 18, first);
        model.preset(box, 35, second);
        model.preset(box, static_cast<std::uint8_t>(model.primary), primary);
    }
    // The user number as the box gives it, after the open-time read where
    // the model keeps one.
    Bytes readNumber(const Model& model, int* result)
    {
        if (model.product == OLVA_PRODUCT_TZ2401B)
            box_.get_2401B_user();
        if (model.product == OLVA_PRODUCT_TZ2701A)
            box_.Tz2701_read_user();
        return usernum(box_, result);
    }

    MemoryBox box_;
};

TEST_F(BoxEepromTest, TheUserNumberRoundTripsOnEveryModel)
{
    struct Case {
        const Model* model;
        std::function<void(MemoryBox&, const Bytes&)> store;
    };
    // Each model's number written the way its storage takes it.
    auto copies = [](unsigned primary) {
        return [primary](MemoryBox& box, const Bytes& user) {
            const Bytes marker = {0xFB, 0xEB};
            const Bytes copy = checked(user);
            ASSERT_EQ(box.olva_write_eeprom(16, marker.data(), 2), 0);
            for (unsigned at : {18u, 35u, primary})
                ASSERT_EQ(box.olva_write_eeprom(at, copy.data(), 17), 0);
        };
    };
    const Case cases[] = {
        {&kTz2401bModel, copies(96)},
        {&kReport17Model, copies(111)},
        {&kTz2501aModel, copies(96)},
        {&kTz2501bModel, [](MemoryBox& box, const Bytes& user) { ASSERT_TRUE(box.Tz2402D_WriteUser(user.data())); }},
        {&kTz2402dModel, [](MemoryBox& box, const Bytes& user) { ASSERT_TRUE(box.Tz2402D_WriteUser(user.data())); }},
        {&kModel11, [](MemoryBox& box, const Bytes& user) { ASSERT_TRUE(box.Tz2402D_WriteUser(user.data())); }},
        {&kTz2701aModel, [](MemoryBox& box, const Bytes& user) { ASSERT_TRUE(box.Tz2701_write_user(user.data(), 16)); }},
    };
    std::uint8_t seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model->name);
        open(*c.model);
        const Bytes user = user_number(seed++);
        c.store(box_, user);
        int result = 1;
        EXPECT_EQ(readNumber(*c.model, &result), user);
        EXPECT_EQ(result, 0);
        box_.hidClose();
    }
}

TEST_F(BoxEepromTest, ACorruptedPrimaryIsRecoveredFromABackup)
{
    const Bytes user = user_number(0x40);
    const Bytes good = checked(user);
    const Bytes bad = spoiled(good);
    struct Case {
        const char* name;
        Bytes primary, first, second;
        bool found;
    };
    const Case cases[] = {
        {"primary good", good, bad, bad, true},
        {"first backup good", bad, good, bad, true},
        {"second backup good", bad, bad, good, true},
        {"all bad", bad, bad, bad, false},
    };
    for (const Model* model : kEepromModels) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(model->name) + ", " + c.name);
            SimBox& box = open(*model);
            storeCopies(*model, box, c.primary, c.first, c.second);
            const auto before = model->memory(box);
            int result = 1;
            const Bytes out = readNumber(*model, &result);
            if (c.found) {
                EXPECT_EQ(result, 0);
                EXPECT_EQ(out, user);
            } else {
                // The EEPROM boxes say that no copy passed; the Tz2401B has
                // no number to give.
                EXPECT_EQ(result, model->product == OLVA_PRODUCT_TZ2401B ? -1 : OLVA_ERR_USERNUM_CHECK);
                EXPECT_EQ(out, Bytes(16, 0xEE));
            }
            // The primary is not rewritten from a backup.
            EXPECT_EQ(model->memory(box), before);
            box_.hidClose();
        }
    }
}

TEST_F(BoxEepromTest, WithoutTheMarkerThePrimaryIsTakenAsItIs)
{
    SimBox& box = open(kReport17Model);
    kReport17Model.preset(box, 111, user_number(9));
    int result = 1;
    EXPECT_EQ(usernum(box_, &result), user_number(9));
    EXPECT_EQ(result, 0);
}

TEST_F(BoxEepromTest, APrimaryReadInPartIsNoCopy)
{
    // A zero primary passes its check when read whole; when one of its
    // reads fails it is not taken for zeros, whatever the backups hold.
    const Bytes zeros(17, 0);
    const Bytes good = checked(user_number(0x22));
    struct Case {
        const Model* model;
        std::function<void(SimBox&)> fail_second_piece;
    };
    const Case cases[] = {
        {&kTz2401bModel, [](SimBox& box) { static_cast<SimTz2401Box&>(box).refuseEepromRead(104); }},
        {&kReport17Model, [](SimBox& box) { static_cast<SimReport17Box&>(box).spoilReadAt(119); }},
    };
    for (const Case& c : cases) {
        for (const bool backup_good : {true, false}) {
            SCOPED_TRACE(std::string(c.model->name) + (backup_good ? ", backup good" : ", no backup"));
            SimBox& box = open(*c.model);
            storeCopies(*c.model, box, zeros, backup_good ? good : spoiled(good), spoiled(good));
            c.fail_second_piece(box);
            int result = 1;
            const Bytes out = readNumber(*c.model, &result);
            if (backup_good) {
                EXPECT_EQ(result, 0);
                EXPECT_EQ(out, user_number(0x22));
            } else {
                EXPECT_NE(result, 0);
                EXPECT_EQ(out, Bytes(16, 0xEE));
            }
            box_.hidClose();
        }
    }
}

TEST_F(BoxEepromTest, ABackupThatCannotBeReadIsSkipped)
{
    // The first backup holds a good number but one of its reads fails: it is
    // passed over for the second, never taken in part.
    const Bytes first = checked(user_number(0x31));
    const Bytes second = checked(user_number(0x52));
    struct Case {
        const Model* model;
        std::function<void(SimBox&)> fail_middle_piece;
    };
    const Case cases[] = {
        {&kTz2401bModel, [](SimBox& box) { static_cast<SimTz2401Box&>(box).refuseEepromRead(26); }},
        {&kReport17Model, [](SimBox& box) { static_cast<SimReport17Box&>(box).spoilReadAt(26); }},
    };
    for (const Case& c : cases) {
        for (const bool second_good : {true, false}) {
            SCOPED_TRACE(std::string(c.model->name) + (second_good ? ", second good" : ", second bad"));
            SimBox& box = open(*c.model);
            storeCopies(*c.model, box, spoiled(checked(user_number(0x13))), first,
                        second_good ? second : spoiled(second));
            c.fail_middle_piece(box);
            int result = 1;
            const Bytes out = readNumber(*c.model, &result);
            if (second_good) {
                EXPECT_EQ(result, 0);
                EXPECT_EQ(out, user_number(0x52));
            } else {
                EXPECT_EQ(result, c.model->product == OLVA_PRODUCT_TZ2401B ? -1 : OLVA_ERR_USERNUM_CHECK);
                EXPECT_EQ(out, Bytes(16, 0xEE));
            }
            box_.hidClose();
        }
    }
}

TEST_F(BoxEepromTest, AWriteWithOnePieceLostFailsThoughTheOthersLand)
{
    // 17 bytes go as pieces of 8, 8 and 1; one report of the second piece
    // is never taken. The pieces before and after it land, and the write fails: a
    // part written is no write.
    for (const Model* model : kEepromModels) {
        SCOPED_TRACE(model->name);
        SimBox& box = open(*model);
        // How many transfers one piece of 8 takes on this model.
        const Bytes probe(8, 0x5A);
        const int start = sim_.transferCount(box);
        ASSERT_EQ(box_.olva_write_eeprom(0x60, probe.data(), 8), 0);
        const int piece = sim_.transferCount(box) - start;
        ASSERT_GT(piece, 0);

        Bytes data(17);
        std::iota(data.begin(), data.end(), std::uint8_t{0x81});
        // A report is sent up to three times.
        sim_.failTransfers(box, olva_sim::kAllTransfers, piece + piece / 2, 3, usb::kErrorIo);
        EXPECT_EQ(box_.olva_write_eeprom(0x40, data.data(), 17), -1);
        EXPECT_FALSE(sim_.faultPending(box));
        const auto memory = model->memory(box);
        EXPECT_EQ(Bytes(memory.begin() + 0x40, memory.begin() + 0x48), Bytes(data.begin(), data.begin() + 8));
        EXPECT_EQ(memory[0x50], data[16]);
        // Whole, the same write succeeds.
        EXPECT_EQ(box_.olva_write_eeprom(0x40, data.data(), 17), 0);
        box_.hidClose();
    }
}

TEST_F(BoxEepromTest, ANewOpenForgetsTheLastBoxsNumber)
{
    // The slot's box object serves one box after another.
    auto& first = static_cast<SimTz2401Box&>(kTz2401bModel.plug(sim_));
    first.setEeprom(96, checked(user_number(1)));
    ASSERT_TRUE(box_.hid_open(sim_.path(first).c_str(), 1, OLVA_PRODUCT_TZ2401B));
    ASSERT_TRUE(box_.get_2401B_user());
    int result = 1;
    ASSERT_EQ(usernum(box_, &result), user_number(1));

    auto& second = static_cast<SimTz2401Box&>(kTz2401bModel.plug(sim_));
    for (unsigned at : {18u, 35u, 96u})
        second.setEeprom(static_cast<std::uint8_t>(at), spoiled(checked(user_number(2))));
    ASSERT_TRUE(box_.hid_open(sim_.path(second).c_str(), 1, OLVA_PRODUCT_TZ2401B));
    EXPECT_FALSE(box_.get_2401B_user());
    EXPECT_EQ(usernum(box_, &result), Bytes(16, 0xEE));
    EXPECT_EQ(result, -1);
    // Nor is the area read as bytes.
    Bytes area(4, 0xEE);
    EXPECT_EQ(box_.olva_read_eepromEx(0, area.data(), 4), -1);
}

TEST_F(BoxEepromTest, AChipReadThatFailsLeavesTheCallersBytes)
{
    SimBox& box = open(kTz2501bModel);
    static_cast<SimRegisterBox&>(box).setMemory(0x52, 112, user_number(3));
    sim_.failTransfers(box, olva_sim::kGetReports, 6, 1, usb::kErrorTimeout);
    int result = 1;
    EXPECT_EQ(usernum(box_, &result), Bytes(16, 0xEE));
    EXPECT_EQ(result, -1);
    EXPECT_EQ(usernum(box_, &result), user_number(3));
    EXPECT_EQ(result, 0);
}

TEST_F(BoxEepromTest, BytesRoundTripAtBoxAddresses)
{
    struct Case {
        const Model* model;
        unsigned addr;
        std::size_t length;
        unsigned memory_addr;  // where the bytes land in the model's memory
        std::uint8_t device;   // Tz2701A controller device
    };
    const Case cases[] = {
        {&kReport17Model, 0, 9, 0, 0},    {&kReport17Model, 0x6F, 17, 0x6F, 0}, {&kTz2501aModel, 3, 9, 3, 0},
        {&kTz2501bModel, 102, 9, 76, 0},  {&kTz2501bModel, 105, 2, 79, 0},      {&kTz2402dModel, 110, 1, 84, 0},
        {&kTz2701aModel, 1024, 9, 4, 4},  {&kTz2701aModel, 1030, 3, 10, 4},     {&kTz2701aModel, 1276, 4, 1, 5},
    };
    std::uint8_t seed = 0x10;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.model->name) + " at " + std::to_string(c.addr));
        SimBox& box = open(*c.model);
        auto memory = [&] {
            return c.model->product == OLVA_PRODUCT_TZ2701A
                       ? static_cast<SimTz2401Box&>(box).controllerMemory(c.device)
                       : c.model->memory(box);
        };
        const auto before = memory();
        Bytes data(c.length);
        for (auto& byte : data)
            byte = seed++;
        ASSERT_EQ(box_.olva_write_eeprom(c.addr, data.data(), static_cast<int>(data.size())), 0);
        const auto after = memory();
        for (std::size_t i = 0; i < 256; ++i) {
            const std::size_t offset = (i - c.memory_addr) & 0xFF;
            EXPECT_EQ(after[i], offset < c.length ? data[offset] : before[i]) << "byte " << i;
        }
        Bytes read(c.length, 0xEE);
        ASSERT_EQ(box_.olva_read_eepromEx(c.addr, read.data(), static_cast<int>(read.size())), 0);
        EXPECT_EQ(read, data);
        box_.hidClose();
    }
}

TEST_F(BoxEepromTest, Tz2401bReadsAreServedFromTheNumberFoundAtOpen)
{
    SimBox& box = open(kTz2401bModel);
    const Bytes copy = checked(user_number(5));
    kTz2401bModel.preset(box, 96, copy);
    ASSERT_TRUE(box_.get_2401B_user());
    Bytes read(17, 0);
    ASSERT_EQ(box_.olva_read_eepromEx(0, read.data(), 17), 0);
    EXPECT_EQ(read, copy);
    Bytes nine(9);
    EXPECT_EQ(box_.olva_read_eepromEx(120, nine.data(), 9), -1);
    EXPECT_EQ(box_.olva_read_eepromEx(119, nine.data(), 9), 0);
    // A write goes to the box, and nothing for no bytes.
    sim_.clearTrace();
    EXPECT_EQ(box_.olva_write_eeprom(0, copy.data(), 0), -1);
    EXPECT_TRUE(sim_.reports(box).empty());
}

TEST_F(BoxEepromTest, Tz2701aWriteIsOneEraseThenPiecesAndFailsWhenOneFails)
{
    SimBox& box = open(kTz2701aModel);
    auto& tz2701 = static_cast<SimTz2401Box&>(box);
    tz2701.setControllerMemory(4, 8, {0xA0, 0xA1, 0xA2, 0xA3});
    sim_.clearTrace();
    const Bytes five = {1, 2, 3, 4, 5};
    ASSERT_EQ(box_.olva_write_eeprom(1024, five.data(), 5), 0);
    EXPECT_THAT(tz2701.erasedUnits(), ElementsAre(2));
    EXPECT_THAT(sim_.reports(box),
                ElementsAre(Bytes{3, 0xA1, 0x30, 2, 0xCF, 0xFD, 0, 7}, Bytes{3, 0xA2, 0x55, 0x55, 0x55, 0, 0, 7},
                            Bytes{3, 0xA1, 0x31, 4, 4, 1, 0, 7}, Bytes{3, 0xA2, 2, 3, 4, 0, 0, 7},
                            // The last byte's piece keeps the three stored beside it.
                            Bytes{3, 0xA5, 0, 0x32, 4, 8, 0, 0}, Bytes{3, 0xA0, 0xA3, 7, 0, 4, 8, 0},
                            Bytes{3, 0xA1, 0x31, 4, 8, 5, 0, 7}, Bytes{3, 0xA2, 0xA1, 0xA2, 0xA3, 0, 0, 7}));

    // One piece the box never takes: the write failed, though others went.
    sim_.failTransfers(box, olva_sim::kOutputTransfers, 4, 4, usb::kErrorIo);
    const Bytes eight(8, 0x77);
    EXPECT_EQ(box_.olva_write_eeprom(1024, eight.data(), 8), -1);
    // No bytes: nothing is erased.
    sim_.clearTrace();
    EXPECT_EQ(box_.olva_write_eeprom(1024, eight.data(), 0), -1);
    EXPECT_TRUE(sim_.reports(box).empty());
}

TEST_F(BoxEepromTest, TheUsbChipWindowIsKept)
{
    SimBox& box = open(kTz2501bModel);
    const Bytes two = {1, 2};
    sim_.clearTrace();
    for (unsigned addr : {101u, 111u, 110u})
        EXPECT_EQ(box_.olva_write_eeprom(addr, two.data(), 2), -1) << addr;
    Bytes read(2);
    EXPECT_EQ(box_.olva_read_eepromEx(101, read.data(), 2), -1);
    EXPECT_TRUE(sim_.reports(box).empty());
    // The codec's configuration beside the window is untouched.
    EXPECT_EQ(kTz2501bModel.memory(box)[75], 0xFF);
    EXPECT_EQ(kTz2501bModel.memory(box)[85], 0xFF);
}

}  // namespace
