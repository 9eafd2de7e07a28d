// The library through its interface, with simulated boxes and the manager
// driven by hand: discovery into the two slots, handles and events, plug-out
// and return, closing and opening again, and the result codes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <sstream>

#include "base/base_ini.h"
#include "cavrel_olva.h"
#include "olva_device/dtmf_send_settings.h"
#include "olva_manager/event_formatter.h"
#include "olva_manager/olva_manager.h"
#include "sim/sim_register_box.h"
#include "sim/sim_tz2401.h"
#include "support/box_sim_fixture.h"
#include "support/event_recorder.h"
#include "support/eventually.h"
#include "support/fake_pcm.h"
#include "support/manual_drive_fixture.h"
#include "support/thread_count.h"

namespace {

using olva_sim::SimBox;
using olva_sim::SimRegisterBox;
using olva_sim::SimTz2401Box;
using olva_test::EventRecorder;
using olva_test::FakePcmDevice;
using olva_test::LibraryEvent;
using olva_test::thread_count;
using platform::PcmStream;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

constexpr unsigned long kNoHandle = static_cast<unsigned long>(-1);

class LibraryTest : public olva_test::ManualDriveTest {
protected:
    struct Card {
        FakePcmDevice& capture;
        FakePcmDevice& playback;
    };
    Card addCard(const SimBox& box, int card, const char* usbid)
    {
        listCard(box, card, usbid);
        const std::string number = std::to_string(card);
        return {pcm_.addDevice("hw:" + number + ",0", PcmStream::kCapture),
                pcm_.addDevice("plughw:" + number + ",0", PcmStream::kPlayback)};
    }
    SimTz2401Box& plugTz2401b(int card)
    {
        SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
        cards_by_box_.emplace(&box, addCard(box, card, olva_test::kTz2401CardId));
        return box;
    }
    SimRegisterBox& plugTz2501b(int card)
    {
        SimRegisterBox& box = sim_.plug<SimRegisterBox>();
        cards_by_box_.emplace(&box, addCard(box, card, olva_test::kTz2501BCardId));
        return box;
    }
    Card& cardOf(const SimBox& box) { return cards_by_box_.at(&box); }
    // The box leaves the bus and its sound card goes with it.
    void unplug(const SimBox& box)
    {
        sim_.unplug(box);
        cardOf(box).capture.unplug();
        cardOf(box).playback.unplug();
    }
    // Back under a new address, with a new sound card.
    void replug(const SimBox& box, int card, const char* usbid)
    {
        sim_.replug(box);
        cards_by_box_.erase(&box);
        cards_by_box_.emplace(&box, addCard(box, card, usbid));
    }
    static bool slotFree(int slot) { return manager().slot(slot).device_index() == -1; }
    // A plug-out has ended: the slot is free and the box's threads are gone.
    static bool waitForEnd(int slot)
    {
        return olva_test::eventually([slot] {
            const OlvaManager::CUsbBoxDevice& box = manager().slot(slot);
            return box.device_index() == -1 && !box.capture_running() && !box.read_thread_active();
        });
    }

