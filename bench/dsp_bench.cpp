// Nanoseconds per 160-sample frame (20 ms of line audio) for each line-signal
// detector, beside spandsp's DTMF receiver on the same frames and beside the
// detector's scalar reference (tests/reference); and the cost of one idle
// line's whole per-frame pipeline beside the same pipeline with the
// reference detectors. The frames hold what a line carries: silence, a
// caller-ID message, DTMF keys, busy tone and noise.
//
// The machine may be shared: every subject runs kTrials times, the trials of
// all subjects interleaved, and the best trial counts (the one least
// disturbed by other work).
#include <spandsp.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "dsp/busytoneDet.h"
#include "dsp/cid_decoder.h"
#include "dsp/dtmf_decoder.h"
#include "reference/busytoneDet.h"
#include "reference/cid_decoder.h"
#include "reference/dtmf_decoder.h"
#include "support/fake_paths.h"
#include "support/signal_test_line.h"
#include "support/spandsp_signals.h"
#include "support/temp_dir.h"

namespace {

using namespace olva_test;

constexpr int kFrame = 160;
constexpr int kTrials = 41;

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

// What an idle line carries for 16 s: silence, or a faint hiss.
Samples idleAudio(int noise_dbm0)
{
    Samples s = silence(16000);
    if (noise_dbm0 < 0)
        mixIn(s, spandspNoise(noise_dbm0, 16000, 2));
    return s;
}

// One subject: reset, then every frame of its audio once. Returns the number
// of reports, which must be the same in every trial.
struct Subject {
    std::string name;
    const Samples* audio;
    std::function<void()> reset;
    std::function<int(std::int16_t*)> frame;
    double best_ns = std::numeric_limits<double>::infinity();
    long reports = 0;
};

void runTrials(std::vector<Subject>& subjects)
{
    for (int trial = 0; trial < kTrials; ++trial) {
        for (Subject& s : subjects) {
            Samples work = *s.audio;  // a detector may scale its input in place
            const std::size_t frames = work.size() / kFrame;
            long reports = 0;
            s.reset();
            const auto start = std::chrono::steady_clock::now();
            for (std::size_t f = 0; f < frames; ++f)
                reports += s.frame(&work[f * kFrame]);
            const std::chrono::duration<double, std::nano> ns = std::chrono::steady_clock::now() - start;
            s.best_ns = std::min(s.best_ns, ns.count() / static_cast<double>(frames));
            s.reports = reports;
        }
    }
}

template <class Detector>
int busyFrame(Detector& d, const std::int16_t* f)
{
    int n = 0;
    for (int i = 0; i < kFrame; ++i)
        n += d.toneDet(f[i]);
    return n;
}

template <class Detector>
int dialFrame(Detector& d, const std::int16_t* f)
{
    int n = 0;
    for (int i = 0; i < kFrame; ++i) {
        std::int16_t level = 0;
        int type = -1;
        n += d.toneDet(f[i], level, type);
    }
    return n;
}

template <class Detector, class Settings>
void startTone(Detector& d, const Settings& settings)
{
    d.Initial(settings);
    d.StarttoneDet();
}

// An opened line of the product, idle between calls.
std::unique_ptr<SignalTestLine> idleLine(OLVA_PRODUCT product)
{
    auto line = std::make_unique<SignalTestLine>();
    line->line_open(1, "", product, true);
    line->clear();
    return line;
}

int lineFrame(SignalTestLine& line, std::int16_t* f)
{
    line.handle_record_wave(reinterpret_cast<char*>(f), CLineDevice::kFrameBytes);
    return 0;
}

// The idle pipeline as it was: the reference detectors called as the line
// calls its own (the DTMF detector in strict mode, the demodulator, the busy
// tone detector sample by sample), plus the rest of the pipeline, measured
// on a line whose product detects nothing in software.
struct ReferencePipeline {
    reference::dtmf_decoder dtmf;
    reference::cid_decoder cid;
    reference::CToneDetect busy;
    std::unique_ptr<SignalTestLine> rest;

    void reset()
    {
        dtmf.dtmf_init();
        cid.cidReset();
        startTone(busy, reference::tagBusyInfo{0, 450, 420, 35, 35, 5, 12, 3});
    }
    int frame(std::int16_t* f)
    {
        std::int16_t samples[kFrame];
        std::copy(f, f + kFrame, samples);
        std::int16_t code = 0;
        int n = dtmf.dtmf_detect(samples, &code, true) ? 1 : 0;
        cid.cid_detect_frame(samples, 0);
        n += busyFrame(busy, samples);
        return n + lineFrame(*rest, f);
    }
};

void printRow(const Subject& s, double dtmf_rx_ns, const Subject* reference, const char* target)
{
    std::printf("%-34s %7.0f ns/frame %6.2fx dtmf_rx", s.name.c_str(), s.best_ns, s.best_ns / dtmf_rx_ns);
    if (reference)
        std::printf("   reference %7.0f ns/frame, %5.2fx faster", reference->best_ns,
                    reference->best_ns / s.best_ns);
    std::printf("   %3ld reports", s.reports);
    if (reference && reference->reports != s.reports)
        std::printf(" (reference: %ld!)", reference->reports);
    if (target)
        std::printf("   target %s", target);
    std::printf("\n");
}

}  // namespace

