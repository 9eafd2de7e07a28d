// The boxes' status reports through the library, with simulated boxes and
// the manager driven by hand: the Tz2401B's status codes with code 19 as
// its line clock, the Tz2501B's status bits, the line voltage (event 16)
// of both firmware forms, and the line thresholds.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "cavrel_olva.h"
#include "olva_manager/olva_manager.h"
#include "sim/sim_register_box.h"
#include "sim/sim_tz2401.h"
#include "support/box_sim_fixture.h"
#include "support/event_recorder.h"
#include "support/eventually.h"
#include "support/fake_pcm.h"
#include "support/manual_drive_fixture.h"
#include "support/tz2401_reports.h"

namespace {

using olva_sim::SimBox;
using olva_sim::SimRegisterBox;
using olva_sim::SimTz2401Box;
using olva_test::EventRecorder;
using olva_test::LibraryEvent;
using platform::PcmStream;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Bytes = olva_test::HidReport;
using olva_test::tz2401Status;
using olva_test::tz2401Voltage;

constexpr unsigned long kTz2401bHandle = 0x101;
constexpr unsigned long kTz2501bHandle = 0x201;

// The line state each event's callback read back through the library.
std::mutex g_states_mutex;
std::vector<int> g_states_in_callback;  // g_states_mutex

// Records the event and asks the library for the line's state from inside
// the callback, on the raising thread.
void callingBackCallback(unsigned long handle, int event, unsigned long p1, unsigned long p2,
                         unsigned long p3, unsigned long p4)
{
    const int state = olva_get_line_state(handle);
    {
        std::lock_guard<std::mutex> lock(g_states_mutex);
        g_states_in_callback.push_back(state);
    }
    EventRecorder::callback(handle, event, p1, p2, p3, p4);
}

// Tz2501B status byte 1 for the three status bits.
std::uint8_t tz2501bStatus(std::uint8_t bits)
{
    return static_cast<std::uint8_t>(((bits & 1) << 5) | (((bits >> 1) & 1) << 7) |
                                     (((bits >> 2) & 1) << 6));
}

class StatusTest : public olva_test::ManualDriveTest {
protected:
    void SetUp() override
    {
        clearRecords();
        ASSERT_NO_FATAL_FAILURE(openLibrary(&callingBackCallback));
    }
    static void clearRecords()
    {
        recorder().clear();
        std::lock_guard<std::mutex> lock(g_states_mutex);
        g_states_in_callback.clear();
    }

    void addCard(const SimBox& box, int card, const char* usbid)
    {
        listCard(box, card, usbid);
        const std::string number = std::to_string(card);
        pcm_.addDevice("hw:" + number + ",0", PcmStream::kCapture);
        pcm_.addDevice("plughw:" + number + ",0", PcmStream::kPlayback);
    }
    // A Tz2401B in slot 1, open, its open's events cleared.
    SimTz2401Box& openTz2401b(std::uint8_t version = 0x42)
    {
        SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b(version));
        addCard(box, 1, olva_test::kTz2401CardId);
        EXPECT_EQ(manager().search_pass(), 1);
        clearRecords();
        tz2401b_ = &box;
        return box;
    }
    // A Tz2501B in slot 2 (a Tz2401B is in slot 1), idle with its
    // extension on-hook.
    SimRegisterBox& openTz2501b()
    {
        openTz2401b();
        SimRegisterBox& box = sim_.plug<SimRegisterBox>();
        box.setStatus(tz2501bStatus(0b110));
        addCard(box, 2, olva_test::kTz2501BCardId);
        EXPECT_EQ(manager().search_pass(), 1);
        clearRecords();
        return box;
    }
    void push(const SimBox& box, const std::vector<Bytes>& reports)
    {
        olva_test::pushReports(sim_, box, reports);
    }
    void hold(const SimBox& box, std::uint8_t code, int steps)
    {
        olva_test::holdStatus(sim_, box, code, steps);
    }
    // Line steps of the manager's timer, the wall clock moving on as much.
    void lineSteps(int steps)
    {
        for (int i = 0; i < steps * 5; ++i) {
            clock_.advanceMs(20);
            manager().timer_tick();
        }
    }
    // Waits until the Tz2501B's poll has handed the line this raw state.
    bool polled(ENUM_OLVA_STATE state)
    {
        return olva_test::eventually(
            [&] { return manager().slot(2).line(1).pending_state() == state; });
    }
    // The poll saves the line's state before the extension's: both are
    // waited for.
    bool polled(ENUM_OLVA_STATE state, int extension)
    {
        return olva_test::eventually([&] {
            const CLineDevice& line = manager().slot(2).line(1);
            return line.pending_state() == state && line.slic_pending_state() == extension;
        });
    }
    std::vector<int> eventCodes(unsigned long handle) const
    {
        std::vector<int> codes;
        for (const LibraryEvent& e : recorder().lineEvents())
            if (e.handle == handle)
                codes.push_back(e.event);
        return codes;
    }
    static std::vector<int> statesInCallback()
    {
        std::lock_guard<std::mutex> lock(g_states_mutex);
        return g_states_in_callback;
    }

