#include "support/fake_pcm.h"

#include <algorithm>
#include <cerrno>

#include "support/eventually.h"

namespace olva_test {

using platform::PcmStream;

// One open stream of a FakePcmDevice. Its state is guarded by the device's
// mutex, since drop() may come from another thread.
class FakePcm final : public platform::Pcm {
public:
    explicit FakePcm(std::shared_ptr<FakePcmDevice> device) : device_(std::move(device)) {}
    ~FakePcm() override { close(); }

    int setHwParams(const platform::PcmHwParams& params) override
    {
        FakePcmDevice& d = *device_;
        std::lock_guard lock(d.mutex_);
        if (state_ == State::kClosed)
            return -EBADFD;
        if (d.unplugged_)
            return -ENODEV;
        if (!d.hw_params_failures_.empty()) {
            const int error = d.hw_params_failures_.front();
            d.hw_params_failures_.pop_front();
            return error;
        }
        if (params.channels == 0 || params.rate == 0 || params.period_min > params.period_max)
            return -EINVAL;
        params_ = params;
        d.hw_params_ = params;
        changeState(State::kPrepared);
        return 0;
    }

    long readi(std::int16_t* buffer, unsigned long frames) override
    {
        FakePcmDevice& d = *device_;
        std::unique_lock lock(d.mutex_);
        ++d.counters_.reads;
        for (;;) {
            if (const int error = transferError(PcmStream::kCapture))
                return error;
            if (frames == 0)
                return 0;
            if (!d.steps_.empty()) {
                const long result = takeStep(buffer, frames);
                if (result != kStepSpent)
                    return result;
                continue;
            }
            if (d.idle_ == FakePcmDevice::Idle::kSilence) {
                std::fill_n(buffer, frames * params_.channels, std::int16_t{0});
                changeState(State::kRunning);
                return static_cast<long>(frames);
            }
            const std::uint64_t stops = d.stops_;
            d.changed_.wait(lock, [&] {
                return !d.steps_.empty() || d.unplugged_ || d.stops_ != stops ||
                       d.idle_ == FakePcmDevice::Idle::kSilence;
            });
        }
    }

    long writei(const std::int16_t* buffer, unsigned long frames) override
    {
        FakePcmDevice& d = *device_;
        std::unique_lock lock(d.mutex_);
        ++d.counters_.writes;
        if (const int error = transferError(PcmStream::kPlayback))
            return error;
        if (d.hold_at_ && d.written_.size() >= *d.hold_at_) {
            const std::uint64_t stops = d.stops_;
            d.write_held_ = true;
            d.changed_.notify_all();
            d.changed_.wait(lock, [&] { return d.unplugged_ || d.stops_ != stops; });
            d.write_held_ = false;
            d.hold_at_.reset();
            if (const int error = transferError(PcmStream::kPlayback))
                return error;
        }
        long result = static_cast<long>(frames);
        if (!d.write_script_.empty()) {
            result = d.write_script_.front();
            d.write_script_.pop_front();
            if (result < 0)
                return failTransfer(static_cast<int>(result));
        }
        const unsigned long taken = std::min(frames, static_cast<unsigned long>(result));
        d.written_.insert(d.written_.end(), buffer, buffer + taken * params_.channels);
        changeState(State::kRunning);
        return result;
    }

    int prepare() override
    {
        std::lock_guard lock(device_->mutex_);
        ++device_->counters_.prepares;
        if (const int error = usable())
            return error;
        changeState(State::kPrepared);
        return 0;
    }

    int start() override
    {
        std::lock_guard lock(device_->mutex_);
        ++device_->counters_.starts;
        if (const int error = usable())
            return error;
        if (state_ != State::kPrepared)
            return -EBADFD;
        changeState(State::kRunning);
        return 0;
    }

    int wait(int timeout_ms) override
    {
        FakePcmDevice& d = *device_;
        std::unique_lock lock(d.mutex_);
        ++d.counters_.waits;
        d.counters_.last_wait_timeout_ms = timeout_ms;
        if (const int error = usable())
            return error;
        if (state_ == State::kXrun)
            return -EPIPE;
        if (d.stream_ == PcmStream::kPlayback)
            return 1;
        const auto ready = [&] {
            return !d.steps_.empty() || d.idle_ == FakePcmDevice::Idle::kSilence;
        };
        const std::uint64_t stops = d.stops_;
        const auto woken = [&] { return ready() || d.unplugged_ || d.stops_ != stops; };
        if (timeout_ms < 0)
            d.changed_.wait(lock, woken);
        else
            d.changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), woken);
        if (d.unplugged_)
            return -ENODEV;
        return ready() ? 1 : 0;
    }

    int drop() override { return stop(&FakePcmCounters::drops); }
    int drain() override { return stop(&FakePcmCounters::drains); }

    int close() override
    {
        FakePcmDevice& d = *device_;
        std::lock_guard lock(d.mutex_);
        if (state_ == State::kClosed)
            return -EBADFD;
        ++d.counters_.closes;
        d.open_ = false;
        ++d.stops_;
        changeState(State::kClosed);
        return 0;
    }

