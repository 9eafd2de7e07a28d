// The tray program over the real device library, with one simulated Tz2401B
// and its sound card, whose line audio comes at the pace of a real card: the
// whole service as one process, for the tests that signal it.
//   --app-dir=DIR  the application directory ("config.ini", "webroot")
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_backend.h"
#include "sim/sim_tz2401.h"
#include "support/asound_tree.h"
#include "support/fake_paths.h"
#include "support/fake_pcm.h"
#include "support/recording_command_runner.h"
#include "utaskbar/olva_app.h"

namespace {

constexpr auto kFrameTime = std::chrono::milliseconds(20);
constexpr std::size_t kFrameSamples = 160;

// 20 ms of a quiet 400 Hz square wave.
std::vector<std::int16_t> line_frame()
{
    std::vector<std::int16_t> frame(kFrameSamples);
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = (i / 10) % 2 ? 600 : -600;
    return frame;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<char*> toolkit_args;
    std::string app_dir;
    constexpr const char* kAppDir = "--app-dir=";
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && std::strncmp(argv[i], kAppDir, std::strlen(kAppDir)) == 0)
            app_dir = argv[i] + std::strlen(kAppDir);
        else
            toolkit_args.push_back(argv[i]);
    }
    toolkit_args.push_back(nullptr);

    olva_test::FakePaths paths;
    paths.setApplicationDirectory(app_dir);
    olva_test::AsoundTree asound(paths);
    olva_test::RecordingCommandRunner commands;
    olva_test::FakePcmFactory pcm;
    olva_test::FakePcmDevice& capture = pcm.addDevice("hw:1,0", platform::PcmStream::kCapture);
    pcm.addDevice("plughw:1,0", platform::PcmStream::kPlayback);
    asound.set({olva_test::usbPcmLine(1, 0)}, {{1, olva_test::kTz2401CardId, ""}});
    olva_sim::SimBackend sim;
    sim.plug<olva_sim::SimTz2401Box>(olva_sim::SimTz2401Box::tz2401b());

    // The card's own clock: one frame of line audio every 20 ms.
    std::atomic<bool> stop{false};
    std::thread card_clock([&] {
        const std::vector<std::int16_t> frame = line_frame();
        auto next = std::chrono::steady_clock::now();
        while (!stop.load()) {
            capture.feed(frame);
            next += kFrameTime;
            std::this_thread::sleep_until(next);
        }
    });
    const int code = olva_tray_main(static_cast<int>(toolkit_args.size()) - 1, toolkit_args.data());
    stop.store(true);
    card_clock.join();
    return code;
}