    olva_test::FakePcmFactory pcm_;
    std::map<const SimBox*, Card> cards_by_box_;
};


TEST_F(LibraryTest, BoxesFoundOnTheBusAreOpenedInSlotsOneAndTwo)
{
    plugTz2401b(1);
    plugTz2501b(2);
    EXPECT_EQ(manager().search_pass(), 2);

    EXPECT_THAT(recorder().events(),
                ElementsAre(LibraryEvent{0x101, OLVA_EVENT_PLUG_IN, 0, 0},
                            LibraryEvent{0x101, OLVA_EVENT_LINE_HOOK_ON, 0, 0},
                            LibraryEvent{0x201, OLVA_EVENT_PLUG_IN, 0, 0},
                            LibraryEvent{0x201, OLVA_EVENT_LINE_HOOK_ON, 0, 0}));
    // The events of an open come on the thread that searched.
    for (std::thread::id thread : recorder().threads())
        EXPECT_EQ(thread, std::this_thread::get_id());

    EXPECT_EQ(olva_get_line_state(0x101), OLVA_STATE_IDLE);
    EXPECT_EQ(olva_get_line_state(0x102), -1);  // the Tz2401B has one line
    EXPECT_EQ(olva_get_line_state(0x201), OLVA_STATE_IDLE);
    EXPECT_EQ(olva_get_line_state(0x202), OLVA_STATE_IDLE);
    EXPECT_EQ(olva_get_product_ID(0x101), OLVA_PRODUCT_TZ2401B);
    EXPECT_EQ(olva_get_product_ID(0x202), OLVA_PRODUCT_TZ2501B);
    float version = 0;
    EXPECT_EQ(olva_get_device_versionnum(0x101, &version), 0);
    EXPECT_FLOAT_EQ(version, 4.2f);
    EXPECT_EQ(manager().slot(1).sound_card(), 1);
    EXPECT_EQ(manager().slot(2).sound_card(), 2);

    // The next pass finds both open.
    recorder().clear();
    EXPECT_EQ(manager().search_pass(), 0);
    EXPECT_THAT(recorder().events(), IsEmpty());
}

TEST_F(LibraryTest, ProductNamesAreCopiedWithoutTheirEnd)
{
    plugTz2401b(1);
    plugTz2501b(2);
    ASSERT_EQ(manager().search_pass(), 2);
    struct Case {
        unsigned long handle;
        const char* name;
    };
    for (const Case& c : {Case{0x101, "Tz2401B"}, Case{0x201, "unknown device"},
                          Case{kNoHandle, "unknown device"}, Case{0x301, "unknown device"}}) {
        SCOPED_TRACE(c.name);
        char name[32];
        std::memset(name, '#', sizeof name);
        const int length = static_cast<int>(std::strlen(c.name));
        EXPECT_EQ(olva_get_product_name(c.handle, name), length);
        EXPECT_EQ(std::string(name, static_cast<std::size_t>(length)), c.name);
        EXPECT_EQ(name[length], '#');
    }
}

TEST_F(LibraryTest, AThirdBoxIsIgnored)
{
    SimTz2401Box& first = plugTz2401b(1);
    SimRegisterBox& second = plugTz2501b(2);
    SimTz2401Box& third = plugTz2401b(3);
    EXPECT_EQ(manager().search_pass(), 2);
    EXPECT_EQ(manager().search_pass(), 0);
    EXPECT_EQ(recorder().events().size(), 4u);
    EXPECT_EQ(manager().slot(1).path(), sim_.path(first));
    EXPECT_EQ(manager().slot(2).path(), sim_.path(second));
    EXPECT_FALSE(manager().device_is_opened(sim_.path(third).c_str()));
    EXPECT_FALSE(sim_.claimed(third));
}

TEST_F(LibraryTest, UnpluggingReportsEachAnnouncedLineOnceAndFreesTheSlot)
{
    SimTz2401Box& tz2401b = plugTz2401b(1);
    SimRegisterBox& tz2501b = plugTz2501b(2);
    ASSERT_EQ(manager().search_pass(), 2);
    recorder().clear();

    unplug(tz2401b);
    ASSERT_TRUE(recorder().waitForEvent(0x101, OLVA_EVENT_PLUG_OUT));
    ASSERT_TRUE(waitForEnd(1));
    EXPECT_EQ(olva_get_line_state(0x101), OLVA_ERR_NO_DEVICE);
    EXPECT_EQ(olva_get_line_state(0x201), OLVA_STATE_IDLE);

    unplug(tz2501b);
    ASSERT_TRUE(recorder().waitForEvent(0x201, OLVA_EVENT_PLUG_OUT));
    ASSERT_TRUE(waitForEnd(2));
    EXPECT_THAT(recorder().lineEvents(), ElementsAre(LibraryEvent{0x101, OLVA_EVENT_PLUG_OUT, 0, 0},
                                                     LibraryEvent{0x201, OLVA_EVENT_PLUG_OUT, 0, 0}));
    EXPECT_EQ(olva_get_line_state(0x201), OLVA_ERR_NO_DEVICE);
    EXPECT_EQ(olva_get_line_state(0x202), OLVA_ERR_NO_DEVICE);
    // A pass over an empty bus opens nothing.
    EXPECT_EQ(manager().search_pass(), 0);
}

TEST_F(LibraryTest, ABoxThatComesBackTakesTheFirstFreeSlot)
{
    SimTz2401Box& tz2401b = plugTz2401b(1);
    SimRegisterBox& tz2501b = plugTz2501b(2);
    ASSERT_EQ(manager().search_pass(), 2);

    // Slot 1's box comes back while slot 2 holds the other: slot 1 again.
    unplug(tz2401b);
    ASSERT_TRUE(waitForEnd(1));
    replug(tz2401b, 3, olva_test::kTz2401CardId);
    recorder().clear();
    ASSERT_EQ(manager().search_pass(), 1);
    EXPECT_THAT(recorder().events(), ElementsAre(LibraryEvent{0x101, OLVA_EVENT_PLUG_IN, 0, 0},
                                                 LibraryEvent{0x101, OLVA_EVENT_LINE_HOOK_ON, 0, 0}));
    EXPECT_EQ(manager().slot(1).sound_card(), 3);

    // Both leave; slot 2's box comes back first and takes slot 1.
    unplug(tz2401b);
    unplug(tz2501b);
    ASSERT_TRUE(waitForEnd(1));
    ASSERT_TRUE(waitForEnd(2));
    replug(tz2501b, 4, olva_test::kTz2501BCardId);
    recorder().clear();
    ASSERT_EQ(manager().search_pass(), 1);
    EXPECT_THAT(recorder().events(), ElementsAre(LibraryEvent{0x101, OLVA_EVENT_PLUG_IN, 0, 0},
                                                 LibraryEvent{0x101, OLVA_EVENT_LINE_HOOK_ON, 0, 0}));
    EXPECT_EQ(olva_get_product_ID(0x101), OLVA_PRODUCT_TZ2501B);
    EXPECT_EQ(olva_get_line_state(0x102), OLVA_STATE_IDLE);
    EXPECT_EQ(olva_get_line_state(0x201), OLVA_ERR_NO_DEVICE);
}

TEST_F(LibraryTest, BoxesThatCannotBeOpenedRaiseOpenFailedAndBlockNoSlot)
{
    SimTz2401Box& first = plugTz2401b(1);
    SimTz2401Box& second = plugTz2401b(2);
    sim_.failOpen(first, usb::kErrorAccess);
    sim_.failClaim(second, usb::kErrorBusy);
    EXPECT_EQ(manager().search_pass(), 2);
    // Each was offered slot 1 and left it free.
    EXPECT_THAT(recorder().events(), ElementsAre(LibraryEvent{0x101, OLVA_EVENT_OPEN_FAILED, 0, 0},
                                                 LibraryEvent{0x101, OLVA_EVENT_OPEN_FAILED, 0, 0}));
    EXPECT_TRUE(slotFree(1));
    EXPECT_TRUE(slotFree(2));

    // The next pass tries them again.
    recorder().clear();
    EXPECT_EQ(manager().search_pass(), 2);
    EXPECT_EQ(manager().slot(1).path(), sim_.path(first));
    EXPECT_EQ(manager().slot(2).path(), sim_.path(second));
    EXPECT_EQ(recorder().events().size(), 4u);
}

TEST_F(LibraryTest, TwoBoxesOfOneModelGetTheirOwnSoundCards)
{
    struct Case {
        const char* name;
        bool usbbus;  // the cards tell their USB location
    };
    for (const Case& c : {Case{"by location", true}, Case{"on their id alone", false}}) {
        SCOPED_TRACE(c.name);
        SimTz2401Box& a = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
        SimTz2401Box& b = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
        const auto [bus_a, address_a] = olva_test::TestBox::usbLocation(sim_.path(a));
        const auto [bus_b, address_b] = olva_test::TestBox::usbLocation(sim_.path(b));
        // The second box's card is listed first.
        asound_.set({olva_test::usbPcmLine(5, 0), olva_test::usbPcmLine(6, 0)},
                    {{5, olva_test::kTz2401CardId, c.usbbus ? olva_test::usbBusText(bus_b, address_b) : ""},
                     {6, olva_test::kTz2401CardId, c.usbbus ? olva_test::usbBusText(bus_a, address_a) : ""}});
        for (int card : {5, 6}) {
            pcm_.addDevice("hw:" + std::to_string(card) + ",0", PcmStream::kCapture);
            pcm_.addDevice("plughw:" + std::to_string(card) + ",0", PcmStream::kPlayback);
        }
        ASSERT_EQ(manager().search_pass(), 2);
        EXPECT_EQ(manager().slot(1).path(), sim_.path(a));
        EXPECT_EQ(manager().slot(1).sound_card(), c.usbbus ? 6 : 5);
        EXPECT_EQ(manager().slot(2).sound_card(), c.usbbus ? 5 : 6);
        EXPECT_EQ(manager().slot(2).capture_device_name(), c.usbbus ? "hw:5,0" : "hw:6,0");

        // Free the slots for the next case.
        olva_close();
        ASSERT_EQ(olva_open(&EventRecorder::callback), 0);
        sim_.unplug(a);
        sim_.unplug(b);
    }
}

TEST_F(LibraryTest, AfterCloseNoCallbackRunsAndTheLibraryOpensAgain)
{
    SimTz2401Box& tz2401b = plugTz2401b(1);
    SimRegisterBox& tz2501b = plugTz2501b(2);
    ASSERT_EQ(manager().search_pass(), 2);
    ASSERT_TRUE(cardOf(tz2401b).capture.isOpen());
    olva_close();
    EXPECT_EQ(g_pOlvaMgr, nullptr);
    // Every box thread has ended and every device is closed.
    EXPECT_FALSE(sim_.claimed(tz2401b));
    EXPECT_FALSE(sim_.claimed(tz2501b));
    EXPECT_FALSE(cardOf(tz2401b).capture.isOpen());
    EXPECT_FALSE(cardOf(tz2501b).playback.isOpen());
    recorder().clear();
    // What would end an open box changes nothing now: both leave the bus,
    // and their cards with them, so that the reopened library cannot find
    // the old card.
    unplug(tz2401b);
    unplug(tz2501b);
    EXPECT_EQ(olva_get_line_state(0x101), OLVA_ERR_NOT_AVAILABLE);
    EXPECT_THAT(recorder().events(), IsEmpty());

    ASSERT_EQ(olva_open(&EventRecorder::callback), 0);
    replug(tz2401b, 7, olva_test::kTz2401CardId);
    EXPECT_EQ(manager().search_pass(), 1);
    EXPECT_THAT(recorder().events(), ElementsAre(LibraryEvent{0x101, OLVA_EVENT_PLUG_IN, 0, 0},
                                                 LibraryEvent{0x101, OLVA_EVENT_LINE_HOOK_ON, 0, 0}));
}

// A box whose sound card never opened has no capture read to fail when it
// is pulled out: its HID read thread's "no device" ends it, once, as a
// failed read would.
TEST_F(LibraryTest, ABoxWithoutASoundCardIsReportedGoneAndComesBackToItsSlot)
{
    SimTz2401Box& box = sim_.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    std::optional<std::size_t> threads_before;
    for (int cycle = 0; cycle < 20; ++cycle) {
        SCOPED_TRACE(cycle);
        ASSERT_EQ(manager().search_pass(), 1);
        ASSERT_EQ(manager().slot(1).device_index(), 1);
        EXPECT_FALSE(manager().slot(1).capture_running());
        if (!threads_before)
            threads_before = thread_count();
        recorder().clear();
        sim_.unplug(box);
        ASSERT_TRUE(waitForEnd(1));
        EXPECT_THAT(recorder().events(),
                    ElementsAre(LibraryEvent{0x101, OLVA_EVENT_PLUG_OUT, 0, 0}));
        EXPECT_EQ(olva_get_line_state(0x101), OLVA_ERR_NO_DEVICE);
        sim_.replug(box);
    }
    ASSERT_EQ(manager().search_pass(), 1);
    EXPECT_EQ(manager().slot(1).device_index(), 1);
    EXPECT_EQ(thread_count(), *threads_before);
}

// A Tz2501B pulled out while its sound card still reads (or never opened)
// is ended by its status poll's "no device", once, instead of polling the
// gone box for ever.
TEST_F(LibraryTest, ATz2501bWhoseCardStillReadsIsReportedGoneWhenPulledOut)
{
    SimRegisterBox& box = plugTz2501b(1);
    for (int cycle = 0; cycle < 3; ++cycle) {
        SCOPED_TRACE(cycle);
        ASSERT_EQ(manager().search_pass(), 1);
        ASSERT_EQ(manager().slot(1).device_index(), 1);
        recorder().clear();
        sim_.unplug(box);
        ASSERT_TRUE(waitForEnd(1));
        EXPECT_THAT(recorder().lineEvents(),
                    ElementsAre(LibraryEvent{0x101, OLVA_EVENT_PLUG_OUT, 0, 0}));
        EXPECT_EQ(olva_get_line_state(0x101), OLVA_ERR_NO_DEVICE);
        sim_.replug(box);
    }
}

TEST_F(LibraryTest, HandlesAreCheckedBeforeTheBox)
{
    SimTz2401Box& box = plugTz2401b(1);
    ASSERT_EQ(manager().search_pass(), 1);
    float version = 0;
    struct Case {
        const char* name;
        int result;
        int expected;
    };
    const Case cases[] = {
        {"second open", olva_open(&EventRecorder::callback), OLVA_ERR_BUSY},
        {"line state, no handle", olva_get_line_state(kNoHandle), OLVA_ERR_INVALID_HANDLE},
        {"line state, no box", olva_get_line_state(0x301), OLVA_ERR_NO_DEVICE},
        {"line state, slot 2 empty", olva_get_line_state(0x201), OLVA_ERR_NO_DEVICE},
        {"line state, handle 0", olva_get_line_state(0), OLVA_ERR_NO_DEVICE},
        {"volume, no handle", olva_set_volume(kNoHandle, 5), OLVA_ERR_INVALID_HANDLE},
        {"volume too high, any handle", olva_set_volume(kNoHandle, 21), OLVA_ERR_INVALID_PARAM},
        {"volume too high", olva_set_volume(0x101, 21), OLVA_ERR_INVALID_PARAM},
        {"volume 20", olva_set_volume(0x101, 20), OLVA_OK},
        {"speaker volume", olva_set_Speakervolume(0x101, 12), OLVA_OK},
        {"speaker volume, no box", olva_set_Speakervolume(0x301, 12), OLVA_ERR_NO_DEVICE},
        {"pause", olva_play_pause(0x101), OLVA_ERR_FAILED},
        {"pause, no handle", olva_play_pause(kNoHandle), OLVA_ERR_INVALID_HANDLE},
        {"version, no pointer", olva_get_device_versionnum(0x101, nullptr), OLVA_ERR_INVALID_PARAM},
        {"version, no box", olva_get_device_versionnum(0x301, &version), OLVA_ERR_NO_DEVICE},
        {"product, no handle", olva_get_product_ID(kNoHandle), OLVA_ERR_INVALID_HANDLE},
        {"product, no box", olva_get_product_ID(0x301), OLVA_ERR_NO_DEVICE},
        {"product name, no buffer", olva_get_product_name(0x101, nullptr), OLVA_ERR_INVALID_PARAM},
        {"dtmf send, out of range", olva_set_send_dtmf_param(0x101, 79, 80, 1.26f, 220, 10), OLVA_ERR_FAILED},
        {"dtmf send, no box", olva_set_send_dtmf_param(0x301, 100, 80, 1.26f, 220, 10), OLVA_ERR_NO_DEVICE},
        {"gain control", olva_close_agc(0x101, 1), OLVA_OK},
        {"gain control, no handle", olva_close_agc(kNoHandle, 1), OLVA_ERR_INVALID_HANDLE},
        {"busy tone", olva_set_busy_tone(0x101, tagBusyInfo{0, 450, 420, 30, 30, 5, 12, 3}), OLVA_OK},
        {"busy tone, no box", olva_set_busy_tone(0x201, tagBusyInfo{}), OLVA_ERR_NO_DEVICE},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, c.expected) << c.name;
    EXPECT_EQ(manager().slot(1).line(1).agc_off(), 1);
    // The capture thread takes the busy-tone settings up with its next frame.
    cardOf(box).capture.feed(std::vector<std::int16_t>(160, 0));
    EXPECT_TRUE(olva_test::eventually(
        [] { return manager().slot(1).line(1).busy_tone_settings().busy_on == 30; }));
    // The volumes reached the box: microphone (2 * 20) | 0x80, speaker
    // (2 * 12 - 20) | 0x80.
    using Bytes = std::vector<std::uint8_t>;
    EXPECT_THAT(sim_.reports(box), ::testing::Contains(Bytes{3, 0x13, 0xA8, 0, 0, 0, 0, 0}));
    EXPECT_THAT(sim_.reports(box), ::testing::Contains(Bytes{3, 0x23, 0x84, 0, 0, 0, 0, 0}));
}

// The message parameter is the Tz2501A's, the buzzer the Tz2501A's, the
// Tz2501B's and the Tz2701A's; a handle without a box has no product and
// fails the check as well. Where the product has it, the box accepts.
TEST_F(LibraryTest, TheMessageParameterAndTheBuzzerAreCheckedAgainstTheProduct)
{
    plugTz2401b(1);
    plugTz2501b(2);
    ASSERT_EQ(manager().search_pass(), 2);
    sim_.clearTrace();
    struct Case {
        const char* name;
        int result;
        int expected;
    };
    const Case cases[] = {
        {"message parameter, Tz2401B", olva_set_message_param(0x101, true), OLVA_ERR_PRODUCT},
        {"message parameter, Tz2501B", olva_set_message_param(0x201, true), OLVA_ERR_PRODUCT},
        {"message parameter, no box", olva_set_message_param(0x301, true), OLVA_ERR_PRODUCT},
        {"message parameter, no handle", olva_set_message_param(kNoHandle, false), OLVA_ERR_PRODUCT},
        {"buzzer, Tz2401B", olva_open_buzzer_switch(0x101, true), OLVA_ERR_PRODUCT},
        {"buzzer on, Tz2501B", olva_open_buzzer_switch(0x201, true), OLVA_OK},
        {"buzzer off, Tz2501B line 2", olva_open_buzzer_switch(0x202, false), OLVA_OK},
        {"buzzer, no box", olva_open_buzzer_switch(0x301, true), OLVA_ERR_PRODUCT},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, c.expected) << c.name;
    // Both are answers of the box object: nothing reaches a box.
    EXPECT_THAT(sim_.trace(), IsEmpty());
}

// The GSM calls are the Tz2701A's, the routing calls the Tz2701A's and the
// Tz2501B's. A handle without a box has no product, so it fails the gate
// like another product's handle: -1, never -2 or -3; and nothing is sent.
TEST_F(LibraryTest, ProductGatedCallsAnswerMinusOneForABadHandle)
{
    plugTz2401b(1);
    plugTz2501b(2);
    ASSERT_EQ(manager().search_pass(), 2);
    sim_.clearTrace();
    char number[] = "10086";
    char text[] = "hello";
    char command[] = "AT+CSQ";
    using Call = std::function<int(unsigned long)>;
    struct Gated {
        const char* name;
        Call call;
        bool on_tz2501b;  // offered by the Tz2501B in slot 2
    };
    const Gated calls[] = {
        {"makecall", [&](unsigned long h) { return olva_makecall(h, number); }, false},
        {"reject call", [](unsigned long h) { return olva_reject_call(h); }, false},
        {"gsm command", [&](unsigned long h) { return olva_send_gsm_cmd(h, command, 6); }, false},
        {"sms", [&](unsigned long h) { return olva_send_gsm_msg(h, 0, number, text, 5); }, false},
        {"sms count", [](unsigned long h) { return olva_query_gsm_msg_number(h); }, false},
        {"sms read", [](unsigned long h) { return olva_query_gsm_msg(h, 1); }, false},
        {"sms read decoded", [](unsigned long h) { return olva_query_gsm_msgEx(h, 1); }, false},
        {"sms delete", [](unsigned long h) { return olva_delete_gsm_msg(h, 0, 1); }, false},
        {"gsm power", [](unsigned long h) { return olva_gsm_power(h, 1); }, false},
        {"boot key", [](unsigned long h) { return olva_gsm_bootkey(h, 1); }, false},
        {"select sim", [](unsigned long h) { return olva_select_simcard(h, 1); }, false},
        {"slic polarity", [](unsigned long h) { return olva_feed_slic_polarity(h, 1); }, false},
        {"gsm work mode", [](unsigned long h) { return olva_set_gsm_work_mode(h, 0, 1); }, false},
        {"talk link", [](unsigned long h) { return olva_set_talk_link(h, 1, 1); }, true},
        {"record enable", [](unsigned long h) { return olva_set_record_enable(h, 1, 1); }, true},
        {"makecall slic", [&](unsigned long h) { return olva_makecallSlic(h, 1, 0, number); }, true},
    };
    struct Handle {
        const char* name;
        unsigned long handle;
    };
    const Handle bad_handles[] = {
        {"no handle", kNoHandle}, {"no slot 3", 0x301}, {"handle 0", 0},
        {"Tz2401B line 1", 0x101}, {"Tz2401B line 2", 0x102},
    };
    for (const Gated& gated : calls) {
        for (const Handle& h : bad_handles)
            EXPECT_EQ(gated.call(h.handle), OLVA_ERR_FAILED) << gated.name << ", " << h.name;
        if (!gated.on_tz2501b) {
            EXPECT_EQ(gated.call(0x201), OLVA_ERR_FAILED) << gated.name << ", Tz2501B";
        }
    }
    EXPECT_THAT(sim_.trace(), IsEmpty());
}

// The Tz2401B's speaker byte: (2v + 108) | 0x80 below 10, (2v - 20) | 0x80
// from 10 to 16, 0x8C above 16.
TEST_F(LibraryTest, TheSpeakerVolumeGoesToTheTz2401bInItsThreeBands)
{
    SimTz2401Box& box = plugTz2401b(1);
    ASSERT_EQ(manager().search_pass(), 1);
    struct Case {
        int volume;
        std::uint8_t byte;
    };
    const Case cases[] = {
        {-3, 0xE6}, {0, 0xEC}, {5, 0xF6}, {9, 0xFE}, {10, 0x80},
        {16, 0x8C}, {17, 0x8C}, {18, 0x8C}, {100, 0x8C},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.volume);
        sim_.clearTrace();
        EXPECT_EQ(olva_set_Speakervolume(0x101, c.volume), OLVA_OK);
        EXPECT_THAT(sim_.reports(box),
                    ElementsAre(std::vector<std::uint8_t>{3, 0x23, c.byte, 0, 0, 0, 0, 0}));
    }
}

