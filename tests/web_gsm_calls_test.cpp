// GSM calls as a browser makes and sees them: the web service over the real
// library, driven by hand on the virtual clock, with a simulated Tz2701A
// whose module keeps a call with a network the test plays. Outgoing calls
// answered, busy, unanswered or hung up by either side; incoming calls
// with their caller number, answered, rejected, given up or hung up; a
// waiting call; the extension phone and the earphone key; the SIM slot,
// the module's power and power key, and its volume.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cavrel_olva.h"
#include "olva_manager/olva_manager.h"
#include "sim/sim_tz2401.h"
#include "support/box_sim_fixture.h"
#include "support/browser_events.h"
#include "support/eventually.h"
#include "support/fake_pcm.h"
#include "support/indented_event.h"
#include "support/recording_tray.h"
#include "support/spandsp_signals.h"
#include "support/web_client.h"
#include "ukit/olva_mgr.h"
#include "usb_hid/report_worker.h"

namespace olva_test {
namespace {

using olva_sim::SimGsmModule;
using olva_sim::SimTz2401Box;
using platform::PcmStream;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

constexpr const char* kTakenBySoftware = "{\"event\":\"hookoff\",\"handle\":257,\"type\":6}";
constexpr const char* kExtensionLifted = "{\"event\":\"hookoff\",\"handle\":257,\"type\":0}";
constexpr const char* kEarphoneKey = "{\"event\":\"hookoff\",\"handle\":257,\"type\":2}";
constexpr const char* kCallEnded = "{\"event\":\"hookup\",\"handle\":257,\"type\":1}";
constexpr const char* kExtensionDown = "{\"event\":\"hookup\",\"handle\":257,\"type\":2}";
constexpr const char* kEarphoneDown = "{\"event\":\"hookup\",\"handle\":257,\"type\":3}";
constexpr const char* kAnswered = "{\"event\":\"calledanswer\",\"handle\":257}";
constexpr const char* kBusy = "{\"event\":\"busyTone\",\"handle\":257}";
constexpr const char* kRingCancel = "{\"event\":\"ringCancel\",\"handle\":257}";
constexpr const char* kCaller = "13800138000";
const std::string kCallerId =
    std::string("{\"event\":\"callerId\",\"handle\":257,\"callernumber\":\"") + kCaller + "\"}";

// The call events among everything a browser is sent.
bool is_call_event(const std::string& message)
{
    static const char* const kNames[] = {"ring",      "hookoff",   "hookup",        "calledanswer",
                                         "busyTone",  "callerId",  "ringCancel",    "CallOutFinish",
                                         "notify"};
    for (const char* name : kNames)
        if (message.rfind(std::string("{\"event\":\"") + name + "\"", 0) == 0)
            return true;
    return false;
}

// A second of 8 kHz 16-bit mono PCM as a WAV file.
std::string wav_second()
{
    const std::uint32_t samples = 8000;
    std::string wav = "RIFF";
    auto u32 = [&wav](std::uint32_t v) { wav.append(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&wav](std::uint16_t v) { wav.append(reinterpret_cast<const char*>(&v), 2); };
    u32(36 + samples * 2);
    wav += "WAVEfmt ";
    u32(16);
    u16(1);
    u16(1);
    u32(8000);
    u32(16000);
    u16(2);
    u16(16);
    wav += "data";
    u32(samples * 2);
    for (std::uint32_t i = 0; i < samples; ++i)
        u16(static_cast<std::uint16_t>(i % 16 < 8 ? 3000 : -3000));
    return wav;
}

class GsmCallsThroughBrowserTest : public BoxSimTest {
protected:
    void SetUp() override
    {
        OlvaManager::use_manual_drive(true);
        std::filesystem::create_directories(app_dir_.file("webroot"));
        std::filesystem::create_directories(app_dir_.file("voice"));
        writeFile(app_dir_.file("voice/dial.wav"), wav_second());
        writeFile(app_dir_.file("voice/busy.wav"), wav_second());
        options_.exe_dir = app_dir_.path();
        options_.wakeup_count_path = app_dir_.file("wakeup_count");
        writeFile(options_.wakeup_count_path, "7\n");
        writeFile(app_dir_.file("config.ini"), "[CONFIG]\nHttpPort=0\n");
        uWebMgr.set_tray(&tray_);
        ASSERT_EQ(uWebMgr.init_uWeb(options_), 0);
        ClientOptions client_options;
        client_options.port = uWebMgr.http_port();
        std::string error;
        client_ = WsClient::connect(client_options, &error);
        ASSERT_TRUE(client_) << error;
        ASSERT_TRUE(client_->read().has_value());  // the greeting

        box_ = &sim_.plug<SimTz2401Box>(SimTz2401Box::tz2701a2g());
        listCard(*box_, 1, kTz2401CardId);
        pcm_.addDevice("hw:1,0", PcmStream::kCapture);
        playback_ = &pcm_.addDevice("plughw:1,0", PcmStream::kPlayback);
        ASSERT_EQ(g_pOlvaMgr->search_pass(), 1);
        // The module starts, its SIM is ready, it registers.
        ASSERT_TRUE(until(kPlugIn));
        ASSERT_TRUE(until(indented({{"event", "\"simstate\""}, {"handle", "257"}, {"simNo", "1"},
                                    {"result", "3"}})));
        box_->gsmSay("+CREG: 0,1");
        ASSERT_TRUE(until(indented({{"event", "\"simreg\""}, {"handle", "257"}, {"simNo", "1"},
                                    {"result", "1"}})));
        for (int i = 0; i < 200 && !idle(); ++i)
            tick();
        ASSERT_TRUE(idle());
        mark();
    }
    void TearDown() override
    {
        client_.reset();
        uWebMgr.close_uWeb();
        uWebMgr.set_tray(nullptr);
        OlvaManager::use_manual_drive(false);
        BoxSimTest::TearDown();
    }

    const OlvaManager::CUsbBoxDevice& box() const { return g_pOlvaMgr->slot(1); }
    bool idle() const { return box().gsm_state().ready != 0 && box().queued_commands() == 0; }

    // One 20 ms tick of the timer thread, the box's reports handled
    // before and after it.
    void tick(int count = 1)
    {
        for (int i = 0; i < count; ++i) {
            clock_.advanceMs(20);
            box_->gsmFlush();
            settle();
            g_pOlvaMgr->timer_tick();
            settle();
        }
    }
    void settle()
    {
        ASSERT_TRUE(eventually([&] { return sim_.settled(*box_) && ReportWorker::in_hand() == 0; }));
    }
    void drain(std::chrono::milliseconds wait = std::chrono::milliseconds(1))
    {
        while (auto message = client_->read(wait))
            received_.push_back(*message);
    }
    // Ticks until the browser has been sent text since the mark, as many
    // times as asked.
    bool until(const std::string& text, int times = 1)
    {
        return until_matching([&](const std::string& sent) { return sent == text; }, times);
    }
    bool until_matching(const std::function<bool(const std::string&)>& matches, int times = 1)
    {
        constexpr int kMaxTicks = 500;
        const auto seen = [&] {
            return std::count_if(received_.begin() + static_cast<long>(mark_), received_.end(),
                                 matches) >= times;
        };
        for (int i = 0; i <= kMaxTicks; ++i) {
            drain();
            if (seen())
                return true;
            tick();
        }
        drain(std::chrono::milliseconds(200));
        return seen();
    }
    // Ticks until the module has taken the command (its text without CR).
    bool until_module_got(const std::string& command, int max_ticks = 100)
    {
        for (int i = 0; i <= max_ticks; ++i) {
            if (module_got(command))
                return true;
            tick();
        }
        return false;
    }
    bool module_got(const std::string& command) const
    {
        for (const auto& r : box_->gsmReceived())
            if (r.command == command && r.time_ms >= mark_ms_)
                return true;
        return false;
    }
    std::int64_t module_got_at(const std::string& command) const
    {
        for (const auto& r : box_->gsmReceived())
            if (r.command == command && r.time_ms >= mark_ms_)
                return r.time_ms;
        return -1;
    }
    // Sends a command and waits until the web thread has run it: frames
    // run in order, so the answer to a "getinfo" behind it says so.
    void send(const std::string& frame)
    {
        ASSERT_TRUE(client_->send(frame));
        ASSERT_TRUE(client_->send("{\"event\":\"getinfo\"}"));
        for (int i = 0; i < 100; ++i) {
            const std::optional<std::string> message = client_->read();
            ASSERT_TRUE(message.has_value());
            if (message->rfind("{\"event\":\"getinfo\"", 0) == 0)
                return;
            received_.push_back(*message);
        }
        FAIL() << "no answer to getinfo";
    }
    // Lets everything under way settle, then returns the call events since
    // the mark, in the order the browser was sent them.
    std::vector<std::string> call_events()
    {
        tick(100);
        drain(std::chrono::milliseconds(200));
        std::vector<std::string> out;
        for (std::size_t i = mark_; i < received_.size(); ++i)
            if (is_call_event(received_[i]))
                out.push_back(received_[i]);
        return out;
    }
    void mark()
    {
        drain(std::chrono::milliseconds(50));
        mark_ = received_.size();
        mark_ms_ = clock_.steadyMs();
    }
    void act(const std::function<void(SimGsmModule&)>& what) { box_->gsmAct(what); }
    // The extension phone's hook and the earphone key, as the box's status
    // reports show them from now on.
    void status(std::uint8_t hook, std::uint8_t key)
    {
        box_->setStatus(hook, key);
        // Reports after the change have reached the decoder.
        const std::size_t seen = sim_.reports(*box_).size();
        ASSERT_TRUE(eventually([&] { return sim_.reports(*box_).size() > seen + 2; }));
        tick(2);
    }
    bool device_command(int code, int argument) const
    {
        const auto commands = box_->deviceCommands();
        return std::find(commands.begin() + static_cast<long>(device_mark_), commands.end(),
                         std::pair<int, int>{code, argument}) != commands.end();
    }
    void mark_device_commands() { device_mark_ = box_->deviceCommands().size(); }
    void incoming_call()
    {
        act([](SimGsmModule& m) { m.incomingCall(kCaller); });
        ASSERT_TRUE(until(kCallerId));
    }
    void dial(const char* number = "10086")
    {
        send(std::string("{\"event\":\"olva_makecall\",\"handle\":257,\"dtmf\":\"") + number + "\"}");
        ASSERT_TRUE(until_module_got(std::string("ATD") + number + ";"));
    }

    WebOptions options_;
    RecordingTray tray_;
    FakePcmFactory pcm_;
    FakePcmDevice* playback_ = nullptr;
    std::unique_ptr<WsClient> client_;
    SimTz2401Box* box_ = nullptr;
    std::vector<std::string> received_;
    std::size_t mark_ = 0;
    std::int64_t mark_ms_ = 0;
    std::size_t device_mark_ = 0;
};

TEST_F(GsmCallsThroughBrowserTest, AnOutgoingCallIsAnsweredAndEndedByEitherSide)
{
    for (const bool far_end_ends : {true, false}) {
        SCOPED_TRACE(far_end_ends ? "the far end hangs up" : "the browser hangs up");
        mark();
        dial();
        act([](SimGsmModule& m) { m.farEndAnswers(); });
        ASSERT_TRUE(until(kAnswered));
        if (far_end_ends)
            act([](SimGsmModule& m) { m.farEndHangsUp(); });
        else
            send("{\"event\":\"SoftHookon\",\"handle\":257}");
        ASSERT_TRUE(until(kCallEnded));
        EXPECT_THAT(call_events(), ElementsAre(kTakenBySoftware, kAnswered, kCallEnded));
        EXPECT_TRUE(module_got("ATH"));
        EXPECT_EQ(box_->gsmRead([](const SimGsmModule& m) { return m.call(); }),
                  SimGsmModule::Call::kIdle);
    }
}

TEST_F(GsmCallsThroughBrowserTest, ABrowsersHangUpGoesOutWhileTheDialStillWaits)
{
    dial();
    tick(50);
    send("{\"event\":\"SoftHookon\",\"handle\":257}");
    // The dial's reply is awaited for up to 140 s; the hang-up does not wait.
    ASSERT_TRUE(until_module_got("ATH", 3));
    EXPECT_THAT(call_events(), ElementsAre(kTakenBySoftware, kCallEnded));
}

TEST_F(GsmCallsThroughBrowserTest, ABusyFarEndIsReportedAndTheModuleTakesCommandsAgain)
{
    dial();
    act([](SimGsmModule& m) { m.farEndBusy(); });
    ASSERT_TRUE(until(kBusy));
    // The busy tone ended the dial's wait: the next command goes at once.
    send("{\"event\":\"sendcmd\",\"handle\":257,\"cmd\":\"AT+CSQ\"}");
    ASSERT_TRUE(until_module_got("AT+CSQ", 5));
    send("{\"event\":\"SoftHookon\",\"handle\":257}");
    EXPECT_THAT(call_events(), ElementsAre(kTakenBySoftware, kBusy, kCallEnded));
}

TEST_F(GsmCallsThroughBrowserTest, ADialNobodyAnswersIsHungUpAfter140Seconds)
{
    dial();
    const std::int64_t dialled = module_got_at("ATD10086;");
    for (int i = 0; i < 140000 / 20 + 10 && !module_got("ATH"); ++i)
        tick();
    ASSERT_TRUE(module_got("ATH"));
    const std::int64_t hung_up = module_got_at("ATH");
    EXPECT_GE(hung_up - dialled, 140000);
    EXPECT_LE(hung_up - dialled, 140000 + 100);
    EXPECT_THAT(call_events(), ElementsAre(kTakenBySoftware, kCallEnded));
}

TEST_F(GsmCallsThroughBrowserTest, AnIncomingCallShowsItsCallerOnceAndIsEndedByEitherSide)
{
    for (const bool caller_ends : {true, false}) {
        SCOPED_TRACE(caller_ends ? "the caller hangs up" : "the browser hangs up");
        mark();
        incoming_call();
        EXPECT_TRUE(box_->extensionRinging());
        tick(100);
        act([](SimGsmModule& m) { m.ringAgain(); });
        ASSERT_TRUE(until(kRing, 2));
        send("{\"event\":\"SoftHookoff\",\"handle\":257}");
        ASSERT_TRUE(until_module_got("ATA"));
        // Taken by software: the extension stops ringing.
        EXPECT_FALSE(box_->extensionRinging());
        if (caller_ends)
            act([](SimGsmModule& m) { m.farEndHangsUp(); });
        else
            send("{\"event\":\"SoftHookon\",\"handle\":257}");
        ASSERT_TRUE(until(kCallEnded));
        EXPECT_THAT(call_events(),
                    ElementsAre(kRing, kCallerId, kRing, kTakenBySoftware, kCallEnded));
    }
}

TEST_F(GsmCallsThroughBrowserTest, ARejectedOrGivenUpCallStopsTheExtensionRinging)
{
    incoming_call();
    EXPECT_TRUE(box_->extensionRinging());
    send("{\"event\":\"rejectcall\",\"handle\":257}");
    ASSERT_TRUE(until_module_got("AT+CHUP"));
    tick(5);
    EXPECT_FALSE(box_->extensionRinging());
    tick(500);  // ten seconds: the cadence does not ring it again
    EXPECT_FALSE(box_->extensionRinging());
    EXPECT_THAT(call_events(), ElementsAre(kRing, kCallerId));

    // A caller who gives up: the call list shows nobody, the ring is cancelled.
    mark();
    incoming_call();
    act([](SimGsmModule& m) { m.farEndHangsUp(); });
    ASSERT_TRUE(until(kRingCancel));
    EXPECT_FALSE(box_->extensionRinging());
    EXPECT_TRUE(module_got("AT+CLCC"));
    EXPECT_THAT(call_events(), ElementsAre(kRing, kCallerId, kRingCancel));
}

TEST_F(GsmCallsThroughBrowserTest, AWaitingCallersHangUpLeavesTheCallUp)
{
    incoming_call();
    send("{\"event\":\"SoftHookoff\",\"handle\":257}");
    ASSERT_TRUE(until_module_got("ATA"));
    act([](SimGsmModule& m) { m.waitingCall("10010"); });
    tick(10);
    act([](SimGsmModule& m) { m.waitingCallerHangsUp(); });
    ASSERT_TRUE(until_module_got("AT+CLCC"));
    tick(50);
    EXPECT_THAT(call_events(), ElementsAre(kRing, kCallerId, kTakenBySoftware));
    // The call itself ends later, once.
    act([](SimGsmModule& m) { m.farEndHangsUp(); });
    ASSERT_TRUE(until(kCallEnded));
    EXPECT_THAT(call_events(), ElementsAre(kRing, kCallerId, kTakenBySoftware, kCallEnded));
}

TEST_F(GsmCallsThroughBrowserTest, TheExtensionRingsInCadenceAndHearsTheCallersNumber)
{
    act([](SimGsmModule& m) { m.incomingCall(kCaller); });
    // Ring on and off as the box's commands leave the bell, by the clock.
    std::vector<std::pair<bool, std::int64_t>> bell;
    for (int i = 0; i < 600; ++i) {
        const bool ringing = box_->extensionRinging();
        if (bell.empty() || bell.back().first != ringing)
            bell.push_back({ringing, clock_.steadyMs()});
        tick();
    }
    ASSERT_GE(bell.size(), 4u);
    EXPECT_TRUE(bell[1].first);
    // 1 s on, 4 s off (the line step is 100 ms, the command goes at the next pump step).
    EXPECT_NEAR(static_cast<double>(bell[2].second - bell[1].second), 1000, 120);
    EXPECT_NEAR(static_cast<double>(bell[3].second - bell[2].second), 4000, 120);
    // The number is played to it, as DTMF an independent decoder reads,
    // and the playback is routed back once the digits have been played.
    ASSERT_TRUE(eventually([&] {
        const auto written = playback_->written();
        return spandspDtmfDecode(written.data(), written.size()) == kCaller;
    }));
    // The play thread ends the digits in its own time; the route back goes
    // out at a pump step after that.
    EXPECT_TRUE(eventually([&] {
        tick();
        return box_->gpio(19) == 0;
    }));
}

TEST_F(GsmCallsThroughBrowserTest, LiftingTheExtensionTakesTheCallAndPuttingItDownEndsIt)
{
    incoming_call();
    mark_device_commands();
    status(1, 0);
    ASSERT_TRUE(until_module_got("ATA"));
    tick(10);
    EXPECT_FALSE(box_->extensionRinging());
    EXPECT_TRUE(device_command(0x20, 1));  // the call's audio to the extension
    EXPECT_TRUE(device_command(0x26, 1));  // and back
    status(0, 0);
    ASSERT_TRUE(until_module_got("ATH"));
    EXPECT_TRUE(device_command(0x20, 0));
    EXPECT_THAT(call_events(), ElementsAre(kRing, kCallerId, kExtensionLifted, kTakenBySoftware,
                                           kExtensionDown, kCallEnded));
}

TEST_F(GsmCallsThroughBrowserTest, TheEarphoneKeyActsOncePerPress)
{
    incoming_call();
    status(0, 0);
    status(0, 1);  // pressed and held: it takes the call once
    ASSERT_TRUE(until_module_got("ATA"));
    EXPECT_FALSE(box_->extensionRinging());
    tick(100);
    status(0, 0);
    status(0, 1);  // pressed again in the call: it ends it
    ASSERT_TRUE(until_module_got("ATH"));
    EXPECT_THAT(call_events(), ElementsAre(kRing, kCallerId, kEarphoneKey, kTakenBySoftware,
                                           kEarphoneDown, kCallEnded));
}

TEST_F(GsmCallsThroughBrowserTest, ACallFromTheExtensionIsDialledThroughTheModule)
{
    status(1, 0);
    // A dial tone plays to the lifted extension.
    EXPECT_EQ(box_->gpio(19), 1);
    ASSERT_TRUE(eventually([&] { return playback_->written().size() >= 8000; }));
    mark_device_commands();
    dial("10086");
    act([](SimGsmModule& m) { m.farEndAnswers(); });
    ASSERT_TRUE(until(kAnswered));
    tick(10);
    EXPECT_TRUE(device_command(0x20, 1));
    EXPECT_TRUE(device_command(0x26, 1));
    status(0, 0);
    ASSERT_TRUE(until_module_got("ATH"));
    EXPECT_THAT(call_events(), ElementsAre(kExtensionLifted, kTakenBySoftware, kAnswered,
                                           kExtensionDown, kCallEnded));
}

TEST_F(GsmCallsThroughBrowserTest, TheSimSlotPowerAndPowerKeyReachTheBoxAndTheModuleAnswers)
{
    send("{\"event\":\"selectsimcard\",\"handle\":257,\"cardno\":1}");
    // The second slot is reported, by the box's status or by the module's
    // ready lines, whichever of them the box takes first.
    std::string second_slot =
        indented({{"event", "\"simstate\""}, {"handle", "257"}, {"simNo", "2"}});
    second_slot.resize(second_slot.size() - 2);
    ASSERT_TRUE(until_matching(
        [&](const std::string& sent) { return sent.rfind(second_slot + ",\n", 0) == 0; }));
    EXPECT_EQ(box_->simSlot(), 1);
    EXPECT_EQ(box().active_sim(), 1);

    // Power off and on: the module starts again and is set up again.
    send("{\"event\":\"gsmpower\",\"handle\":257,\"value\":0}");
    tick(20);
    EXPECT_FALSE(box_->gsmRead([](const SimGsmModule& m) { return m.powered(); }));
    mark();
    send("{\"event\":\"gsmpower\",\"handle\":257,\"value\":1}");
    ASSERT_TRUE(until_module_got("AT+CGMR", 400));
    EXPECT_TRUE(box_->gsmRead([](const SimGsmModule& m) { return m.powered(); }));

    // The power key pressed and released switches it off, again on.
    for (const bool on : {false, true}) {
        send("{\"event\":\"gsmboot\",\"handle\":257,\"value\":1}");
        send("{\"event\":\"gsmboot\",\"handle\":257,\"value\":0}");
        tick(20);
        EXPECT_EQ(box_->gsmRead([](const SimGsmModule& m) { return m.powered(); }), on);
    }
    mark();
    ASSERT_TRUE(until_module_got("AT+CGMR", 400));
}

TEST_F(GsmCallsThroughBrowserTest, TheModulesVolumeIsSetAndReadBack)
{
    EXPECT_EQ(olva_set_gsm_vol(257, 1, 60), 0);
    EXPECT_EQ(olva_set_gsm_vol(257, 1, 101), OLVA_ERR_INVALID_PARAM);
    EXPECT_EQ(olva_get_gsm_vol(257, 1), 0);
    ASSERT_TRUE(until(indented({{"event", "\"volume\""}, {"handle", "257"}, {"type", "1"},
                                {"vol", "60"}})));
    EXPECT_EQ(box_->gsmRead([](const SimGsmModule& m) { return m.speakerVolume(); }), 60);
    EXPECT_TRUE(module_got("AT+CLVL=60"));
    EXPECT_TRUE(module_got("AT+CLVL?"));
}

TEST_F(GsmCallsThroughBrowserTest, TheLibrarysGsmCallsCheckTheirArguments)
{
    struct Case {
        const char* call;
        int result;
    };
    unsigned char buffer[300] = {};
    const Case cases[] = {
        {"gsm power 2", olva_gsm_power(257, 2)},
        {"boot key 2", olva_gsm_bootkey(257, 2)},
        {"SIM index 2", olva_select_simcard(257, 2)},
        {"devtype with 256 bytes", olva_get_gsm_devtype(257, buffer, 256)},
        {"devtype without a buffer", olva_get_gsm_devtype(257, nullptr, 16)},
        {"microphone of a 2G module above 10", olva_set_gsm_vol(257, 0, 11)},
        {"no box in slot 2", olva_makecall(513, const_cast<char*>("10086"))},
        {"handle -1", olva_reject_call(static_cast<unsigned long>(-1))},
    };
    const int expected[] = {OLVA_ERR_INVALID_PARAM, OLVA_ERR_INVALID_PARAM, OLVA_ERR_INVALID_PARAM,
                            OLVA_ERR_INVALID_PARAM, OLVA_ERR_INVALID_PARAM, OLVA_ERR_INVALID_PARAM,
                            // GSM calls are gated by product: no box has none.
                            OLVA_ERR_FAILED,        OLVA_ERR_FAILED};
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].result, expected[i]) << cases[i].call;
    EXPECT_EQ(olva_get_gsm_devtype(257, buffer, 16), 0);
    EXPECT_EQ(olva_set_gsm_vol(257, 0, 7), 0);
    EXPECT_EQ(olva_gsm_generate_tone(257, 0, 1, 2, 3, 4), 0);
    EXPECT_EQ(olva_feed_slic_polarity(257, 0), 0);
    ASSERT_TRUE(until_module_got("AT+QLTONE=0,1,2,3,4"));
    EXPECT_TRUE(module_got("AT+QMIC=0,7"));
    tick(5);
    EXPECT_TRUE(device_command(0x1A, 0));  // negative polarity
}

TEST_F(GsmCallsThroughBrowserTest, CommandsAnswerAsTheirRepliesSay)
{
    struct Case {
        std::string frame;
        std::string reply;  // empty: none
    };
    const Case cases[] = {
        // Always answered, with handle 0.
        {"{\"event\":\"set_talk_link\",\"handle\":257,\"mode\":1,\"value\":1}",
         "{\"event\":\"notify\",\"errorType\":\"set_talk_link\",\"handle\":0,\"result\":0}"},
        {"{\"event\":\"set_talk_link\",\"handle\":257,\"mode\":9,\"value\":1}",
         "{\"event\":\"notify\",\"errorType\":\"set_talk_link\",\"handle\":0,\"result\":-1}"},
        {"{\"event\":\"set_record_enable\",\"handle\":257,\"mode\":1,\"value\":1}",
         "{\"event\":\"notify\",\"errorType\":\"set_record_enable\",\"handle\":0,\"result\":0}"},
        // Answered only when they fail.
        {"{\"event\":\"olva_makecall\",\"handle\":257,\"dtmf\":\"10086;ATH\"}",
         "{\"event\":\"notify\",\"errorType\":\"makecall\",\"handle\":257,\"result\":-4}"},
        {"{\"event\":\"rejectcall\",\"handle\":513}",
         "{\"event\":\"notify\",\"errorType\":\"rejectcall\",\"handle\":513,\"result\":-1}"},
        {"{\"event\":\"olva_makecallSlic\",\"handle\":257,\"phonenumber\":\"8001\",\"state\":1}", ""},
        {"{\"event\":\"olva_makecallSlic\",\"handle\":257,\"phonenumber\":\"\",\"state\":0}", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frame);
        mark();
        send(c.frame);
        drain(std::chrono::milliseconds(20));
        std::vector<std::string> replies;
        for (std::size_t i = mark_; i < received_.size(); ++i)
            if (received_[i].rfind("{\"event\":\"notify\"", 0) == 0)
                replies.push_back(received_[i]);
        if (c.reply.empty())
            EXPECT_TRUE(replies.empty());
        else
            EXPECT_THAT(replies, ElementsAre(c.reply));
    }
    tick(5);
    EXPECT_TRUE(device_command(0x20, 1));  // talk link 1: GSM to the extension
    EXPECT_EQ(box_->gpio(18), 1);          // record source 1: the GSM side
    EXPECT_THAT(box_->gsmReceived(), Not(Contains(::testing::Field(
                                         &SimGsmModule::Received::command, "ATD10086;ATH;"))));
    // The commanded ring rang the extension, the stop silenced it.
    EXPECT_FALSE(box_->extensionRinging());
    EXPECT_TRUE(device_command(0x17, 0));
}

}  // namespace
}  // namespace olva_test
