// The box's sound card: finding it, opening its capture and playback PCMs
// and closing them again.
#include <cstdlib>

#include "base/logger.h"
#include "base/platform/command_runner.h"
#include "base/platform/sleeper.h"
#include "olva_device/audio_format.h"
#include "olva_device/olva_device.h"
#include "olva_device/sound_card.h"

namespace {

constexpr unsigned long kCaptureAlarm = 2;   // OLVA_EVENT_ALARM: capture did not open
constexpr unsigned long kPlaybackAlarm = 3;  // OLVA_EVENT_ALARM: playback did not open

// Bus and address from a HID path "%04x:%04x:%02x".
bool usbLocation(const std::string& path, int& bus, int& address)
{
    char* end = nullptr;
    const unsigned long b = std::strtoul(path.c_str(), &end, 16);
    if (*end != ':')
        return false;
    const unsigned long a = std::strtoul(end + 1, &end, 16);
    if (*end != ':')
        return false;
    bus = static_cast<int>(b);
    address = static_cast<int>(a);
    return true;
}

}  // namespace

std::string OlvaDevice::capture_device_name() const
{
    std::lock_guard<std::mutex> lock(names_mutex_);
    return capture_name_;
}

std::string OlvaDevice::playback_device_name() const
{
    std::lock_guard<std::mutex> lock(names_mutex_);
    return playback_name_;
}

bool OlvaDevice::playback_open() const
{
    std::lock_guard<std::mutex> lock(play_mutex_);
    return static_cast<bool>(playback_);
}

bool OlvaDevice::search_audio_device()
{
    int bus = -1;
    int address = -1;
    if (!usbLocation(path(), bus, address)) {
        BOX_LOG(1, "%s  no usb location in path (%s)", path().c_str());
        return false;
    }
    const std::string tag = box_tag();
    const std::optional<audio::SoundCard> card =
        audio::findSoundCard(model(), bus, address, sound_cards_in_use(), tag.c_str());
    if (!card)
        return false;
    {
        std::lock_guard<std::mutex> lock(names_mutex_);
        capture_name_ = card->capture_name;
        playback_name_ = card->playback_name;
    }
    sound_card_.store(card->card);
    if (card->reduce_noise_off) {
        BOX_LOG(4, "%s  close uos reducenoise   ");
        platform::commandRunner().run(audio::kReduceNoiseCommand);
    }
    return true;
}

std::unique_ptr<platform::Pcm> OlvaDevice::open_pcm(const std::string& name,
                                                    platform::PcmStream stream, int* error)
{
    const bool capture = stream == platform::PcmStream::kCapture;
    for (int attempt = 1; attempt <= kPcmOpenTries; ++attempt) {
        if (capture)
            BOX_LOG(4, "%s   open snd dev:%s, number:%d", name.c_str(), attempt);
        std::unique_ptr<platform::Pcm> pcm;
        *error = platform::pcmFactory().open(name, stream, &pcm);
        if (*error == 0 && pcm)
            return pcm;
        if (capture)
            BOX_LOG(1, "%s  open default mic dev failed,count:%d,rc(%d)->%s ", attempt, *error,
                    platform::pcmErrorText(*error));
        else
            BOX_LOG(1, "%s  open play dev(%s) failed(%d)-> %s ", name.c_str(), *error,
                    platform::pcmErrorText(*error));
        // A box that is closing does not wait out its tries.
        if (giving_up())
            break;
        platform::sleeper().sleepMs(kRetryPauseMs);
    }
    return nullptr;
}

int OlvaDevice::olva_open_mic_audio()
{
    int error = 0;
    std::unique_ptr<platform::Pcm> pcm =
        open_pcm(capture_device_name(), platform::PcmStream::kCapture, &error);
    if (!pcm)
        return -1;
    BOX_LOG(4, "%s   open mic dev ok, set params... ");
    error = pcm->setHwParams(audio::captureParams(model()));
    if (error < 0) {
        BOX_LOG(1, "%s  unable to set hw parameters: %s ", platform::pcmErrorText(error));
        pcm->close();
        return -1;
    }
    BOX_LOG(4, "%s   open mic dev ok, set params  ok ");
    capture_ = std::move(pcm);
    return 0;
}

int OlvaDevice::olva_open_play_audio(const std::string& device, OLVA_PRODUCT model)
{
    int error = 0;
    std::unique_ptr<platform::Pcm> pcm = open_pcm(device, platform::PcmStream::kPlayback, &error);
    if (!pcm) {
        fire_event(1, OLVA_EVENT_ALARM, kPlaybackAlarm, static_cast<unsigned long>(error), 0, 0);
        return -1;
    }
    BOX_LOG(4, "%s  open play dev(%s) ok ", device.c_str());
    BOX_LOG(4, "%s  get  play dev  parmas ...");
    error = pcm->setHwParams(audio::playbackParams(model));
    if (error < 0) {
        BOX_LOG(1, "%s  unable to set hw parameters: %s ", platform::pcmErrorText(error));
        pcm->close();
        fire_event(1, OLVA_EVENT_ALARM, kPlaybackAlarm, static_cast<unsigned long>(error), 0, 0);
        return -1;
    }
    BOX_LOG(4, "%s  set  play dev  params ok");
    {
        std::lock_guard<std::mutex> lock(play_mutex_);
        playback_ = std::move(pcm);
    }
    // A play asked for while the box went away may have been queued after
    // the close emptied the queue: it belongs to no opening, and must not
    // sound on the next box in this slot.
    play_queue_.clear();
    start_play_thread();
    return 0;
}

void OlvaDevice::log_sound_device_users()
{
    const platform::CommandResult users = platform::commandRunner().run(audio::kSoundUsersCommand);
    for (const std::string& line : users.lines)
        BOX_LOG(1, "%s  find ps(%s) ", line.c_str());
}

long OlvaDevice::open_audio_device()
{
    // Set before any audio thread starts, so that a close that clears it
    // cannot be undone by a thread just starting.
    capture_run_.store(true);
    const bool capture_open = olva_open_mic_audio() == 0;
    if (!capture_open) {
        BOX_LOG(1, "%s  open mic dev failed,fire alarm cannot open mic ");
        fire_event(1, OLVA_EVENT_ALARM, kCaptureAlarm, 1, 0, 0);
        log_sound_device_users();
    }
    olva_open_play_audio(playback_device_name(), static_cast<OLVA_PRODUCT>(model()));
    // Last: once it runs, a capture error may end the box at any moment.
    if (capture_open)
        start_capture_thread();
    return 0;
}

long OlvaDevice::close_audio_device()
{
    capture_run_.store(false);
    stop_capture_thread();
    // Joined before its PCM closes; a re-open starts a new one.
    stop_play_thread();
    if (capture_) {
        capture_->drop();
        capture_->close();
        capture_.reset();
    }
    {
        std::lock_guard<std::mutex> lock(play_mutex_);
        if (playback_) {
            playback_->drop();
            playback_->close();
            playback_.reset();
        }
    }
    sound_card_.store(-1);
    play_queue_.clear();
    return 0;
}
