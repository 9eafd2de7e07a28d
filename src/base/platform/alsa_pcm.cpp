// The PCM seam on alsa-lib.
#include <alsa/asoundlib.h>

#include <cerrno>

#include "base/platform/pcm.h"

namespace platform {
namespace {

class AlsaPcm final : public Pcm {
public:
    explicit AlsaPcm(snd_pcm_t* handle) : handle_(handle) {}
    ~AlsaPcm() override { close(); }
    AlsaPcm(const AlsaPcm&) = delete;
    AlsaPcm& operator=(const AlsaPcm&) = delete;

    int setHwParams(const PcmHwParams& params) override
    {
        if (!handle_)
            return -EBADFD;
        snd_pcm_hw_params_t* hw = nullptr;
        int rc = snd_pcm_hw_params_malloc(&hw);
        if (rc < 0)
            return rc;
        unsigned int rate = params.rate;
        snd_pcm_uframes_t period_min = params.period_min;
        snd_pcm_uframes_t period_max = params.period_max;
        int dir = 0;
        if ((rc = snd_pcm_hw_params_any(handle_, hw)) >= 0 &&
            (rc = snd_pcm_hw_params_set_access(handle_, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) >= 0 &&
            (rc = snd_pcm_hw_params_set_format(handle_, hw, SND_PCM_FORMAT_S16_LE)) >= 0 &&
            (rc = snd_pcm_hw_params_set_channels(handle_, hw, params.channels)) >= 0 &&
            (rc = snd_pcm_hw_params_set_rate_near(handle_, hw, &rate, &dir)) >= 0 &&
            (rc = snd_pcm_hw_params_set_period_size_min(handle_, hw, &period_min, &dir)) >= 0 &&
            (rc = snd_pcm_hw_params_set_period_size_max(handle_, hw, &period_max, &dir)) >= 0)
            rc = snd_pcm_hw_params(handle_, hw);
        snd_pcm_hw_params_free(hw);
        return rc < 0 ? rc : 0;
    }

    long readi(std::int16_t* buffer, unsigned long frames) override
    {
        return handle_ ? snd_pcm_readi(handle_, buffer, frames) : -EBADFD;
    }

    long writei(const std::int16_t* buffer, unsigned long frames) override
    {
        return handle_ ? snd_pcm_writei(handle_, buffer, frames) : -EBADFD;
    }

    int prepare() override { return handle_ ? snd_pcm_prepare(handle_) : -EBADFD; }
    int start() override { return handle_ ? snd_pcm_start(handle_) : -EBADFD; }
    int wait(int timeout_ms) override
    {
        return handle_ ? snd_pcm_wait(handle_, timeout_ms) : -EBADFD;
    }
    int drop() override { return handle_ ? snd_pcm_drop(handle_) : -EBADFD; }
    int drain() override { return handle_ ? snd_pcm_drain(handle_) : -EBADFD; }

    int close() override
    {
        if (!handle_)
            return -EBADFD;
        const int rc = snd_pcm_close(handle_);
        handle_ = nullptr;
        return rc;
    }

private:
    snd_pcm_t* handle_;  // null once closed
};

class AlsaPcmFactory final : public PcmFactory {
public:
    int open(const std::string& name, PcmStream stream, std::unique_ptr<Pcm>* pcm) override
    {
        snd_pcm_t* handle = nullptr;
        const int rc = snd_pcm_open(&handle, name.c_str(),
                                    stream == PcmStream::kCapture ? SND_PCM_STREAM_CAPTURE
                                                                  : SND_PCM_STREAM_PLAYBACK,
                                    0);
        if (rc < 0)
            return rc;
        *pcm = std::make_unique<AlsaPcm>(handle);
        return 0;
    }
};

}  // namespace

PcmFactory& alsaPcmFactory()
{
    static AlsaPcmFactory factory;
    return factory;
}

const char* pcmErrorText(int error)
{
    return snd_strerror(error);
}

}  // namespace platform
