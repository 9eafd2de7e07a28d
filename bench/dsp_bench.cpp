// Nanoseconds per 160-sample frame (20 ms of line audio) for each line-signal
// detector, and for spandsp's DTMF receiver on the same frames. The frames
// hold what a line carries: silence, a caller-ID message, DTMF keys, busy
// tone and noise.
#include <spandsp.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "busytoneDet.h"
#include "cid_decoder.h"
#include "dtmf_decoder.h"
#include "support/spandsp_signals.h"

namespace {

using namespace olva_test;

constexpr int kFrame = 160;
constexpr int kRounds = 20;

Samples lineAudio()
{
    Samples s = silence(500);
    append(s, spandspSdmf(CidStandard::Bell202, "10011750", "13812345678").signal);
    append(s, silence(500));
    append(s, spandspMdmf(CidStandard::V23, {{0x01, "03151432"}, {0x02, "075512345678"}}).signal);
    append(s, silence(500));
    append(s, spandspDtmf("123A456B789C*0#D", -10, 0, 100, 100));
    append(s, spandspTone(450, -15, 0, 0, 350, 350, 7000));
    append(s, spandspTone(450, -15, 0, 0, 4000, 0, 4000));
    mixIn(s, spandspNoise(-50, static_cast<int>(s.size() / 8), 1));
    s.resize(s.size() / kFrame * kFrame);
    return s;
}

struct Timing {
    double ns_per_frame;
    long reports;  // per round
};

// Runs one detector over every frame kRounds times.
Timing time_per_frame(const Samples& audio, const std::function<void()>& reset,
                      const std::function<int(std::int16_t*)>& frame)
{
    Samples work = audio;
    const std::size_t frames = work.size() / kFrame;
    long sink = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < kRounds; ++round) {
        reset();
        for (std::size_t f = 0; f < frames; ++f)
            sink += frame(&work[f * kFrame]);
    }
    const auto ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    return {ns / static_cast<double>(frames * kRounds), sink / kRounds};
}

void print(const char* name, Timing t)
{
    std::printf("%-28s %8.0f ns/frame  %6.3f%% of real time  %3ld reports\n", name, t.ns_per_frame,
                t.ns_per_frame / 20e6 * 100, t.reports);
}

}  // namespace

int main()
{
    const Samples audio = lineAudio();
    std::printf("%zu frames of line audio, %d rounds\n", audio.size() / kFrame, kRounds);

    dtmf_decoder dtmf;
    print("dtmf_decoder (strict)", time_per_frame(audio, [&] { dtmf.dtmf_init(); },
                                                  [&](std::int16_t* f) {
                                                      std::int16_t code;
                                                      return dtmf.dtmf_detect(f, &code, true) ? 1 : 0;
                                                  }));

    cid_decoder cid;
    print("cid_decoder", time_per_frame(audio, [&] { cid.cidReset(); },
                                        [&](std::int16_t* f) { return cid.cid_detect_frame(f, 0) ? 1 : 0; }));

    const tagBusyInfo busy_set{0, 450, 420, 35, 35, 5, 12, 3};
    CToneDetect busy;
    print("CToneDetect busy", time_per_frame(audio,
                                             [&] {
                                                 busy.Initial(busy_set);
                                                 busy.StarttoneDet();
                                             },
                                             [&](std::int16_t* f) {
                                                 int n = 0;
                                                 for (int i = 0; i < kFrame; ++i)
                                                     n += busy.toneDet(f[i]);
                                                 return n;
                                             }));

    const tagBusyInfo dial_set{0, 450, 625, 95, 395, 20, 12, 1};
    CToneDetect dial;
    print("CToneDetect dial/ringback", time_per_frame(audio,
                                                      [&] {
                                                          dial.Initial(dial_set);
                                                          dial.StarttoneDet();
                                                      },
                                                      [&](std::int16_t* f) {
                                                          int n = 0;
                                                          for (int i = 0; i < kFrame; ++i) {
                                                              std::int16_t level = 0;
                                                              int type = -1;
                                                              n += dial.toneDet(f[i], level, type);
                                                          }
                                                          return n;
                                                      }));

    std::string digits;
    auto collect = [](void* user, const char* d, int len) {
        static_cast<std::string*>(user)->append(d, static_cast<std::size_t>(len));
    };
    dtmf_rx_state_t* rx = dtmf_rx_init(nullptr, collect, &digits);
    print("spandsp dtmf_rx", time_per_frame(audio, [&] { dtmf_rx_init(rx, collect, &digits); },
                                            [&](std::int16_t* f) {
                                                const std::size_t before = digits.size();
                                                dtmf_rx(rx, f, kFrame);
                                                return static_cast<int>(digits.size() - before);
                                            }));
    dtmf_rx_free(rx);
    return 0;
}