// The Tz2501B routes its talk paths with latch 1 and its recording sources
// with latch 2; the paths it lacks answer -1 and send nothing.
TEST_F(LibraryTest, TheTz2501bTalkLinksAndRecordSourcesAreItsLatches)
{
    SimRegisterBox& box = plugTz2501b(1);
    ASSERT_EQ(manager().search_pass(), 1);
    struct Case {
        const char* name;
        bool record;  // a recording source, else a talk link
        int type;
        int latch;     // 0: none on this box
        int function;
    };
    const Case cases[] = {
        {"talk slic to gsm", false, 0, 1, 4},
        {"talk gsm to slic", false, 1, 1, 3},
        {"talk earphone to gsm", false, 2, 1, 6},
        {"talk gsm to earphone", false, 3, 1, 5},
        {"talk slic to earphone", false, 4, 0, 0},
        {"talk earphone to slic", false, 5, 0, 0},
        {"talk gpio 20", false, 6, 1, 0},
        {"talk gpio 21", false, 7, 1, 2},
        {"talk gpio 19", false, 8, 1, 1},
        {"talk type 9", false, 9, 0, 0},
        {"record slic", true, 0, 2, 0},
        {"record gsm", true, 1, 0, 0},
        {"record earphone", true, 2, 2, 1},
        {"record usb", true, 3, 2, 3},
        {"record type 4", true, 4, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const int on : {1, 0}) {
            sim_.clearTrace();
            const auto set = [&] {
                return c.record ? olva_set_record_enable(0x101, c.type, on)
                                : olva_set_talk_link(0x101, c.type, on);
            };
            if (c.latch == 0) {
                EXPECT_EQ(set(), OLVA_ERR_FAILED);
                EXPECT_THAT(sim_.reports(box), IsEmpty());
                continue;
            }
            EXPECT_EQ(set(), OLVA_OK);
            EXPECT_EQ(c.latch == 1 ? box.latch1(c.function) : box.latch2(c.function), on);
        }
    }
}

