// What the library and the lines ask of the box's playback: files and
// digits queued for a line, with the line's audio switched to the card,
// and a stop of the line's item in progress.
#include <sys/stat.h>

#include <cstring>

#include "base/logger.h"
#include "olva_device/olva_device.h"

void OlvaDevice::CBoxLineDevice::play_dtmf(unsigned long line, char* digits)
{
    if (box_)
        box_->play_dtmf(line, digits);
}

int OlvaDevice::CBoxLineDevice::line_play_file(const char* path)
{
    return box_ ? box_->olva_play_file(line_id(), path) : -1;
}

bool OlvaDevice::play_queue_has_room()
{
    if (play_queue_.size() < PlayQueue::kMaxItems)
        return true;
    BOX_LOG(1, "%s  play queue full (%d items), item refused",
            static_cast<int>(PlayQueue::kMaxItems));
    return false;
}

int OlvaDevice::switch_line_to_playback(CBoxLineDevice& line, bool dtmf)
{
    const PlaybackRoute route = model_traits(model()).playback;
    int result = 0;
    if (route != PlaybackRoute::kRelaySpeaker &&
        (dtmf || route != PlaybackRoute::kChannelSwitchForDtmf))
        result = line.control_ch_switch(true);
    if (route == PlaybackRoute::kRelaySpeaker && !dtmf)
        line.set_speaker_volume(line.settings().speaker_volume.load());
    if (route == PlaybackRoute::kTz2501bLatches) {
        Tz2501B_function_setting(2, 1);
        if (dtmf)
            Tz2501B_function_setting(3, 1);
    }
    if (route == PlaybackRoute::kGsmBridge && !dtmf) {
        line.set_Tz2701_gpio(21, 1);
        line.set_Tz2701_gpio(20, 1);
    }
    return result;
}

int OlvaDevice::olva_play_file(unsigned long line, const char* path)
{
    CBoxLineDevice* found = line_by_id(line);
    if (!found) {
        BOX_LOG(1, "%sget line failed");
        return -1;
    }
    AudioPlayContent item;
    if (!make_play_content(static_cast<int>(line), AudioPlayContent::kFile, path, &item)) {
        BOX_LOG(1, "%s  playfile refused: no path, or one of more than %d characters",
                static_cast<int>(AudioPlayContent::kMaxText));
        return OLVA_ERR_INVALID_PARAM;
    }
    // Checked before the line's audio is switched, so that a refused file
    // leaves the line as it was.
    if (!play_active_.load()) {
        BOX_LOG(1, "%s  playfile(%s) refused: no play thread", path);
        return -1;
    }
    struct stat st {};
    if (stat(path, &st) != 0) {
        BOX_LOG(1, "%s  playfile(%s) is not exist", path);
        return -1;
    }
    if (!play_queue_has_room())
        return -1;
    switch_line_to_playback(*found, false);
    if (!play_queue_.push(item)) {
        play_queue_has_room();
        return -1;
    }
    return 0;
}

void OlvaDevice::play_dtmf(unsigned long line, char* digits)
{
    AudioPlayContent item;
    if (!make_play_content(static_cast<int>(line), AudioPlayContent::kDtmf, digits, &item)) {
        BOX_LOG(1, "%s  dtmf refused: no digits, or more than %d",
                static_cast<int>(AudioPlayContent::kMaxText));
        return;
    }
    if (!play_queue_.push(item))
        play_queue_has_room();
}

int OlvaDevice::olva_send_dtmf(unsigned long line, const char* digits)
{
    CBoxLineDevice* found = line_by_id(line);
    if (!found) {
        BOX_LOG(1, "%sget line failed");
        return -1;
    }
    BOX_LOG(4, "%s++ state=%d", found->confirmed_state());
    AudioPlayContent item;
    if (!make_play_content(static_cast<int>(line), AudioPlayContent::kDtmf, digits, &item)) {
        BOX_LOG(1, "%s  dtmf refused: no digits, or more than %d",
                static_cast<int>(AudioPlayContent::kMaxText));
        return OLVA_ERR_INVALID_PARAM;
    }
    if (model_traits(model()).gsm)
        return found->line_send_dtmf(digits, false);
    // Refused before the line is marked dialling: digits that never play
    // would leave it deaf to the keys it detects.
    if (!play_active_.load()) {
        BOX_LOG(1, "%s  dtmf(%s) refused: no play thread", digits);
        return -1;
    }
    if (!play_queue_has_room())
        return -1;
    const int switched = switch_line_to_playback(*found, true);
    if (switched != 0)
        return switched;
    found->line_send_dtmf(digits, true);
    if (!play_queue_.push(item)) {
        play_queue_has_room();
        return -1;
    }
    return 0;
}

int OlvaDevice::olva_stop_play(unsigned long line)
{
    CBoxLineDevice* found = line_by_id(line);
    if (!found) {
        BOX_LOG(1, "%sget line failed");
        return -1;
    }
    {
        std::lock_guard<std::mutex> lock(play_mutex_);
        // Only this line's item: on a two-line box the other line may be
        // the one playing.
        if (playback_ && playing_line_.load() == line) {
            play_stop_.store(true);
            playback_->drop();
        }
    }
    found->line_stop_play();
    return 0;
}
