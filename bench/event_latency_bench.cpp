// Time from a simulated Tz2401B's report to the event it raises: the ring of
// a call at the library's callback, raised once the report that ends the
// ring's debounce has been taken by the box's HID read thread; and a line
// voltage reading through the web service to the JSON text at Beast
// WebSocket clients, with both of the library's box slots filled and ten
// browsers connected, timed from the moment the HID read thread took the
// report. Prints the median and the 99th percentile of each.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cavrel_olva.h"
#include "olva_manager/olva_manager.h"
#include "sim/sim_backend.h"
#include "sim/sim_tz2401.h"
#include "support/asound_tree.h"
#include "support/fake_clock.h"
#include "support/fake_paths.h"
#include "support/fake_pcm.h"
#include "support/foreground_sleeper.h"
#include "support/recording_command_runner.h"
#include "support/temp_dir.h"
#include "support/test_box.h"
#include "bench_web_service.h"
#include "support/web_client.h"
#include "ukit/olva_mgr.h"
#include "usb_hid/report_worker.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRings = 400;
constexpr int kWebLines = 2;  // one Tz2401B in each of the library's two box slots
constexpr int kWebReadingsPerLine = 200;
// A line-voltage report of the firmware 4.20 form: 167 V.
const std::vector<std::uint8_t> kVoltageReport = {3, 0, 16, 0, 0x7F, 0x0A, 0, 0};
constexpr int kWebClients = 10;
constexpr double kWebTargetP99Us = 2000;
constexpr std::uint8_t kIdle = 8;
constexpr std::uint8_t kRinging = 15;
constexpr std::uint8_t kClock = 19;

std::mutex g_mutex;
std::condition_variable g_rang;
Clock::time_point g_ring_time;  // g_mutex
int g_rings = 0;                // g_mutex

void callback(unsigned long, int event, unsigned long, unsigned long, unsigned long,
              unsigned long)
{
    if (event != OLVA_EVENT_LINE_RING)
        return;
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(g_mutex);
    g_ring_time = now;
    ++g_rings;
    g_rang.notify_all();
}

std::vector<std::uint8_t> status(std::uint8_t code)
{
    return {3, code, 1, 0, 0, 0, 0, 0};
}

// Pushes a report and waits until the simulated bus has delivered it.
void deliver(olva_sim::SimBackend& sim, const olva_sim::SimBox& box, std::uint8_t code)
{
    sim.pushInput(box, status(code));
    while (!sim.settled(box))
        std::this_thread::yield();
}

// Brings the box's line to the edge of a ring: idle long enough to end the
// last ring, then ringing for two line steps. The next clock report ends
// the debounce and raises the ring.
void prepare_ring(olva_sim::SimBackend& sim, const olva_sim::SimBox& box, olva_test::FakeClock& clock)
{
    deliver(sim, box, kIdle);
    for (int i = 0; i < 12; ++i)
        deliver(sim, box, kClock);
    clock.advanceMs(8000);
    deliver(sim, box, kRinging);
    deliver(sim, box, kClock);
    deliver(sim, box, kClock);
}

void print_figures(const char* what, std::vector<double> micros)
{
    std::sort(micros.begin(), micros.end());
    std::printf("%s: median %.1f us, p99 %.1f us", what, micros[micros.size() / 2],
                micros[micros.size() * 99 / 100]);
}

// A sound card for the box at its USB location, as the search finds it.
void add_card(olva_sim::SimBackend& sim, const olva_sim::SimBox& box, int card,
              olva_test::FakePcmFactory& pcm, std::vector<std::string>& lines,
              std::vector<olva_test::AsoundCard>& cards)
{
    const auto [bus, address] = olva_test::TestBox::usbLocation(sim.path(box));
    lines.push_back(olva_test::usbPcmLine(card, 0));
    cards.push_back({card, olva_test::kTz2401CardId, olva_test::usbBusText(bus, address)});
    const std::string number = std::to_string(card);
    pcm.addDevice("hw:" + number + ",0", platform::PcmStream::kCapture);
    pcm.addDevice("plughw:" + number + ",0", platform::PcmStream::kPlayback);
}