TEST_F(LibraryTest, TheTimerStepsTheLinesEveryFifthTickButTheTz2401bs)
{
    plugTz2401b(1);
    plugTz2501b(2);
    ASSERT_EQ(manager().search_pass(), 2);
    for (int tick = 1; tick <= 10; ++tick) {
        const OlvaManager::TimerTick done = manager().timer_tick();
        // The Tz2401B in slot 1 is stepped by its own status reports.
        EXPECT_EQ(done.line_steps, tick % 5 == 0 ? 2u : 0u) << "tick " << tick;
        EXPECT_EQ(done.gsm_steps, 0u);
    }
    olva_close();
    ASSERT_EQ(olva_open(&EventRecorder::callback), 0);
    EXPECT_EQ(manager().timer_tick().line_steps, 0u);
}

TEST_F(LibraryTest, AClosedSlotRaisesNoEvent)
{
    OlvaManager::CUsbBoxDevice box;
    box.set_owner(&manager(), 1);
    box.fire_event(1, OLVA_EVENT_PLUG_OUT, 0, 0, 0, 0);
    box.fire_hid_event(OLVA_EVENT_USB_ERROR, usb::kErrorNoDevice);
    EXPECT_THAT(recorder().events(), IsEmpty());
    // Without an owner neither.
    OlvaManager::CUsbBoxDevice orphan;
    orphan.fire_event(1, OLVA_EVENT_PLUG_OUT, 0, 0, 0, 0);
    EXPECT_THAT(recorder().events(), IsEmpty());
}

