// The whole web service in one process: COlvaMgr over the real device
// library with its own threads, simulated boxes behind the USB seam and
// scripted sound cards. What a browser sees of a box that comes and goes,
// commands answered from the box, a call and a voltage reading from the
// box's reports and line audio, a recording started and stopped by a
// browser, the close that stops the server before the library, and the
// self-test page in headless Chromium.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "cavrel_olva.h"
#include "codecs/wave.h"
#include "olva_manager/olva_manager.h"
#include "sim/sim_register_box.h"
#include "sim/sim_tz2401.h"
#include "support/box_sim_fixture.h"
#include "support/eventually.h"
#include "support/fake_pcm.h"
#include "support/headless_browser.h"
#include "support/indented_event.h"
#include "support/recording_tray.h"
#include "support/sound_file.h"
#include "support/spandsp_signals.h"
#include "support/tz2401_reports.h"
#include "support/web_client.h"
#include "support/whole_service_fixture.h"
#include "ukit/olva_mgr.h"

namespace olva_test {
namespace {

using olva_sim::SimRegisterBox;
using olva_sim::SimTz2401Box;
using platform::PcmStream;

constexpr const char* kPlugOut = "{\"event\":\"plugout\",\"handle\":257}";
// A line in a "getinfo" reply, just plugged in.
std::string plugged_line(int handle)
{
    return "{\"handle\":" + std::to_string(handle) +
           ",\"deviceError\":0,\"simNo\":-1,\"simReg\":-1,\"simState\":-1,\"deviceAlarm\":0,"
           "\"devicePlayAlarm\":0,\"devicePlayAlarmParam\":0}";
}

TEST_F(WholeServiceTest, ABrowserIsGreetedAndSeesABoxComeAndGo)
{
    auto client = connect();
    ASSERT_TRUE(client);
    EXPECT_EQ(ask(*client, "{\"event\":\"getinfo\"}"), getinfo_reply(""));

    SimTz2401Box& box = plug_tz2401b();
    EXPECT_EQ(client->read(), kPlugIn);
    EXPECT_EQ(client->read(), kHookOn);
    EXPECT_EQ(ask(*client, "{\"event\":\"getinfo\"}"), getinfo_reply(plugged_line(257)));
    ASSERT_TRUE(tray_.wait_for_balloons(1));
    EXPECT_EQ(tray_.balloons()[0].title, "提示");
    EXPECT_EQ(tray_.balloons()[0].text, "检测到USB盒子连接");

    unplug(box);
    EXPECT_EQ(client->read(), kPlugOut);
    EXPECT_EQ(ask(*client, "{\"event\":\"getinfo\"}"), getinfo_reply(""));
    ASSERT_TRUE(tray_.wait_for_balloons(2));
    EXPECT_EQ(tray_.balloons()[1].text, "USB盒子被拨除");

    // Back on the bus: the same handle again.
    replug(box, 2);
    EXPECT_EQ(client->read(), kPlugIn);
    EXPECT_EQ(client->read(), kHookOn);
}

TEST_F(WholeServiceTest, TwoBoxesAreListedUnderTheirSlotsHandles)
{
    auto client = connect();
    ASSERT_TRUE(client);
    SimTz2401Box& first = plug_tz2401b(1);
    ASSERT_EQ(client->read(), kPlugIn);
    ASSERT_EQ(client->read(), kHookOn);
    plug_tz2401b(2, 0x37);
    EXPECT_EQ(client->read(), "{\"event\":\"plugin\",\"handle\":513}");
    EXPECT_EQ(client->read(), "{\"event\":\"hookup\",\"handle\":513,\"type\":0}");
    EXPECT_EQ(ask(*client, "{\"event\":\"getinfo\"}"),
              getinfo_reply(plugged_line(257) + "," + plugged_line(513)));
    EXPECT_EQ(ask(*client, "{\"event\":\"GetDeviceVersionNum\",\"handle\":513}"),
              "{\"event\":\"answer\",\"type\":\"GetDeviceVersionNum\",\"handle\":513,\"result\":\"3.70\"}");

    // The first leaves; the second keeps its slot and its handle.
    unplug(first);
    EXPECT_EQ(client->read(), kPlugOut);
    EXPECT_EQ(ask(*client, "{\"event\":\"getinfo\"}"), getinfo_reply(plugged_line(513)));
}

TEST_F(WholeServiceTest, ABoxOnTheBusAtStartIsListedForABrowserThatComesLater)
{
    plug_tz2401b();
    ASSERT_TRUE(tray_.wait_for_balloons(1));
    ASSERT_EQ(uWebMgr.close_uWeb(), 0);

    // Started again: the library's first search finds the box before any
    // browser is there.
    ASSERT_EQ(uWebMgr.init_uWeb(options_), 0);
    ASSERT_TRUE(tray_.wait_for_balloons(2));
    port_ = uWebMgr.http_port();
    auto client = connect();
    ASSERT_TRUE(client);
    EXPECT_EQ(ask(*client, "{\"event\":\"getinfo\"}"), getinfo_reply(plugged_line(257)));
}

// A box's answers, by the firmware version it reports.
struct VersionCase {
    std::uint8_t version;
    const char* text;
};

void PrintTo(const VersionCase& c, std::ostream* out)
{
    *out << "firmware " << c.text;
}

class WholeServiceCommandTest : public WholeServiceTest,
                                public ::testing::WithParamInterface<VersionCase> {};

TEST_P(WholeServiceCommandTest, CommandsAreAnsweredFromTheBox)
{
    auto client = connect();
    ASSERT_TRUE(client);
    plug_in_seen_by(*client, GetParam().version);

    struct Case {
        const char* frame;
        std::string reply;
    };
    const Case cases[] = {
        {"{\"event\":\"GetProductID\",\"handle\":257}",
         "{\"event\":\"answer\",\"type\":\"GetProductID\",\"handle\":257,\"result\":\"3\"}"},
        {"{\"event\":\"GetDeviceVersionNum\",\"handle\":257}",
         "{\"event\":\"answer\",\"type\":\"GetDeviceVersionNum\",\"handle\":257,\"result\":\"" +
             std::string(GetParam().text) + "\"}"},
        // The second slot holds no box.
        {"{\"event\":\"GetProductID\",\"handle\":513}",
         "{\"event\":\"notify\",\"errorType\":\"GetProductID\",\"handle\":513,\"result\":-2}"},
        {"{\"event\":\"GetDeviceVersionNum\",\"handle\":513}",
         "{\"event\":\"notify\",\"errorType\":\"GetDeviceVersionNum\",\"handle\":513,\"result\":-2}"},
        // The Tz2401B has one line.
        {"{\"event\":\"GetProductID\",\"handle\":258}",
         "{\"event\":\"answer\",\"type\":\"GetProductID\",\"handle\":258,\"result\":\"3\"}"},
        // Nor has it a soft hook.
        {"{\"event\":\"SoftHookoff\",\"handle\":257}",
         "{\"event\":\"notify\",\"errorType\":\"SoftHookoff\",\"handle\":257,\"result\":-1}"},
        {"{\"event\":\"SoftHookon\",\"handle\":257}",
         "{\"event\":\"notify\",\"errorType\":\"SoftHookon\",\"handle\":257,\"result\":-1}"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ask(*client, c.frame), c.reply) << c.frame;
}

// The user number a browser is shown: the Tz2401B's read once at open from
// its EEPROM copies, the Tz2501B's read from its chip on each request.
TEST_F(WholeServiceTest, ABrowserIsShownEachBoxsUserNumber)
{
    auto client = connect();
    ASSERT_TRUE(client);
    // The Tz2401B's primary copy is spoiled; its first backup holds the
    // number, found when the box is opened.
    std::vector<std::uint8_t> copy = {'8', '6', '1', '3', '9', '0', '0', '0',
                                      '7', '7', '2', '4', 0, 0, 0, 0};
    int sum = 0;
    for (std::uint8_t byte : copy)
        sum += byte;
    copy.push_back(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
    SimTz2401Box::Options options = SimTz2401Box::tz2401b();
    std::copy(copy.begin(), copy.end(), options.eeprom.begin() + 18);
    copy[2] ^= 0x10;
    std::copy(copy.begin(), copy.end(), options.eeprom.begin() + 96);
    plug_tz2401b(1, options);
    EXPECT_EQ(client->read(), kPlugIn);
    EXPECT_EQ(client->read(), kHookOn);
    EXPECT_EQ(ask(*client, "{\"event\":\"GetUsernum\",\"handle\":257}"),
              "{\"event\":\"answer\",\"type\":\"GetUsernum\",\"handle\":257,\"result\":\"86139000\"}");

    SimRegisterBox& tz2501b = plug_tz2501b(2);
    tz2501b.setMemory(0x52, 112, {'T', 'Z', '2', '5', '0', '1', 'B', '-', '0', '0', '4', '2', 0, 0, 0, 0});
    EXPECT_EQ(read_until(*client, "{\"event\":\"plugin\",\"handle\":513}"),
              "{\"event\":\"plugin\",\"handle\":513}");
    ASSERT_TRUE(client->send("{\"event\":\"GetUsernum\",\"handle\":514}"));
    EXPECT_EQ(read_until(*client, "{\"event\":\"answer\""),
              "{\"event\":\"answer\",\"type\":\"GetUsernum\",\"handle\":514,\"result\":\"TZ2501B-\"}");

    // No box in a slot: no answer at all.
    ASSERT_TRUE(client->send("{\"event\":\"GetUsernum\",\"handle\":769}"));
    ASSERT_TRUE(client->send("{\"event\":\"getinfo\"}"));
    std::vector<std::string> skipped;
    EXPECT_EQ(read_until(*client, "{\"event\":\"getinfo\"", &skipped).rfind("{\"event\":\"getinfo\"", 0), 0u);
    for (const std::string& message : skipped)
        EXPECT_EQ(message.find("GetUsernum"), std::string::npos) << message;
    EXPECT_NE(log_text().find("GetUsernum, handle:769,, result=-2"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Versions, WholeServiceCommandTest,
                         ::testing::Values(VersionCase{0x42, "4.20"}, VersionCase{0x37, "3.70"}));

// A call as a browser sees it: the box's status reports and its line audio
// become the texts of their events.
TEST_F(WholeServiceTest, ABrowserSeesACallFromRingToALostLine)
{
    auto client = connect();
    ASSERT_TRUE(client);
    SimTz2401Box& box = plug_in_seen_by(*client);

    holdStatus(sim_, box, kTz2401Ringing, 3);
    EXPECT_EQ(client->read(), kRing);
    EXPECT_EQ(client->read(), kRing);
    holdStatus(sim_, box, kTz2401Idle, 3);
    EXPECT_EQ(client->read(), "{\"event\":\"ringstop\",\"handle\":257}");
    // The caller ID in the pause, as spandsp's transmitter sends it.
    capture_of(box).feed(framed(spandspMdmf(CidStandard::Bell202, {{0x01, "12251830"},
                                                                   {0x02, "075512345678"},
                                                                   {0x07, "ZHANG SAN"}})
                                    .signal));
    EXPECT_EQ(client->read(),
              "{\"event\":\"callerId\",\"handle\":257,\"callernumber\":\"075512345678\"}");

    holdStatus(sim_, box, kTz2401OffHook, 3);
    EXPECT_EQ(client->read(), "{\"event\":\"hookoff\",\"handle\":257,\"type\":0}");
    holdStatus(sim_, box, kTz2401Idle, 6);
    EXPECT_EQ(client->read(), kHookOn);

    // The line is lost for longer than hang_wait_time: the text and a
    // balloon after the plug-in's.
    holdStatus(sim_, box, kTz2401Floating, 8);
    EXPECT_EQ(client->read(), "{\"event\":\"hang\",\"handle\":257}");
    ASSERT_TRUE(tray_.wait_for_balloons(2));
    EXPECT_EQ(tray_.balloons()[1].title, "提示");
    EXPECT_EQ(tray_.balloons()[1].text, "电话线未连接或者电话线有故障");
}

// A voltage report of each firmware form, by the firmware byte the box
// reports.
struct VoltageCase {
    const char* name;
    std::uint8_t version;
    HidReport report;
    const char* text;
    // Older firmware's reports are not held back by the library: the box
    // stops them once told.
    bool second_report_dropped;
};

void PrintTo(const VoltageCase& c, std::ostream* out)
{
    *out << c.name;
}

class WholeServiceVoltageTest : public WholeServiceTest,
                                public ::testing::WithParamInterface<VoltageCase> {};

TEST_P(WholeServiceVoltageTest, AReadingIsReportedOnceAndTheServiceStopsIt)
{
    auto client = connect();
    ASSERT_TRUE(client);
    SimTz2401Box& box = plug_in_seen_by(*client, GetParam().version);

    ASSERT_TRUE(client->send("{\"event\":\"StartReadLineVoltage\",\"handle\":257}"));
    ASSERT_TRUE(eventually([&] { return box.lineVoltageReading(); }));
    pushReports(sim_, box, {GetParam().report});
    EXPECT_EQ(client->read(), GetParam().text);
    // The service's follow-up stopped the reading and told the box.
    EXPECT_TRUE(eventually([&] {
        return !g_pOlvaMgr->slot(1).line_voltage_reading() && !box.lineVoltageReading();
    }));

    if (GetParam().second_report_dropped) {
        // The ring after it is the next text: the second report gave none.
        pushReports(sim_, box, {GetParam().report});
        holdStatus(sim_, box, kTz2401Ringing, 3);
        EXPECT_EQ(client->read(), kRing);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Firmware, WholeServiceVoltageTest,
    ::testing::Values(
        // 167 = 0xA7 as nibbles in bytes 5 and 4, with a check nibble.
        VoltageCase{"nibbles", 0x42, tz2401Voltage(0, 0x7F, 0x0A),
                    "{\"event\":\"voltage\",\"handle\":257,\"vol\":167}", true},
        VoltageCase{"byte1", 0x37, tz2401Voltage(48, 0x7F, 0x0A),
                    "{\"event\":\"voltage\",\"handle\":257,\"vol\":48}", false}),
    [](const ::testing::TestParamInfo<VoltageCase>& info) { return std::string(info.param.name); });

TEST_F(WholeServiceTest, ARecordingStartedAndStoppedByABrowserIsWhole)
{
    auto client = connect();
    ASSERT_TRUE(client);
    SimTz2401Box& box = plug_in_seen_by(*client);
    FakePcmDevice& capture = capture_of(box);

    // A started recording is not answered; the reply to "getinfo" after it
    // shows that it has been handled.
    const std::string file = app_dir_.file("call.wav");
    ASSERT_TRUE(client->send("{\"event\":\"RecordFile\",\"handle\":257,\"filename\":\"" + file +
                             "\",\"codec\":" + std::to_string(OLVA_CODER_PCM) + "}"));
    ASSERT_EQ(ask(*client, "{\"event\":\"getinfo\"}"), getinfo_reply(plugged_line(257)));
    const std::vector<Samples> frames(50, framed(spandspTone(440, -10, 0, 0, 20, 0, 20)));
    ASSERT_TRUE(capture.feedFrames(frames));
    ASSERT_TRUE(client->send("{\"event\":\"StopRecord\",\"handle\":257}"));
    ASSERT_EQ(ask(*client, "{\"event\":\"getinfo\"}"), getinfo_reply(plugged_line(257)));

    // The header states the second of audio that follows it.
    const std::string bytes = readFile(file);
    ASSERT_EQ(bytes.size(), kWaveHeaderSize + 50 * 160 * 2);
    WaveHeader header{};
    std::memcpy(&header, bytes.data(), sizeof header);
    // The header is packed: its field is read by value.
    const std::uint32_t data_length = header.data_length;
    EXPECT_EQ(data_length, 50u * 160 * 2);
    SoundFile sound(file);
    ASSERT_NE(sound.file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(sound.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(sound.info.samplerate, 8000);
    EXPECT_EQ(sound.info.channels, 1);
    EXPECT_EQ(sound.info.frames, 50 * 160);

    // A stop with nothing recording is no error either; a bad coder is.
    EXPECT_TRUE(client->send("{\"event\":\"StopRecord\",\"handle\":257}"));
    EXPECT_EQ(ask(*client, "{\"event\":\"RecordFile\",\"handle\":257,\"filename\":\"" + file +
                               "\",\"codec\":2}"),
              "{\"event\":\"notify\",\"errorType\":\"RecordFile\",\"handle\":257,\"result\":" +
                  std::to_string(OLVA_ERR_CODER) + "}");
}

TEST_F(WholeServiceTest, FilesPlayedAndStoppedByABrowserReachTheLine)
{
    auto client = connect();
    ASSERT_TRUE(client);
    plug_in_seen_by(*client);
    FakePcmDevice& playback = pcm_.addDevice("plughw:1,0", PcmStream::kPlayback);

    const Samples hello = spandspTone(440, -10, 0, 0, 300, 0, 300);
    const std::string file = app_dir_.file("hello.wav");
    ASSERT_TRUE(writeSoundFile(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16, hello));
    const std::string play_hello =
        "{\"event\":\"PlayFile\",\"handle\":257,\"filename\":\"" + file + "\"}";
    ASSERT_TRUE(client->send(play_hello));
    EXPECT_EQ(client->read(), "{\"event\":\"playEnd\",\"handle\":257}");
    EXPECT_EQ(playback.written(), hello);

    // Stopped in its middle: the end comes at once, and no reply.
    playback.holdWritesAt(hello.size() + 800);
    ASSERT_TRUE(client->send(play_hello));
    ASSERT_TRUE(playback.waitForHeldWrite());
    ASSERT_TRUE(client->send("{\"event\":\"StopPlay\",\"handle\":257}"));
    EXPECT_EQ(client->read(), "{\"event\":\"playEnd\",\"handle\":257}");
    EXPECT_EQ(playback.written().size(), hello.size() + 800);

    const std::string refused[][2] = {
        {"{\"event\":\"PlayFile\",\"handle\":257,\"filename\":\"" + app_dir_.file("none.wav") +
             "\"}",
         "{\"event\":\"notify\",\"errorType\":\"PlayFile\",\"handle\":257,\"result\":-1}"},
        {"{\"event\":\"StopPlay\",\"handle\":513}",
         "{\"event\":\"notify\",\"errorType\":\"StopPlay\",\"handle\":513,\"result\":-2}"},
        {"{\"event\":\"SendDtmf\",\"handle\":258,\"dtmf\":\"1\"}",
         "{\"event\":\"notify\",\"errorType\":\"SendDtmf\",\"handle\":258,\"result\":-1}"},
    };
    for (const auto& [frame, reply] : refused)
        EXPECT_EQ(ask(*client, frame), reply) << frame;
}

// Digits sent by a browser are echoed, played and followed by the end of
// the dialling, after which the service plays its prompt "tip.wav" (found
// beside the program) on the same line.
TEST_F(WholeServiceTest, DigitsSentByABrowserEndWithTheCallOutPrompt)
{
    auto client = connect();
    ASSERT_TRUE(client);
    plug_in_seen_by(*client);
    FakePcmDevice& playback = pcm_.addDevice("plughw:1,0", PcmStream::kPlayback);
    const Samples prompt = spandspTone(1000, -12, 0, 0, 200, 0, 200);
    ASSERT_TRUE(
        writeSoundFile(app_dir_.file("tip.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, prompt));

    ASSERT_TRUE(client->send("{\"event\":\"SendDtmf\",\"handle\":257,\"dtmf\":\"12#\"}"));
    EXPECT_EQ(client->read(), "{\"event\":\"dtmfdown\",\"handle\":257,\"dtmfkey\":49}");
    EXPECT_EQ(client->read(), "{\"event\":\"dtmfdown\",\"handle\":257,\"dtmfkey\":50}");
    EXPECT_EQ(client->read(), "{\"event\":\"dtmfdown\",\"handle\":257,\"dtmfkey\":35}");
    EXPECT_EQ(client->read(), "{\"event\":\"CallOutFinish\",\"handle\":257}");
    EXPECT_EQ(client->read(), "{\"event\":\"playEnd\",\"handle\":257}");

    // 180 ms a digit, then the prompt.
    const Samples written = playback.written();
    const std::size_t digits = 3 * 1440;
    ASSERT_EQ(written.size(), digits + prompt.size());
    EXPECT_EQ(spandspDtmfDecode(written.data(), digits), "12#");
    EXPECT_EQ(Samples(written.begin() + digits, written.end()), prompt);
    EXPECT_NE(log_text().find("olva(257) play file result=0"), std::string::npos);
}

TEST_F(WholeServiceTest, CloseStopsTheServerThenTheLibraryAndJoinsEveryThread)
{
    auto client = connect();
    ASSERT_TRUE(client);
    SimTz2401Box& box = plug_in_seen_by(*client);
    FakePcmDevice& capture = capture_of(box);

    EXPECT_EQ(uWebMgr.close_uWeb(), 0);
    EXPECT_FALSE(uWebMgr.is_running());
    EXPECT_EQ(g_pOlvaMgr, nullptr);
    EXPECT_FALSE(sim_.claimed(box));
    EXPECT_FALSE(capture.isOpen());
    EXPECT_TRUE(client->wait_closed());
    EXPECT_FALSE(tcp_connects("127.0.0.1", port_));
    // The web thread, the library's search and timer threads and the box's
    // HID read and capture threads have all been joined.
    EXPECT_TRUE(eventually([&] { return thread_count() == threads_before_; }))
        << thread_count() << " threads, " << threads_before_ << " before the start";

    // The web thread had been joined before the library began to close,
    // and the library had closed before the service reported its end.
    const std::string log = log_text();
    const auto stopped = log.find(" start close usb device ...");
    const auto library_closing = log.find("++  olva_close");
    const auto library_closed = log.find("olva_close--");
    const auto ended = log.find(" start close usb device end");
    for (const auto position : {stopped, library_closing, library_closed, ended})
        ASSERT_NE(position, std::string::npos) << log;
    EXPECT_LT(stopped, library_closing);
    EXPECT_LT(library_closing, library_closed);
    EXPECT_LT(library_closed, ended);
}

TEST_F(WholeServiceTest, SelfTestPageShowsTheGreetingAndTheBoxPluggedIn)
{
    if (!have_program(HeadlessBrowser::kProgram))
        GTEST_SKIP() << "the page test needs " << HeadlessBrowser::kProgram;
    std::filesystem::copy(OLVA_WEBROOT_DIR, app_dir_.file("webroot"),
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing);
    HeadlessBrowser browser;
    std::string error;
    TempDir profile;
    ASSERT_TRUE(browser.open("http://127.0.0.1:" + std::to_string(port_) + "/test/index.html",
                             profile.path(), &error))
        << error;
    std::string last;
    ASSERT_TRUE(browser.wait_until_holds("document.getElementById('greeting').textContent",
                                         greeting(), &last))
        << last;

    plug_tz2401b();
    EXPECT_TRUE(browser.wait_until_holds("document.getElementById('events').textContent", kPlugIn,
                                         &last))
        << last;
    // The page reads the lines again on a plug-in.
    EXPECT_TRUE(browser.wait_until_holds(
        "[...document.querySelectorAll('#lines tr')].map(r => r.cells[0].textContent).join(',')",
        "257", &last))
        << last;
}

// Every control of the self-test page clicked in a real browser against the
// whole service with a simulated Tz2701A: each command's frame reaches the
// service, which logs it or passes it on to the box and its module.
TEST_F(WholeServiceTest, EveryControlOfTheSelfTestPageReachesTheService)
{
    if (!have_program(HeadlessBrowser::kProgram))
        GTEST_SKIP() << "the page test needs " << HeadlessBrowser::kProgram;
    std::filesystem::copy(OLVA_WEBROOT_DIR, app_dir_.file("webroot"),
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing);
    SimTz2401Box& box = plug_tz2701a();
    HeadlessBrowser browser;
    std::string error;
    TempDir profile;
    ASSERT_TRUE(browser.open("http://127.0.0.1:" + std::to_string(port_) + "/test/index.html",
                             profile.path(), &error))
        << error;
    std::string last;
    ASSERT_TRUE(browser.wait_until_holds(
        "[...document.querySelectorAll('#lines tr')].map(r => r.cells[0].textContent).join(',')", "257",
        &last))
        << last;
    // The files the commands name are this test's own.
    TempDir files;
    const std::string wav = files.file("test.wav");
    ASSERT_EQ(browser.evaluate("document.getElementById('filename').value = '" + wav + "'"), wav);

    const auto count_of = [](const std::string& text, const std::string& needle) {
        std::size_t n = 0;
        for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
            ++n;
        return n;
    };
    const auto module_got = [&box](const std::string& command) { return WholeServiceTest::module_got(box, command); };
    // What shows that a command arrived: one more log line of the service,
    // one more command at the module, or one more report to the box's
    // bridge. "" for the commands that do nothing at all.
    struct Control {
        const char* command;
        std::string logged;
        const char* module_command = nullptr;
        bool bridge = false;
    };
    const Control controls[] = {
        {"getinfo", "--getinfo"},
        {"getsysteminfo", "start get sysinfo  from addr:"},
        {"uwebclose", "msg  uweb service close"},
        {"GetVoiceFileNames", ""},
        {"GetDeviceVersionNum", "GetDeviceVersionNum, handle:257,"},
        {"GetProductID", "GetProductID, handle:257,"},
        {"GetUsernum", "GetUsernum, handle:257,"},
        {"StartReadLineVoltage", "StartReadLineVoltage, handle:257,"},
        {"StopReadLineVoltage", "StopReadLineVoltage, handle:257,"},
        {"SoftHookoff", "SoftHookoff, handle:257,"},
        {"SoftHookon", "SoftHookon, handle:257,"},
        {"SendDtmf", "SendDtmf, handle:257,"},
        {"RecordFile", "record file, handle:257, codec:0, filename:" + wav},
        {"StopRecord", " stop record, handle:257,"},
        {"PlayFile", "PlayFile, handle:257, filename:" + wav},
        {"StopPlay", "StopPlay, handle:257,"},
        {"set_record_enable", "set_record_enable, result="},
        {"set_talk_link", "set_talk_link, result="},
        {"JudgeFileSize", "JudgeFileSize, filename:" + wav},
        {"OLVADeletefile", "OLVADeletefile, filename:" + wav},
        {"UploadFile", "UploadFile, filename:" + wav},
        {"UploadFileEx", "UploadFileEx, filename:" + wav},
        {"UploadFormFile", "UploadFormFile uft8_localfilename:" + wav},
        {"sendcmd", "sendcmd, handle:257,", "AT+CSQ"},
        {"msgsize", "", "AT+CPMS?"},
        {"allmsg", ""},
        {"sendmsg", "msg, handle:257, result="},
        {"querySms", "querySms No=1", "AT+CMGR=1"},
        {"deleteSms", "Delete sms smstype:1, No=0", "AT+CMGD=1,0"},
        {"selectsimcard", "", nullptr, true},
        {"gsmpower", "", nullptr, true},
        {"gsmboot", "", nullptr, true},
        // Last: a dial holds the module's queue until it is answered.
        {"olva_makecall", "makecall, handle:257,"},
        {"rejectcall", "rejectcall, handle:257,"},
        {"olva_makecallSlic", "makecall, handle:257,"},
    };
    std::vector<std::string> names;
    for (const std::string_view name : COlvaMgr::command_names())
        names.emplace_back(name);
    ASSERT_EQ(std::size(controls), names.size());
    for (const Control& control : controls) {
        SCOPED_TRACE(control.command);
        EXPECT_EQ(std::ranges::count(names, control.command), 1);
        const std::size_t logged = control.logged.empty() ? 0 : count_of(log_text(), control.logged);
        const std::size_t at_module = control.module_command ? module_got(control.module_command) : 0;
        const std::size_t to_bridge = box.deviceCommands().size();
        const std::size_t infos = count_of(log_text(), "--getinfo");
        ASSERT_EQ(browser.evaluate("document.getElementById('cmd-" + std::string(control.command) + "').click()"),
                  "undefined");
        if (!control.logged.empty()) {
            EXPECT_TRUE(eventually([&] { return count_of(log_text(), control.logged) > logged; }));
        }
        if (control.module_command) {
            EXPECT_TRUE(eventually([&] { return module_got(control.module_command) > at_module; }));
        }
        if (control.bridge) {
            EXPECT_TRUE(eventually([&] { return box.deviceCommands().size() > to_bridge; }));
        }
        if (control.logged.empty() && !control.module_command && !control.bridge) {
            // Frames are handled in order: once a getinfo sent after it has
            // been answered, this one has been handled too.
            ASSERT_EQ(browser.evaluate("document.getElementById('cmd-getinfo').click()"), "undefined");
            EXPECT_TRUE(eventually([&] { return count_of(log_text(), "--getinfo") > infos; }));
        }
    }
    EXPECT_EQ(log_text().find("other msg recv"), std::string::npos);
    EXPECT_EQ(log_text().find("error json msg"), std::string::npos);
    // The page shows what came back, replies and events alike.
    EXPECT_TRUE(browser.wait_until_holds("document.getElementById('kinds').textContent", "notify", &last)) << last;
    EXPECT_TRUE(browser.wait_until_holds("document.getElementById('kinds').textContent", "answer", &last)) << last;
    EXPECT_TRUE(browser.wait_until_holds("document.getElementById('kinds').textContent", "short_msg_size", &last))
        << last;
}

TEST_F(WholeServiceTest, AGsmBoxStartsItsModuleAndABrowserTalksToIt)
{
    auto client = connect();
    ASSERT_TRUE(client);
    SimTz2401Box& box = plug_tz2701a();
    EXPECT_EQ(client->read(), kPlugIn);

    // The start-up script: the SIM is ready, the service centre read.
    EXPECT_TRUE(sees(*client, indented({{"event", "\"simstate\""}, {"handle", "257"},
                                              {"simNo", "1"}, {"result", "3"}})));
    EXPECT_TRUE(sees(*client,
                           "{\"event\":\"msg\",\"handle\":257,\"result\":\"8613800100500\"}"));

    // Registration, and the signal it asks for.
    box.gsmSay("+CREG: 0,1");
    EXPECT_TRUE(sees(*client, indented({{"event", "\"simreg\""}, {"handle", "257"},
                                              {"simNo", "1"}, {"result", "1"}})));
    EXPECT_TRUE(sees(*client, indented({{"event", "\"signalsize\""}, {"handle", "257"},
                                              {"size", "74"}})));

    // A browser's own command reaches the module; its answer comes back.
    ASSERT_TRUE(client->send("{\"event\":\"sendcmd\",\"handle\":257,\"cmd\":\"AT+CLVL?\"}"));
    EXPECT_TRUE(sees(*client, indented({{"event", "\"volume\""}, {"handle", "257"},
                                              {"type", "1"}, {"vol", "40"}})));
    EXPECT_TRUE(eventually([&] {
        for (const auto& received : box.gsmReceived())
            if (received.command == "AT+CLVL?")
                return true;
        return false;
    }));
    EXPECT_NE(log_text().find("sendcmd, handle:257,, result=0"), std::string::npos);

    // A command that would smuggle a second one in is refused.
    ASSERT_TRUE(client->send("{\"event\":\"sendcmd\",\"handle\":257,\"cmd\":\"AT\\rATD110;\"}"));
    EXPECT_TRUE(eventually([&] {
        return log_text().find("sendcmd, handle:257,, result=-4") != std::string::npos;
    }));
}

// SMS from a browser to the module and back: a text sent and reported,
// a part the network refuses, and a stored message counted, read (decoded
// and as hex digits) and deleted.
TEST_F(WholeServiceTest, ABrowserSendsReadsAndDeletesSms)
{
    auto client = connect();
    ASSERT_TRUE(client);
    SimTz2401Box& box = plug_tz2701a();
    EXPECT_EQ(client->read(), kPlugIn);
    EXPECT_TRUE(sees(*client, "{\"event\":\"msg\",\"handle\":257,\"result\":\"8613800100500\"}"));

    ASSERT_TRUE(client->send(R"({"event":"sendmsg","handle":257,"phone":"10086","mode":1,"msg":"你好"})"));
    EXPECT_TRUE(sees(*client, R"({"event":"notify","errorType":"msg","handle":257,"result":0})"));
    EXPECT_TRUE(sees(*client, indented({{"event", "\"shortsms_report\""}, {"handle", "257"}, {"result", "1"}})));

    box.gsmSms([](olva_sim::SimGsmSms& sms) { sms.failPdus(1); });
    ASSERT_TRUE(client->send(R"({"event":"sendmsg","handle":257,"phone":"10086","mode":0,"msg":"4F60"})"));
    EXPECT_TRUE(sees(*client, indented({{"event", "\"shortsms_report\""}, {"handle", "257"}, {"result", "0"}})));

    // A bad number is refused at once.
    ASSERT_TRUE(client->send(R"({"event":"sendmsg","handle":257,"phone":"10086;","mode":1,"msg":"x"})"));
    EXPECT_TRUE(sees(*client, R"({"event":"notify","errorType":"msg","handle":257,"result":-4})"));

    const std::string pdu = "0891683108100005F0000B813119325476F80008425071900354000A4F60597DFF0C4E16754C";
    box.gsmSms([&](olva_sim::SimGsmSms& sms) { sms.store(7, pdu); });
    ASSERT_TRUE(client->send(R"({"event":"msgsize","handle":257})"));
    EXPECT_TRUE(sees(*client, R"({"event":"short_msg_size","handle":257,"number":1,"memory_size":50})"));
    ASSERT_TRUE(client->send(R"({"event":"querySms","handle":257,"mode":1,"smsNo":7})"));
    EXPECT_TRUE(sees(*client, R"({"event":"short_msg","handle":257,"from":"13912345678","time":"2024-05-17 09:30:45","result":"你好，世界","divided":""})"));
    ASSERT_TRUE(client->send(R"({"event":"querySms","handle":257,"mode":0,"smsNo":7})"));
    EXPECT_TRUE(sees(*client, R"({"event":"short_msg","handle":257,"from":"13912345678","time":"2024-05-17 09:30:45","result":"4F60597DFF0C4E16754C","divided":""})"));
    EXPECT_EQ(module_got(box, "AT+CMGR=7"), 2u);

    // Deleting, "smsType" is the message and "smsNo" the delete flag: 0
    // deletes it alone.
    box.gsmSms([&](olva_sim::SimGsmSms& sms) { sms.store(8, pdu); });
    ASSERT_TRUE(client->send(R"({"event":"deleteSms","handle":257,"smsType":7,"smsNo":0})"));
    EXPECT_TRUE(sees(*client, R"({"event":"notify","errorType":"deleteSms","handle":0,"result":0})"));
    EXPECT_TRUE(eventually([&] { return module_got(box, "AT+CMGD=7,0") == 1; }));
    EXPECT_TRUE(eventually([&] {
        bool only_8 = false;
        box.gsmSms([&](olva_sim::SimGsmSms& sms) { only_8 = sms.stored().size() == 1 && sms.stored().count(8); });
        return only_8;
    }));
    // "allmsg" does nothing.
    const std::size_t before = box.gsmReceived().size();
    ASSERT_TRUE(client->send(R"({"event":"allmsg","handle":257,"mode":0})"));
    ASSERT_TRUE(client->send(R"({"event":"deleteSms","handle":257,"smsType":8,"smsNo":9})"));
    EXPECT_TRUE(sees(*client, R"({"event":"notify","errorType":"deleteSms","handle":0,"result":-4})"));
    EXPECT_EQ(box.gsmReceived().size(), before);
}

}  // namespace
}  // namespace olva_test