    olva_test::FakePcmFactory pcm_;
    SimTz2401Box* tz2401b_ = nullptr;  // the one in slot 1
};

TEST_F(StatusTest, Tz2401bStatusCodesDriveItsLineWithCode19AsTheClock)
{
    SimTz2401Box& box = openTz2401b();
    // Two steps do not confirm a state; the third does.
    hold(box, 15, 2);
    EXPECT_EQ(olva_get_line_state(kTz2401bHandle), OLVA_STATE_IDLE);
    EXPECT_EQ(manager().slot(1).line(1).pending_state(), OLVA_STATE_RINGING);
    hold(box, 15, 1);
    EXPECT_EQ(olva_get_line_state(kTz2401bHandle), OLVA_STATE_RINGING);
    hold(box, 8, 3);
    hold(box, 22, 3);
    hold(box, 8, 6);
    EXPECT_THAT(recorder().lineEvents(),
                ElementsAre(LibraryEvent{kTz2401bHandle, OLVA_EVENT_LINE_RING, 0, 0},
                            LibraryEvent{kTz2401bHandle, OLVA_EVENT_LINE_RING, 0, 0},
                            LibraryEvent{kTz2401bHandle, OLVA_EVENT_RING_STOP, 0, 0},
                            LibraryEvent{kTz2401bHandle, OLVA_EVENT_LINE_HOOK_OFF, 0, 0},
                            LibraryEvent{kTz2401bHandle, OLVA_EVENT_LINE_HOOK_ON, 0, 0}));
    // Each callback asked the library for the line's state on the HID read
    // thread without deadlock.
    EXPECT_THAT(statesInCallback(),
                ElementsAre(OLVA_STATE_RINGING, OLVA_STATE_RINGING, OLVA_STATE_IDLE,
                            OLVA_STATE_OFF_HOOK, OLVA_STATE_IDLE));

    // A lost line, reported after hang_wait_time.
    recorder().clear();
    hold(box, 7, 7);
    EXPECT_THAT(eventCodes(kTz2401bHandle), IsEmpty());
    hold(box, 7, 1);
    EXPECT_THAT(eventCodes(kTz2401bHandle), ElementsAre(OLVA_EVENT_LING_HANG));
    EXPECT_EQ(olva_get_line_state(kTz2401bHandle), OLVA_STATE_FLOATING);
}

TEST_F(StatusTest, ARingNotAnsweredIsCancelledByTheTz2401bsClock)
{
    SimTz2401Box& box = openTz2401b();
    hold(box, 15, 4);
    // 300 ms of debounce and ring_cancel_time (7000 ms) of idle.
    hold(box, 8, 72);
    EXPECT_THAT(eventCodes(kTz2401bHandle),
                ElementsAre(OLVA_EVENT_LINE_RING, OLVA_EVENT_LINE_RING, OLVA_EVENT_RING_STOP));
    hold(box, 8, 1);
    EXPECT_THAT(eventCodes(kTz2401bHandle),
                ElementsAre(OLVA_EVENT_LINE_RING, OLVA_EVENT_LINE_RING, OLVA_EVENT_RING_STOP,
                            OLVA_EVENT_RING_CANCEL));
}

