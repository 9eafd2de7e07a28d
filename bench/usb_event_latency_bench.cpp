// Time from the completion of a box's interrupt transfer to the text of its
// event at a browser, on the real path: the real libusb backend with a
// Tz2401B emulated by umockdev, the library and the web service, and a
// Beast WebSocket client. A browser asks for a line-voltage reading; after
// a pause of 2 to 60 ms the box's URB is ended with the voltage report, and
// the "voltage" text is timed at the client. Prints the median and the 99th percentile beside
// the goal. Runs under umockdev-wrapper:
//   umockdev-wrapper build/bench/usb_event_latency_bench
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/platform/sleeper.h"
#include "bench_web_service.h"
#include "olva_manager/olva_manager.h"
#include "support/asound_tree.h"
#include "support/fake_paths.h"
#include "support/fake_pcm.h"
#include "support/recording_command_runner.h"
#include "support/temp_dir.h"
#include "support/web_client.h"
#include "ukit/olva_mgr.h"
#include "umockdev_tz2401b.h"
#include "umockdev_usb_box.h"
#include "usb_hid/libusb_backend.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReadings = 300;
constexpr double kGoalMedianUs = 2000;
constexpr double kGoalP99Us = 5000;
// A line-voltage report of the firmware 4.20 form: 167 V.
const std::vector<std::uint8_t> kVoltageReport = {3, 0, 16, 0, 0x7F, 0x0A, 0, 0};
constexpr auto kWait = std::chrono::seconds(5);
// How long the box waits before it sends a report: longer than the read
// loop's period at most.
constexpr int kLeastPauseUs = 2000;
constexpr int kMostPauseUs = 60000;

// Waits until done() holds; false after kWait.
template <typename Done>
bool wait_until(Done done)
{
    const Clock::time_point deadline = Clock::now() + kWait;
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

// The bench's own thread, which opens the box, pauses at no cost (the box
// has no sound card, whose search would take 15 s); the library's threads
// pause for real, as in the service.
class OpenerSleeper final : public platform::Sleeper {
public:
    OpenerSleeper() { platform::setSleeper(this); }
    ~OpenerSleeper() override { platform::setSleeper(nullptr); }
    void sleepMs(int ms) override
    {
        if (std::this_thread::get_id() != opener_ && ms > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }

private:
    const std::thread::id opener_ = std::this_thread::get_id();
};

int fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    return 1;
}

}  // namespace

int main()
{
    // The test bed comes before libusb's first use, which enumerates the bus.
    olva_test::UmockdevUsbBox box;
    if (const std::string why = box.start(); !why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    olva_test::UmockdevTz2401b firmware;
    firmware.install(box);
    if (!usb::libusbBackend())
        return fail("libusb cannot start on the umockdev test bed");

    OpenerSleeper sleeper;
    olva_test::TempDir app_dir;
    olva_test::FakePaths paths;
    paths.setApplicationDirectory(app_dir.path());
    olva_test::AsoundTree asound{paths};
    olva_test::RecordingCommandRunner commands;
    olva_test::FakePcmFactory pcm;

    OlvaManager::use_manual_drive(true);
    if (!olva_bench::start_web_service(app_dir))
        return fail("the web service did not start");
    olva_test::ClientOptions client_options;
    client_options.port = uWebMgr.http_port();
    std::string error;
    std::unique_ptr<olva_test::WsClient> client = olva_test::WsClient::connect(client_options, &error);
    if (!client || !client->read())
        return fail(("no browser: " + error).c_str());
    if (g_pOlvaMgr->search_pass() != 1)
        return fail("the box did not open");

    std::mt19937 random(2832);
    std::uniform_int_distribution<int> pause(kLeastPauseUs, kMostPauseUs);
    std::vector<double> micros;
    for (int reading = 0; reading < kReadings; ++reading) {
        if (!client->send("{\"event\":\"StartReadLineVoltage\",\"handle\":257}"))
            return fail("the browser's request did not go out");
        if (!wait_until([&] { return firmware.voltageReading(); }))
            return fail("the box was never asked for its line voltage");
        // The read thread's transfer waits for the box.
        if (!wait_until([&] { return box.waitingInterruptIn() == 1; }))
            return fail("no interrupt transfer waits for the box");
        // The report comes at a moment of the box's choosing, as a ring's
        // does: not while the request's own transfers are being reaped, and
        // at no fixed phase of the read thread's loop.
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
        const Clock::time_point completed = Clock::now();
        box.sendInterruptIn(kVoltageReport);
        Clock::time_point read_at;
        if (!olva_bench::read_event(*client, "{\"event\":\"voltage\"", read_at))
            return fail("a reading did not reach the browser");
        micros.push_back(std::chrono::duration<double, std::micro>(read_at - completed).count());
        // The service's follow-up ends the reading.
        if (!wait_until([&] { return !firmware.voltageReading(); }))
            return fail("the reading was never ended");
    }
    client.reset();
    uWebMgr.close_uWeb();
    OlvaManager::use_manual_drive(false);

    std::sort(micros.begin(), micros.end());
    std::printf("interrupt transfer completed to its text at a browser, %d reports, real libusb "
                "under umockdev: median %.1f us (goal under %.0f us), p99 %.1f us (goal under "
                "%.0f us)\n",
                kReadings, micros[micros.size() / 2], kGoalMedianUs,
                micros[micros.size() * 99 / 100], kGoalP99Us);
    return 0;
}
