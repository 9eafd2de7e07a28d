// A scripted PCM for tests: sound devices that a FakePcmFactory opens by
// name, installed as the process's PCM factory for the lifetime of the
// factory. A device's streams keep ALSA's states: calls before the hardware
// parameters are set give -EIO; setting them prepares the stream; drop() and
// drain() leave it set up but stopped, where reads and writes give -EBADFD
// until prepare(); an overrun or underrun (-EPIPE) stays until prepare(); a
// device that is gone (-ENODEV) stays gone; every call after close() gives
// -EBADFD. A device opens once at a time: a second open gives -EBUSY.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/platform/pcm.h"
#include "support/eventually.h"

namespace olva_test {

struct FakePcmCounters {
    int opens = 0;
    int closes = 0;
    int prepares = 0;
    int starts = 0;
    int drops = 0;
    int drains = 0;
    int reads = 0;
    int writes = 0;
    int waits = 0;
    int last_wait_timeout_ms = 0;
};

class FakePcmDevice {
public:
    // What a read does when nothing is fed: wait until the test feeds, the
    // stream is dropped or closed, or the device is unplugged; or return a
    // full read of silence at once, as a running card would after a period.
    enum class Idle { kBlock, kSilence };

    explicit FakePcmDevice(platform::PcmStream stream) : stream_(stream) {}

    // Capture. Each feed is delivered by the reads in order; one read takes
    // at most what is left of one feed, so a feed shorter than a read gives a
    // short read. Samples are interleaved by the channels of the stream.
    void feed(std::vector<std::int16_t> samples);
    // The read after what was fed before gives error: -EPIPE (an overrun),
    // -EAGAIN, -ENODEV (the card is gone, as unplug()), or any other.
    void feedError(int error);
    void setIdle(Idle idle);
    // True once every feed and fed error was read.
    bool waitUntilConsumed(std::chrono::milliseconds timeout = kWait);
    // For a reader that waits in a read: feeds the frames, one read each,
    // and is true once the reader has come back for the read after the
    // last, having handled them all.
    bool feedFrames(const std::vector<std::vector<std::int16_t>>& frames,
                    std::chrono::milliseconds timeout = kWait);

    // Playback. The next write gives result: a negative error (-EPIPE an
    // underrun), or that count, of which at most the frames asked are taken.
    // Without a script a write takes every frame.
    void scriptWrite(long result);
    // Once samples samples have been written, the writes after them wait,
    // as on a card whose buffer is full, until the stream is dropped or
    // closed (they then give -EBADFD) or the device is unplugged; that ends
    // the hold.
    void holdWritesAt(std::size_t samples);
    // True once a write is waiting in the hold.
    bool waitForHeldWrite(std::chrono::milliseconds timeout = kWait);
    std::vector<std::int16_t> written() const;
    bool waitForWritten(std::size_t samples, std::chrono::milliseconds timeout = kWait);

    // The next open fails with error, times times.
    void failOpens(int error, int times);
    // The next setHwParams fails with error.
    void failHwParams(int error);
    // The card is gone: every call but close() gives -ENODEV from now on, and
    // calls that wait return.
    void unplug();

    FakePcmCounters counters() const;
    // Those of the last successful setHwParams.
    std::optional<platform::PcmHwParams> hwParams() const;
    bool isOpen() const;

private:
    friend class FakePcm;
    friend class FakePcmFactory;

    struct Step {
        int error = 0;  // 0: samples
        std::vector<std::int16_t> samples;
        std::size_t taken = 0;
    };

    const platform::PcmStream stream_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;  // any member below changed
    // All guarded by mutex_.
    std::deque<Step> steps_;
    Idle idle_ = Idle::kBlock;
    std::deque<long> write_script_;
    std::vector<std::int16_t> written_;
    std::optional<std::size_t> hold_at_;
    bool write_held_ = false;
    int open_failures_left_ = 0;
    int open_error_ = 0;
    std::deque<int> hw_params_failures_;
    bool unplugged_ = false;
    bool open_ = false;
    std::uint64_t stops_ = 0;  // drops and closes, to wake waiting calls
    FakePcmCounters counters_;
    std::optional<platform::PcmHwParams> hw_params_;
};

struct FakePcmOpen {
    std::string name;
    platform::PcmStream stream;
    int result;
};

class FakePcmFactory final : public platform::PcmFactory {
public:
    FakePcmFactory();
    ~FakePcmFactory() override;
    FakePcmFactory(const FakePcmFactory&) = delete;
    FakePcmFactory& operator=(const FakePcmFactory&) = delete;

    // A device that opens under name for stream; names not added give
    // -ENOENT, as ALSA does for an unknown PCM.
    FakePcmDevice& addDevice(const std::string& name, platform::PcmStream stream);

    int open(const std::string& name, platform::PcmStream stream,
             std::unique_ptr<platform::Pcm>* pcm) override;

    // Every open asked for, in order.
    std::vector<FakePcmOpen> opens() const;
    // Forgets the opens so far.
    void clearOpens();

private:
    mutable std::mutex mutex_;
    // Devices outlive the factory while a stream of theirs is open.
    std::map<std::pair<std::string, platform::PcmStream>, std::shared_ptr<FakePcmDevice>>
        devices_;  // guarded by mutex_
    std::vector<FakePcmOpen> opens_;  // guarded by mutex_
};

}  // namespace olva_test