TEST_F(StatusTest, Tz2401bReportsThatAreNoStatusChangeNothing)
{
    SimTz2401Box& box = openTz2401b();
    push(box, {
                  {2, 15, 1, 0, 0, 0, 0, 0},  // another report id
                  {3, 15, 2, 0, 0, 0, 0, 0},  // another kind
                  tz2401Status(9),            // no status code
                  tz2401Status(19),
                  tz2401Status(19),
                  tz2401Status(19),
                  tz2401Status(19),
              });
    EXPECT_EQ(manager().slot(1).line(1).pending_state(), OLVA_STATE_IDLE);
    EXPECT_EQ(olva_get_line_state(kTz2401bHandle), OLVA_STATE_IDLE);
    EXPECT_THAT(recorder().lineEvents(), IsEmpty());

    // The manager's timer leaves the Tz2401B to its own reports.
    hold(box, 22, 0);
    lineSteps(5);
    EXPECT_EQ(olva_get_line_state(kTz2401bHandle), OLVA_STATE_IDLE);
    hold(box, 22, 3);
    EXPECT_EQ(olva_get_line_state(kTz2401bHandle), OLVA_STATE_OFF_HOOK);
}

TEST_F(StatusTest, OnlyATz2401bDecodesTz2401bReports)
{
    openTz2501b();
    ASSERT_TRUE(polled(OLVA_STATE_IDLE));
    // Handed straight to the Tz2501B's box: not its report form.
    auto& box = const_cast<OlvaManager::CUsbBoxDevice&>(manager().slot(2));
    const Bytes ring = tz2401Status(15);
    box.handle_hid_read(ring.data(), ring.size());
    const Bytes clock = tz2401Status(19);
    for (int i = 0; i < 3; ++i)
        box.handle_hid_read(clock.data(), clock.size());
    EXPECT_EQ(olva_get_line_state(kTz2501bHandle), OLVA_STATE_IDLE);
    EXPECT_THAT(recorder().lineEvents(), IsEmpty());
}

TEST_F(StatusTest, Tz2501bStatusBitsGiveLineAndExtensionStates)
{
    SimRegisterBox& box = openTz2501b();
    const struct {
        std::uint8_t bits;
        ENUM_OLVA_STATE line;
        int extension;
    } cases[] = {
        {0b110, OLVA_STATE_IDLE, OLVA_STATE_IDLE},
        {0b001, OLVA_STATE_REVERSE_OFF_HOOK, OLVA_STATE_OFF_HOOK},
        {0b111, OLVA_STATE_POSITIVE_OFF_HOOK, OLVA_STATE_IDLE},
        {0b000, OLVA_STATE_RINGING, OLVA_STATE_OFF_HOOK},
        {0b110, OLVA_STATE_IDLE, OLVA_STATE_IDLE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.bits));
        box.setStatus(tz2501bStatus(c.bits));
        ASSERT_TRUE(polled(c.line, c.extension));
        // The poll hands the same bits on every 10 ms: the debounce still
        // ends after three steps.
        lineSteps(3);
        EXPECT_EQ(olva_get_line_state(kTz2501bHandle), c.line);
        EXPECT_EQ(manager().slot(2).line(1).slic_confirmed_state(), c.extension);
    }
}

TEST_F(StatusTest, Tz2501bLineAndExtensionRaiseTheirEvents)
{
    SimRegisterBox& box = openTz2501b();
    box.setStatus(tz2501bStatus(0b011));  // positive off-hook, extension off-hook
    ASSERT_TRUE(polled(OLVA_STATE_POSITIVE_OFF_HOOK, OLVA_STATE_OFF_HOOK));
    lineSteps(2);
    EXPECT_THAT(recorder().lineEvents(), IsEmpty());
    lineSteps(1);
    EXPECT_THAT(recorder().lineEvents(),
                ElementsAre(LibraryEvent{kTz2501bHandle, OLVA_EVENT_LINE_HOOK_OFF, 7, 0},
                            LibraryEvent{kTz2501bHandle, OLVA_EVENT_LINE_HOOK_OFF, 0, 0}));
    recorder().clear();
    box.setStatus(tz2501bStatus(0b001));  // reversed, extension still off-hook
    ASSERT_TRUE(polled(OLVA_STATE_REVERSE_OFF_HOOK));
    lineSteps(3);
    box.setStatus(tz2501bStatus(0b110));
    ASSERT_TRUE(polled(OLVA_STATE_IDLE, OLVA_STATE_IDLE));
    lineSteps(6);
    EXPECT_THAT(recorder().lineEvents(),
                ElementsAre(LibraryEvent{kTz2501bHandle, OLVA_EVENT_POLARITY, 1, 0},
                            LibraryEvent{kTz2501bHandle, OLVA_EVENT_LINE_HOOK_ON, 0, 0},
                            LibraryEvent{kTz2501bHandle, OLVA_EVENT_LINE_HOOK_ON, 0, 0}));
}