// The web service over the library with its boxes and ten browsers: the
// time from each line-voltage report, a reading asked for by a browser, to
// its text at every browser.
bool web_latency(olva_sim::SimBackend& sim, const olva_test::TempDir& app_dir,
                 std::vector<olva_sim::SimTz2401Box*> boxes, std::vector<double>& micros)
{
    if (!olva_bench::start_web_service(app_dir) || g_pOlvaMgr->search_pass() != kWebLines) {
        std::fprintf(stderr, "the web service did not start with its boxes\n");
        return false;
    }
    olva_test::ClientOptions client_options;
    client_options.port = uWebMgr.http_port();
    std::vector<std::unique_ptr<olva_test::WsClient>> clients;
    for (int i = 0; i < kWebClients; ++i) {
        std::string error;
        clients.push_back(olva_test::WsClient::connect(client_options, &error));
        if (!clients.back() || !clients.back()->read()) {
            std::fprintf(stderr, "browser %d: %s\n", i, error.c_str());
            return false;
        }
    }
    const unsigned long handles[] = {257, 513};
    for (int reading = 0; reading < kWebReadingsPerLine; ++reading) {
        for (int line = 0; line < kWebLines; ++line) {
            olva_sim::SimTz2401Box& box = *boxes[line];
            // A browser asks for one reading; the box's report of it is timed.
            if (!clients[0]->send("{\"event\":\"StartReadLineVoltage\",\"handle\":" +
                                  std::to_string(handles[line]) + "}"))
                return false;
            while (!box.lineVoltageReading())
                std::this_thread::yield();
            while (ReportWorker::in_hand() != 0)
                std::this_thread::yield();
            sim.pushInput(box, kVoltageReport);
            // Timed from the moment the box's HID read thread has taken it.
            while (!sim.settled(box))
                std::this_thread::yield();
            const Clock::time_point taken = Clock::now();
            for (auto& client : clients) {
                Clock::time_point read_at;
                if (!olva_bench::read_event(*client, "{\"event\":\"voltage\"", read_at)) {
                    std::fprintf(stderr, "reading %d did not reach a browser\n", reading);
                    return false;
                }
                micros.push_back(std::chrono::duration<double, std::micro>(read_at - taken).count());
            }
            // The service's follow-up ends the reading.
            while (box.lineVoltageReading())
                std::this_thread::yield();
        }
    }
    clients.clear();
    uWebMgr.close_uWeb();
    return true;
}

}  // namespace

int main()
{
    olva_test::FakeClock clock;
    olva_test::ForegroundSleeper sleeper;
    olva_sim::SimBackend sim;
    olva_test::TempDir app_dir;
    olva_test::FakePaths paths;
    paths.setApplicationDirectory(app_dir.path());
    olva_test::AsoundTree asound{paths};
    olva_test::RecordingCommandRunner commands;
    olva_test::FakePcmFactory pcm;

    OlvaManager::use_manual_drive(true);
    if (olva_open(&callback) != 0)
        return 1;
    olva_sim::SimTz2401Box& box = sim.plug<olva_sim::SimTz2401Box>(olva_sim::SimTz2401Box::tz2401b());
    const auto [bus, address] = olva_test::TestBox::usbLocation(sim.path(box));
    asound.set({olva_test::usbPcmLine(1, 0)},
               {{1, olva_test::kTz2401CardId, olva_test::usbBusText(bus, address)}});
    pcm.addDevice("hw:1,0", platform::PcmStream::kCapture);
    pcm.addDevice("plughw:1,0", platform::PcmStream::kPlayback);
    if (g_pOlvaMgr->search_pass() != 1)
        return 1;

    std::vector<double> micros;
    for (int ring = 0; ring < kRings; ++ring) {
        prepare_ring(sim, box, clock);
        int rings_before;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            rings_before = g_rings;
        }
        const Clock::time_point sent = Clock::now();
        sim.pushInput(box, status(kClock));
        std::unique_lock<std::mutex> lock(g_mutex);
        if (!g_rang.wait_for(lock, std::chrono::seconds(5), [&] { return g_rings > rings_before; })) {
            std::fprintf(stderr, "ring %d was not raised\n", ring);
            return 1;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(g_ring_time - sent).count());
    }
    olva_close();

    // A second box with its card, for the web service.
    std::vector<olva_sim::SimTz2401Box*> boxes = {&box};
    std::vector<std::string> pcm_lines = {olva_test::usbPcmLine(1, 0)};
    std::vector<olva_test::AsoundCard> cards = {{1, olva_test::kTz2401CardId, olva_test::usbBusText(bus, address)}};
    for (int card = 2; card <= kWebLines; ++card) {
        boxes.push_back(&sim.plug<olva_sim::SimTz2401Box>(olva_sim::SimTz2401Box::tz2401b()));
        add_card(sim, *boxes.back(), card, pcm, pcm_lines, cards);
    }
    asound.set(pcm_lines, cards);
    std::vector<double> web_micros;
    const bool web_ok = web_latency(sim, app_dir, boxes, web_micros);
    OlvaManager::use_manual_drive(false);
    if (!web_ok)
        return 1;

    char what[128];
    std::snprintf(what, sizeof what, "status report to ring callback, %d rings", kRings);
    print_figures(what, micros);
    std::printf("\n");
    std::snprintf(what, sizeof what, "voltage report to its text at %d browsers, %d lines, %d reports",
                  kWebClients, kWebLines, kWebLines * kWebReadingsPerLine);
    print_figures(what, web_micros);
    std::printf(" (target p99 under %.0f us)\n", kWebTargetP99Us);
    return 0;
}