private:
    enum class State { kOpen, kPrepared, kRunning, kSetup, kXrun, kClosed };
    static constexpr long kStepSpent = 1L << 40;  // a step with no whole frame left

    // The rest are called with the device's mutex held.

    void changeState(State state)
    {
        state_ = state;
        device_->changed_.notify_all();
    }

    int usable() const
    {
        if (state_ == State::kClosed)
            return -EBADFD;
        if (device_->unplugged_)
            return -ENODEV;
        if (state_ == State::kOpen)
            return -EIO;
        return 0;
    }

    int transferError(PcmStream direction) const
    {
        if (const int error = usable())
            return error;
        if (device_->stream_ != direction)
            return -EINVAL;
        if (state_ == State::kSetup)
            return -EBADFD;
        if (state_ == State::kXrun)
            return -EPIPE;
        return 0;
    }

    int failTransfer(int error)
    {
        if (error == -EPIPE)
            changeState(State::kXrun);
        if (error == -ENODEV)
            device_->unplugged_ = true;
        device_->changed_.notify_all();
        return error;
    }

    long takeStep(std::int16_t* buffer, unsigned long frames)
    {
        FakePcmDevice& d = *device_;
        FakePcmDevice::Step& step = d.steps_.front();
        if (step.error != 0) {
            const int error = step.error;
            d.steps_.pop_front();
            return failTransfer(error);
        }
        const unsigned int channels = params_.channels;
        const std::size_t left = (step.samples.size() - step.taken) / channels;
        const std::size_t count = std::min<std::size_t>(frames, left);
        std::copy_n(step.samples.begin() + static_cast<long>(step.taken), count * channels,
                    buffer);
        step.taken += count * channels;
        if (step.samples.size() - step.taken < channels)
            d.steps_.pop_front();
        changeState(State::kRunning);
        return count == 0 ? kStepSpent : static_cast<long>(count);
    }

    int stop(int FakePcmCounters::*counter)
    {
        std::lock_guard lock(device_->mutex_);
        ++(device_->counters_.*counter);
        if (const int error = usable())
            return error;
        ++device_->stops_;
        changeState(State::kSetup);
        return 0;
    }

    const std::shared_ptr<FakePcmDevice> device_;
    State state_ = State::kOpen;  // guarded by the device's mutex
    platform::PcmHwParams params_;
};

void FakePcmDevice::feed(std::vector<std::int16_t> samples)
{
    std::lock_guard lock(mutex_);
    steps_.push_back(Step{0, std::move(samples), 0});
    changed_.notify_all();
}

void FakePcmDevice::feedError(int error)
{
    std::lock_guard lock(mutex_);
    steps_.push_back(Step{error, {}, 0});
    changed_.notify_all();
}

void FakePcmDevice::setIdle(Idle idle)
{
    std::lock_guard lock(mutex_);
    idle_ = idle;
    changed_.notify_all();
}

bool FakePcmDevice::waitUntilConsumed(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return steps_.empty(); });
}

bool FakePcmDevice::feedFrames(const std::vector<std::vector<std::int16_t>>& frames,
                               std::chrono::milliseconds timeout)
{
    const int before = counters().reads;
    for (const std::vector<std::int16_t>& frame : frames)
        feed(frame);
    return eventually(
        [&] { return counters().reads >= before + static_cast<int>(frames.size()); }, timeout);
}

void FakePcmDevice::scriptWrite(long result)
{
    std::lock_guard lock(mutex_);
    write_script_.push_back(result);
}

void FakePcmDevice::holdWritesAt(std::size_t samples)
{
    std::lock_guard lock(mutex_);
    hold_at_ = samples;
}

bool FakePcmDevice::waitForHeldWrite(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return write_held_; });
}

std::vector<std::int16_t> FakePcmDevice::written() const
{
    std::lock_guard lock(mutex_);
    return written_;
}

bool FakePcmDevice::waitForWritten(std::size_t samples, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return written_.size() >= samples; });
}

void FakePcmDevice::failOpens(int error, int times)
{
    std::lock_guard lock(mutex_);
    open_error_ = error;
    open_failures_left_ = times;
}

void FakePcmDevice::failHwParams(int error)
{
    std::lock_guard lock(mutex_);
    hw_params_failures_.push_back(error);
}

void FakePcmDevice::unplug()
{
    std::lock_guard lock(mutex_);
    unplugged_ = true;
    changed_.notify_all();
}

FakePcmCounters FakePcmDevice::counters() const
{
    std::lock_guard lock(mutex_);
    return counters_;
}

std::optional<platform::PcmHwParams> FakePcmDevice::hwParams() const
{
    std::lock_guard lock(mutex_);
    return hw_params_;
}

bool FakePcmDevice::isOpen() const
{
    std::lock_guard lock(mutex_);
    return open_;
}

FakePcmFactory::FakePcmFactory()
{
    platform::setPcmFactory(this);
}

FakePcmFactory::~FakePcmFactory()
{
    platform::setPcmFactory(nullptr);
}

FakePcmDevice& FakePcmFactory::addDevice(const std::string& name, PcmStream stream)
{
    std::lock_guard lock(mutex_);
    auto& device = devices_[{name, stream}];
    if (!device)
        device = std::make_shared<FakePcmDevice>(stream);
    return *device;
}

int FakePcmFactory::open(const std::string& name, PcmStream stream,
                         std::unique_ptr<platform::Pcm>* pcm)
{
    std::lock_guard lock(mutex_);
    int result = -ENOENT;
    const auto found = devices_.find({name, stream});
    if (found != devices_.end()) {
        FakePcmDevice& d = *found->second;
        std::lock_guard device_lock(d.mutex_);
        if (d.open_failures_left_ > 0) {
            --d.open_failures_left_;
            result = d.open_error_;
        } else if (d.unplugged_) {
            result = -ENODEV;
        } else if (d.open_) {
            result = -EBUSY;
        } else {
            d.open_ = true;
            ++d.counters_.opens;
            *pcm = std::make_unique<FakePcm>(found->second);
            result = 0;
        }
    }
    opens_.push_back({name, stream, result});
    return result;
}

std::vector<FakePcmOpen> FakePcmFactory::opens() const
{
    std::lock_guard lock(mutex_);
    return opens_;
}

void FakePcmFactory::clearOpens()
{
    std::lock_guard lock(mutex_);
    opens_.clear();
}

}  // namespace olva_test