int main()
{
    TempDir dir;
    FakePaths paths;
    paths.setApplicationDirectory(dir.path());

    const Samples audio = lineAudio();
    const Samples idle_silence = idleAudio(0);
    const Samples idle_hiss = idleAudio(-60);

    const tagBusyInfo busy_set{0, 450, 420, 35, 35, 5, 12, 3};
    const tagBusyInfo dial_set{0, 450, 625, 95, 395, 20, 12, 1};
    const reference::tagBusyInfo ref_busy_set{0, 450, 420, 35, 35, 5, 12, 3};
    const reference::tagBusyInfo ref_dial_set{0, 450, 625, 95, 395, 20, 12, 1};

    dtmf_decoder dtmf_strict, dtmf_normal;
    reference::dtmf_decoder ref_dtmf_strict, ref_dtmf_normal;
    cid_decoder cid;
    reference::cid_decoder ref_cid;
    CToneDetect busy, dial;
    reference::CToneDetect ref_busy, ref_dial;

    std::string digits;
    auto collect = [](void* user, const char* d, int len) {
        static_cast<std::string*>(user)->append(d, static_cast<std::size_t>(len));
    };
    dtmf_rx_state_t* rx = dtmf_rx_init(nullptr, collect, &digits);

    auto dtmfFrame = [](auto& d, bool strict) {
        return [&d, strict](std::int16_t* f) {
            std::int16_t code;
            return d.dtmf_detect(f, &code, strict) ? 1 : 0;
        };
    };

    std::vector<Subject> s;
    s.push_back({"spandsp dtmf_rx", &audio, [&] { dtmf_rx_init(rx, collect, &digits); },
                 [&](std::int16_t* f) {
                     const std::size_t before = digits.size();
                     dtmf_rx(rx, f, kFrame);
                     return static_cast<int>(digits.size() - before);
                 }});
    s.push_back({"dtmf_decoder (strict)", &audio, [&] { dtmf_strict.dtmf_init(); }, dtmfFrame(dtmf_strict, true)});
    s.push_back({"", &audio, [&] { ref_dtmf_strict.dtmf_init(); }, dtmfFrame(ref_dtmf_strict, true)});
    s.push_back({"dtmf_decoder (normal)", &audio, [&] { dtmf_normal.dtmf_init(); }, dtmfFrame(dtmf_normal, false)});
    s.push_back({"", &audio, [&] { ref_dtmf_normal.dtmf_init(); }, dtmfFrame(ref_dtmf_normal, false)});
    s.push_back({"cid_decoder", &audio, [&] { cid.cidReset(); },
                 [&](std::int16_t* f) { return cid.cid_detect_frame(f, 0) ? 1 : 0; }});
    s.push_back({"", &audio, [&] { ref_cid.cidReset(); },
                 [&](std::int16_t* f) { return ref_cid.cid_detect_frame(f, 0) ? 1 : 0; }});
    s.push_back({"CToneDetect busy", &audio, [&] { startTone(busy, busy_set); },
                 [&](std::int16_t* f) { return busyFrame(busy, f); }});
    s.push_back({"", &audio, [&] { startTone(ref_busy, ref_busy_set); },
                 [&](std::int16_t* f) { return busyFrame(ref_busy, f); }});
    s.push_back({"CToneDetect dial/ringback", &audio, [&] { startTone(dial, dial_set); },
                 [&](std::int16_t* f) { return dialFrame(dial, f); }});
    s.push_back({"", &audio, [&] { startTone(ref_dial, ref_dial_set); },
                 [&](std::int16_t* f) { return dialFrame(ref_dial, f); }});

    // One idle Tz2401B line, on digital silence and on a faint hiss.
    std::unique_ptr<SignalTestLine> line = idleLine(OLVA_PRODUCT_TZ2401B);
    ReferencePipeline ref_pipeline{{}, {}, {}, idleLine(OLVA_PRODUCT_TZ2501A)};
    for (const Samples* idle : {&idle_silence, &idle_hiss}) {
        const std::string what = idle == &idle_silence ? "silence" : "-60 dBm0 hiss";
        s.push_back({"idle line pipeline, " + what, idle, [] {}, [&](std::int16_t* f) { return lineFrame(*line, f); }});
        s.push_back({"", idle, [&] { ref_pipeline.reset(); }, [&](std::int16_t* f) { return ref_pipeline.frame(f); }});
    }

    std::printf("%zu frames of line audio, %zu of idle line, best of %d trials\n", audio.size() / kFrame,
                idle_silence.size() / kFrame, kTrials);
    runTrials(s);
    dtmf_rx_free(rx);

    const double rx_ns = s[0].best_ns;
    printRow(s[0], rx_ns, nullptr, nullptr);
    const char* targets[] = {"<= 1.5x dtmf_rx", "<= 1.5x dtmf_rx", "<= 3x dtmf_rx", "<= 2x dtmf_rx",
                             "<= 2x dtmf_rx",   ">= 2.5x faster",  ">= 2.5x faster"};
    for (std::size_t i = 1, t = 0; i + 1 < s.size(); i += 2, ++t)
        printRow(s[i], rx_ns, &s[i + 1], targets[t]);
    return 0;
}
