// Time from a simulated Tz2401B's status report to the library's callback:
// the ring of a call, raised once the report that ends the ring's debounce
// has been taken by the box's HID read thread. Prints the median and the
// 99th percentile over many rings.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
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

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRings = 400;
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
        // Idle long enough to end the last ring, then ringing: the third
        // clock report ends its debounce and raises the ring.
        deliver(sim, box, kIdle);
        for (int i = 0; i < 12; ++i)
            deliver(sim, box, kClock);
        clock.advanceMs(8000);
        deliver(sim, box, kRinging);
        deliver(sim, box, kClock);
        deliver(sim, box, kClock);
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
    OlvaManager::use_manual_drive(false);

    std::sort(micros.begin(), micros.end());
    std::printf("status report to ring callback, %d rings: median %.1f us, p99 %.1f us\n", kRings,
                micros[micros.size() / 2], micros[micros.size() * 99 / 100]);
    return 0;
}