// The DTMF-send settings as olva_get_send_dtmf_param gives them.
void expectDtmfSettings(int tone, int silence, float cof, int scale, int speaker)
{
    DtmfSendSettings got;
    ASSERT_EQ(olva_get_send_dtmf_param(&got.tone_time, &got.silence_time, &got.dtmf_cof,
                                       &got.dtmf_scale, &got.speaker_volume),
              OLVA_OK);
    EXPECT_EQ(got.tone_time, tone);
    EXPECT_EQ(got.silence_time, silence);
    EXPECT_FLOAT_EQ(got.dtmf_cof, cof);
    EXPECT_EQ(got.dtmf_scale, scale);
    EXPECT_EQ(got.speaker_volume, speaker);
}

TEST_F(LibraryTest, UserNumbersAndEepromBytesThroughTheLibrary)
{
    // A Tz2401B whose primary copy is spoiled and whose first backup holds
    // the number, read once at open; a Tz2501B's number behind its chip.
    SimTz2401Box& tz2401b = plugTz2401b(1);
    std::vector<std::uint8_t> copy(17);
    for (int i = 0; i < 16; ++i)
        copy[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>('A' + i);
    copy[16] = static_cast<std::uint8_t>(0x100 - ((16 * 'A' + 120) & 0xFF));
    tz2401b.setEeprom(18, copy);
    copy[0] ^= 1;
    tz2401b.setEeprom(96, copy);
    SimRegisterBox& tz2501b = plugTz2501b(2);
    tz2501b.setMemory(0x52, 112, {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c',
                                  'd', 'e', 'f'});
    ASSERT_EQ(manager().search_pass(), 2);

    char number[17] = {};
    EXPECT_EQ(olva_get_usernum(0x101, number, 16), 16);
    EXPECT_STREQ(number, "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(olva_get_usernum(0x202, number, 16), 16);
    EXPECT_STREQ(number, "0123456789abcdef");
    EXPECT_EQ(olva_get_usernum(0x101, number, 15), OLVA_ERR_INVALID_PARAM);
    EXPECT_EQ(olva_get_usernum(0x101, nullptr, 16), OLVA_ERR_INVALID_PARAM);
    EXPECT_EQ(olva_get_usernum(kNoHandle, number, 16), OLVA_ERR_INVALID_HANDLE);
    EXPECT_EQ(olva_get_usernum(0x301, number, 16), OLVA_ERR_NO_DEVICE);

    // The Tz2501B's nine bytes reach its window, the codec EEPROM's bytes
    // 76..84, and read back from there.
    const unsigned char nine[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(olva_write_eeprom(0x201, 0, const_cast<unsigned char*>(nine), 9), 0);
    const auto memory = tz2501b.memory(0x50);
    EXPECT_EQ(std::vector<std::uint8_t>(memory.begin() + 76, memory.begin() + 85),
              std::vector<std::uint8_t>(nine, nine + 9));
    unsigned char read[9] = {};
    EXPECT_EQ(olva_read_eeprom(0x201, 0, read, 9), 0);
    EXPECT_EQ(std::vector<std::uint8_t>(read, read + 9), std::vector<std::uint8_t>(nine, nine + 9));
    unsigned char two[2] = {};
    EXPECT_EQ(olva_read_eepromEx(0x202, 0x107, two, 2), 0);  // the low byte is the address
    EXPECT_EQ(two[0], 8);

    struct Case {
        const char* name;
        int result;
        int expected;
    };
    unsigned char buffer[16] = {};
    const Case cases[] = {
        {"past the window", olva_write_eeprom(0x201, 5, buffer, 5), OLVA_ERR_INVALID_PARAM},
        {"read past the window", olva_read_eeprom(0x101, 5, buffer, 5), OLVA_ERR_INVALID_PARAM},
        {"no bytes", olva_write_eeprom(0x201, 0, buffer, 0), OLVA_ERR_INVALID_PARAM},
        {"no buffer", olva_read_eepromEx(0x201, 0, nullptr, 4), OLVA_ERR_INVALID_PARAM},
        {"no handle", olva_write_eeprom(kNoHandle, 0, buffer, 4), OLVA_ERR_INVALID_HANDLE},
        {"no box", olva_read_eeprom(0x301, 0, buffer, 4), OLVA_ERR_NO_DEVICE},
        // The Tz2401B answers from the number it read at open.
        {"Tz2401B read", olva_read_eeprom(0x101, 0, buffer, 4), OLVA_OK},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, c.expected) << c.name;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "ABCD");
}

TEST_F(LibraryTest, DtmfSettingsAreSetOnTheBoxAndReadFromTheFile)
{
    plugTz2401b(1);
    ASSERT_EQ(manager().search_pass(), 1);
    ASSERT_EQ(olva_set_send_dtmf_param(0x101, 90, 60, 1.5f, 200, 7), OLVA_OK);
    expectDtmfSettings(90, 60, 1.5f, 200, 7);
    EXPECT_EQ(manager().slot(1).dtmf_send_settings().tone_time, 90);
}

// The library without its manager: what needs one gives -7.
class ClosedLibraryTest : public ::testing::Test {
protected:
    ClosedLibraryTest() { paths_.setApplicationDirectory(dir_.path()); }

    olva_test::TempDir dir_;
    olva_test::FakePaths paths_;
};

TEST_F(ClosedLibraryTest, CallsThatNeedTheManagerAreNotAvailable)
{
    ASSERT_EQ(g_pOlvaMgr, nullptr);
    float version = 0;
    char name[16];
    char number[] = "10086";
    struct Case {
        const char* name;
        int result;
        int expected;
    };
    const Case cases[] = {
        {"check coder", olva_check_coder(0), OLVA_ERR_NOT_AVAILABLE},
        {"line state", olva_get_line_state(0x101), OLVA_ERR_NOT_AVAILABLE},
        {"volume", olva_set_volume(0x101, 5), OLVA_ERR_NOT_AVAILABLE},
        {"volume too high", olva_set_volume(0x101, 21), OLVA_ERR_NOT_AVAILABLE},
        {"speaker volume", olva_set_Speakervolume(0x101, 5), OLVA_ERR_NOT_AVAILABLE},
        {"pause", olva_play_pause(0x101), OLVA_ERR_NOT_AVAILABLE},
        {"version", olva_get_device_versionnum(0x101, &version), OLVA_ERR_FAILED},
        {"version, no pointer", olva_get_device_versionnum(0x101, nullptr), OLVA_ERR_FAILED},
        {"product", olva_get_product_ID(0x101), OLVA_ERR_NOT_AVAILABLE},
        {"product name", olva_get_product_name(0x101, name), OLVA_ERR_NOT_AVAILABLE},
        {"dtmf send", olva_set_send_dtmf_param(0x101, 100, 80, 1.26f, 220, 10), OLVA_ERR_NOT_AVAILABLE},
        {"gain control", olva_close_agc(0x101, 1), OLVA_ERR_NOT_AVAILABLE},
        {"busy tone", olva_set_busy_tone(0x101, tagBusyInfo{}), OLVA_ERR_NOT_AVAILABLE},
        {"user number", olva_get_usernum(0x101, name, 16), OLVA_ERR_NOT_AVAILABLE},
        {"eeprom read", olva_read_eeprom(0x101, 0, reinterpret_cast<unsigned char*>(name), 4),
         OLVA_ERR_NOT_AVAILABLE},
        {"eeprom write", olva_write_eeprom(0x101, 0, reinterpret_cast<unsigned char*>(name), 4),
         OLVA_ERR_NOT_AVAILABLE},
        // Never offered, open or not.
        {"write user number", olva_write_usernum(), OLVA_ERR_NOT_AVAILABLE},
        {"work mode", olva_get_work_mode(), OLVA_ERR_NOT_AVAILABLE},
        {"get device data", olva_get_dev_data(), OLVA_ERR_NOT_AVAILABLE},
        {"set device data", olva_set_dev_data(), OLVA_ERR_NOT_AVAILABLE},
        {"write gsm device type", olva_write_gsm_devtype(), OLVA_ERR_NOT_AVAILABLE},
        // Not open comes before the arguments are looked at.
        {"sms without text", olva_send_gsm_msg(0x101, 0, number, nullptr, 0), OLVA_ERR_NOT_AVAILABLE},
        {"sms without number", olva_send_gsm_msg(0x101, 0, nullptr, number, 5), OLVA_ERR_NOT_AVAILABLE},
        {"sms read at -1", olva_query_gsm_msg(0x101, -1), OLVA_ERR_NOT_AVAILABLE},
        {"sms read decoded at -1", olva_query_gsm_msgEx(0x101, -1), OLVA_ERR_NOT_AVAILABLE},
        {"sms delete flag 9", olva_delete_gsm_msg(0x101, 9, 0), OLVA_ERR_NOT_AVAILABLE},
        {"sms delete at -1", olva_delete_gsm_msg(0x101, 0, -1), OLVA_ERR_NOT_AVAILABLE},
        {"gsm power 2", olva_gsm_power(0x101, 2), OLVA_ERR_NOT_AVAILABLE},
        {"boot key 2", olva_gsm_bootkey(0x101, 2), OLVA_ERR_NOT_AVAILABLE},
        {"select sim 2", olva_select_simcard(0x101, 2), OLVA_ERR_NOT_AVAILABLE},
        {"gsm command", olva_send_gsm_cmd(0x101, number, 5), OLVA_ERR_NOT_AVAILABLE},
        {"upload", olva_uploadFile(nullptr, nullptr, nullptr), OLVA_ERR_UNSUPPORTED},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, c.expected) << c.name;
    EXPECT_STREQ(olva_get_serial_number(0x101), "");
    // Closing a library that is not open does nothing.
    olva_close();
    EXPECT_EQ(g_pOlvaMgr, nullptr);
}

TEST(LibraryCoders, OnlyTheRecordingCodersAreAccepted)
{
    OlvaManager::use_manual_drive(true);
    ASSERT_EQ(olva_open(nullptr), 0);
    for (int coder : {0, 1, 20, 100})
        EXPECT_EQ(olva_check_coder(coder), OLVA_OK) << coder;
    for (int coder : {-1, 2, 3, 38, 99, 101})
        EXPECT_EQ(olva_check_coder(coder), OLVA_ERR_CODER) << coder;
    EXPECT_STREQ(olva_get_serial_number(0x101), "");
    olva_close();
    OlvaManager::use_manual_drive(false);
}

TEST_F(ClosedLibraryTest, DtmfSettingsAreReadFromTheFileWithoutTheLibrary)
{
    expectDtmfSettings(100, 80, 1.26f, 220, 10);
    // The defaults were written back.
    const std::string ini = dir_.file("olva.ini");
    EXPECT_EQ(readIntValue("device", "silence_time", ini.c_str()), 80);
    char text[INI_VALUE_SIZE] = {};
    ASSERT_EQ(readStringValue("device", "dtmf_cof", text, ini.c_str()), 0);
    EXPECT_STREQ(text, "1.26");

    int tone = 0, silence = 0, scale = 0, speaker = 0;
    float cof = 0;
    int* none = nullptr;
    EXPECT_EQ(olva_get_send_dtmf_param(none, &silence, &cof, &scale, &speaker), OLVA_ERR_INVALID_PARAM);
    EXPECT_EQ(olva_get_send_dtmf_param(&tone, &silence, nullptr, &scale, &speaker), OLVA_ERR_INVALID_PARAM);
    EXPECT_EQ(olva_get_send_dtmf_param(&tone, &silence, &cof, &scale, none), OLVA_ERR_INVALID_PARAM);
}

TEST_F(ClosedLibraryTest, FilesAreMeasuredAndDeletedWithoutTheLibrary)
{
    const std::string file = dir_.file("call.wav");
    olva_test::writeFile(file, std::string(1234, 'x'));
    EXPECT_EQ(olva_judge_file_size(file.c_str()), 1234);
    EXPECT_EQ(olva_delete_file(file.c_str()), OLVA_OK);
    EXPECT_EQ(olva_judge_file_size(file.c_str()), OLVA_ERR_FAILED);
    EXPECT_EQ(olva_delete_file(file.c_str()), OLVA_ERR_FAILED);
    EXPECT_EQ(olva_judge_file_size(nullptr), OLVA_ERR_INVALID_PARAM);
    EXPECT_EQ(olva_delete_file(nullptr), OLVA_ERR_INVALID_PARAM);
    olva_test::writeFile(dir_.file("empty.wav"), "");
    EXPECT_EQ(olva_judge_file_size(dir_.file("empty.wav").c_str()), 0);
}

TEST_F(ClosedLibraryTest, TheLogFileOpensWithTheLibrarysBanner)
{
    olva_open_logfileEx(dir_.path().c_str());
    olva_close_logfile();
    const std::string log_dir = dir_.file("olva-log");
    std::string text;
    for (const auto& entry : std::filesystem::directory_iterator(log_dir))
        text += olva_test::readFile(entry.path().string());
    EXPECT_NE(text.find(std::string(72, '-')), std::string::npos);
    EXPECT_NE(text.find("-- olva lib(version:V1.0) built on "), std::string::npos);
}

TEST(EventFormatter, NamesTheKnownCodes)
{
    const struct {
        int event;
        const char* text;
    } cases[] = {
        {1, "事件=1 : 设备插入"},   {2, "事件=2 : 设备拔出"},   {3, "事件=3 : 警报通知"},
        {10, "事件=10 : 线路复位"}, {11, "事件=11 : 线路振铃"}, {12, "事件=12 : 线路摘机"},
        {13, "事件=13 : 线路悬空"}, {15, "事件=15 : 振铃取消"}, {20, "事件=20 : 实时语音"},
        {21, "事件=21 : 来电号码"}, {22, "事件=22 : DTMF按下"}, {23, "事件=23 : DTMF释放"},
        {14, "事件=14 : 未定义的事件码"}, {99, "事件=99 : 未定义的事件码"},
        {-1, "事件=-1 : 未定义的事件码"},
    };
    for (const auto& c : cases) {
        std::ostringstream out;
        out << olva_event_formator{c.event};
        EXPECT_EQ(out.str(), c.text);
    }
}

TEST(Discovery, BoxesAreKnownByVendorAndProductAndListedByHidInterface)
{
    EXPECT_EQ(discovered_product(0x04D9, 0x2832), OLVA_PRODUCT_TZ2401B);
    EXPECT_EQ(discovered_product(0x0C76, 0x362F), OLVA_PRODUCT_TZ2501B);
    EXPECT_EQ(discovered_product(0x04D9, 0x362F), OLVA_PRODUCT_NONE);
    EXPECT_EQ(discovered_product(0xFFFF, 0x0017), OLVA_PRODUCT_NONE);

    olva_sim::SimBackend sim;
    SimTz2401Box& tz2401b = sim.plug<SimTz2401Box>(SimTz2401Box::tz2401b());
    SimRegisterBox& tz2501b = sim.plug<SimRegisterBox>();
    const std::vector<hid_device_info> all = hid_enumerate(0, 0);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].path, sim.path(tz2401b));
    EXPECT_EQ(all[0].path, "0001:0002:03");
    EXPECT_EQ(all[0].interface_number, 3);
    EXPECT_EQ(all[1].path, sim.path(tz2501b));
    EXPECT_EQ(all[1].vendor_id, 0x0C76);
    const std::vector<hid_device_info> some = hid_enumerate(0x0C76, 0x362F);
    ASSERT_EQ(some.size(), 1u);
    EXPECT_EQ(some[0].product_id, 0x362F);
}


}  // namespace