// The soft hook takes the line through the extension circuit: the box then
// reports its extension lifted, which raises 12, and put down, which
// raises 30, each after the debounce.
TEST_F(StatusTest, Tz2501bSoftHookRoundTrip)
{
    SimRegisterBox& box = openTz2501b();
    EXPECT_EQ(olva_soft_hook_off(kTz2501bHandle), 0);
    EXPECT_EQ(box.latch2(4), 1);
    box.setStatus(tz2501bStatus(0b010));  // idle line, extension off-hook
    ASSERT_TRUE(polled(OLVA_STATE_IDLE, OLVA_STATE_OFF_HOOK));
    lineSteps(3);
    EXPECT_THAT(recorder().lineEvents(),
                ElementsAre(LibraryEvent{kTz2501bHandle, OLVA_EVENT_LINE_HOOK_OFF, 0, 0}));
    recorder().clear();
    EXPECT_EQ(olva_soft_hook_on(kTz2501bHandle), 0);
    EXPECT_EQ(box.latch2(4), 0);
    box.setStatus(tz2501bStatus(0b110));
    ASSERT_TRUE(polled(OLVA_STATE_IDLE, OLVA_STATE_IDLE));
    lineSteps(3);
    EXPECT_THAT(recorder().lineEvents(),
                ElementsAre(LibraryEvent{kTz2501bHandle, OLVA_EVENT_LINE_HOOK_ON, 0, 0}));
    // The Tz2401B has no soft hook.
    EXPECT_EQ(olva_soft_hook_off(kTz2401bHandle), OLVA_ERR_FAILED);
    EXPECT_EQ(olva_soft_hook_on(0x301), OLVA_ERR_NO_DEVICE);
}

TEST_F(StatusTest, TheLineVoltageOfNewerFirmwareComesAsCheckedNibbles)
{
    SimTz2401Box& box = openTz2401b(0x42);
    EXPECT_EQ(olva_start_read_line_voltage(kTz2401bHandle), 0);
    EXPECT_TRUE(box.lineVoltageReading());
    // 167 = 0xA7: byte 5 holds 0xA, byte 4 0x7 and a check nibble that
    // makes the sum of the nibbles 0 modulo 16.
    const struct {
        const char* name;
        Bytes report;
        std::vector<LibraryEvent> events;
    } cases[] = {
        {"167", tz2401Voltage(0, 0x7F, 0x0A), {{kTz2401bHandle, OLVA_EVENT_LINE_VOLTAGE, 167, 0}}},
        {"1", tz2401Voltage(200, 0x1F, 0x00), {{kTz2401bHandle, OLVA_EVENT_LINE_VOLTAGE, 1, 0}}},
        {"255", tz2401Voltage(0, 0xF2, 0xFF), {{kTz2401bHandle, OLVA_EVENT_LINE_VOLTAGE, 255, 0}}},
        {"check nibble not 0", tz2401Voltage(0, 0x7E, 0x0A), {}},
        {"voltage 0", tz2401Voltage(50, 0x00, 0x00), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        recorder().clear();
        push(box, {c.report});
        EXPECT_EQ(recorder().lineEvents(), c.events);
    }

    // Not while reading is off.
    EXPECT_EQ(olva_stop_read_line_voltage(kTz2401bHandle), 0);
    EXPECT_FALSE(box.lineVoltageReading());
    recorder().clear();
    push(box, {tz2401Voltage(0, 0x7F, 0x0A)});
    EXPECT_THAT(recorder().lineEvents(), IsEmpty());
}

TEST_F(StatusTest, TheLineVoltageOfOlderFirmwareIsByteOne)
{
    SimTz2401Box& box = openTz2401b(0x30);
    // The reading flag is not consulted: it is off here.
    EXPECT_FALSE(manager().slot(1).line_voltage_reading());
    const struct {
        std::uint8_t volts;
        bool reported;
    } cases[] = {{0, false}, {1, true}, {48, true}, {253, true}, {254, false}, {255, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.volts));
        recorder().clear();
        push(box, {tz2401Voltage(c.volts, 0x7F, 0x0A)});
        if (c.reported)
            EXPECT_THAT(recorder().lineEvents(),
                        ElementsAre(LibraryEvent{kTz2401bHandle, OLVA_EVENT_LINE_VOLTAGE, c.volts, 0}));
        else
            EXPECT_THAT(recorder().lineEvents(), IsEmpty());
    }
}

