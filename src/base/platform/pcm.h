// The PCM seam: the box's capture and playback go through these interfaces,
// so that the program runs on ALSA and the tests on real ALSA configurations
// or on a scripted fake. No ALSA header is included here.
//
// Results are ALSA's: 0 or a count for success, a negative errno for failure
// (-EPIPE an overrun or underrun, -EAGAIN nothing ready, -ENODEV the card is
// gone, -EBADFD a call the stream's state does not allow, -EIO a stream whose
// hardware parameters were never set). Samples are signed 16-bit
// little-endian, interleaved; a frame holds one sample per channel.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

enum class PcmStream { kPlayback, kCapture };

// Read/write interleaved access and S16_LE are fixed; these are the rest.
struct PcmHwParams {
    unsigned int channels = 1;
    unsigned int rate = 8000;  // the nearest rate the device offers is taken
    unsigned long period_min = 160;  // period size limits, in frames
    unsigned long period_max = 32000;
};

// One open stream. Its calls belong to one thread, except drop(), which
// another thread may call to throw away what is pending while the owner reads
// or writes (never while it closes the stream).
class Pcm {
public:
    // Closes the stream when still open.
    virtual ~Pcm() = default;
    // Sets and applies the hardware parameters; the stream is then prepared.
    virtual int setHwParams(const PcmHwParams& params) = 0;
    // Blocks until frames frames were read into buffer (frames x channels
    // samples) and returns their count; fewer on a short read.
    virtual long readi(std::int16_t* buffer, unsigned long frames) = 0;
    // Blocks until frames frames of buffer were queued and returns their count.
    virtual long writei(const std::int16_t* buffer, unsigned long frames) = 0;
    virtual int prepare() = 0;
    virtual int start() = 0;
    // 1 when the stream is ready for I/O, 0 after timeout_ms without.
    virtual int wait(int timeout_ms) = 0;
    // Stops at once, throwing away pending frames.
    virtual int drop() = 0;
    // Stops after the pending frames have been played.
    virtual int drain() = 0;
    // Closes the stream; every later call gives -EBADFD.
    virtual int close() = 0;
};

class PcmFactory {
public:
    virtual ~PcmFactory() = default;
    // Opens the PCM of the given name ("hw:1,0", "plughw:1,0", "default")
    // in blocking mode: 0 with *pcm set, or a negative errno.
    virtual int open(const std::string& name, PcmStream stream, std::unique_ptr<Pcm>* pcm) = 0;
};

// The factory in use: ALSA unless a test installed its own. The caller keeps
// a replacement alive while it is installed; nullptr restores ALSA.
PcmFactory& pcmFactory();
void setPcmFactory(PcmFactory* replacement);

// The ALSA factory.
PcmFactory& alsaPcmFactory();

// ALSA's text for a result ("Broken pipe" for -EPIPE).
const char* pcmErrorText(int error);

}  // namespace platform