TEST_F(StatusTest, VoltageReadingIsOfferedByTheTz2401bOnly)
{
    SimRegisterBox& tz2501b = openTz2501b();
    const std::size_t reports = sim_.reports(tz2501b).size();
    EXPECT_EQ(olva_start_read_line_voltage(kTz2501bHandle), -1);
    EXPECT_EQ(olva_stop_read_line_voltage(kTz2501bHandle), 0);
    EXPECT_EQ(sim_.reports(tz2501b).size(), reports);
    EXPECT_EQ(olva_start_read_line_voltage(static_cast<unsigned long>(-1)), -3);
    EXPECT_EQ(olva_start_read_line_voltage(0x301), -2);
    EXPECT_EQ(olva_stop_read_line_voltage(0x301), -2);
    EXPECT_THAT(recorder().lineEvents(), IsEmpty());

    // The Tz2401B is sent the reading on and off.
    EXPECT_EQ(olva_start_read_line_voltage(kTz2401bHandle), 0);
    EXPECT_EQ(tz2401b_->commandCount(0xFE), 1);
    EXPECT_EQ(tz2401b_->commandCount(0x70), 1);
    EXPECT_TRUE(tz2401b_->lineVoltageReading());
    const int stops = tz2401b_->commandCount(0x90);
    EXPECT_EQ(olva_stop_read_line_voltage(kTz2401bHandle), 0);
    EXPECT_EQ(tz2401b_->commandCount(0x90), stops + 1);
    EXPECT_FALSE(tz2401b_->lineVoltageReading());
}

TEST_F(StatusTest, ThresholdsAreSetOnTheTz2401bAsThresholdWords)
{
    SimTz2401Box& box = openTz2401b();
    EXPECT_EQ(olva_set_hang_threshold(kTz2401bHandle, 18), 0);
    EXPECT_EQ(box.hangWord(), 0x12D);
    EXPECT_EQ(olva_set_hookoff_threshold(kTz2401bHandle, 3), 0);
    EXPECT_EQ(box.hookOffWord(), 0x03D);
    EXPECT_EQ(olva_set_hookoff_threshold(kTz2401bHandle, 15), 0);
    EXPECT_EQ(box.hookOffWord(), 0x0F1);

    // Values without a threshold word are refused and nothing is sent.
    const int sent = box.commandCount(0xB8);
    for (unsigned value : {0xFFu, 0x99u, 256u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(value);
        EXPECT_EQ(olva_set_hang_threshold(kTz2401bHandle, value), -4);
    }
    EXPECT_EQ(box.commandCount(0xB8), sent);
    EXPECT_EQ(box.hangWord(), 0x12D);

    // A report that does not go out fails the call.
    sim_.failTransfers(box, olva_sim::kOutputTransfers, 0, 3, usb::kErrorIo);
    EXPECT_EQ(olva_set_hang_threshold(kTz2401bHandle, 3), -1);
    EXPECT_EQ(box.hangWord(), 0x12D);

    // The box's thresholds cannot be read back in this work mode.
    EXPECT_EQ(olva_get_hang_threshold(kTz2401bHandle), -6);
    EXPECT_EQ(olva_get_hookoff_threshold(kTz2401bHandle), -6);
}

TEST_F(StatusTest, OtherBoxesHaveNoThresholds)
{
    openTz2501b();
    EXPECT_EQ(olva_set_hang_threshold(kTz2501bHandle, 3), -15);
    EXPECT_EQ(olva_set_hookoff_threshold(kTz2501bHandle, 18), -15);
    EXPECT_EQ(olva_get_hang_threshold(kTz2501bHandle), -15);
    EXPECT_EQ(olva_get_hookoff_threshold(kTz2501bHandle), -15);
    EXPECT_EQ(olva_get_hang_threshold(static_cast<unsigned long>(-1)), -3);
    EXPECT_EQ(olva_set_hang_threshold(0x301, 3), -2);
    EXPECT_EQ(olva_get_hookoff_threshold(0x301), -2);
}

}  // namespace
