// Finding a box's USB sound card among the ALSA cards listed under the /proc
// root of platform::paths().
#pragma once

#include <optional>
#include <set>
#include <string>

namespace audio {

struct SoundCard {
    int card = -1;
    int device = -1;
    std::string capture_name;   // "hw:<card>,<device>"
    std::string playback_name;  // "plughw:<card>,<device>"
    // The desktop audio daemon's noise reduction must be switched off for
    // this card: run kReduceNoiseCommand once.
    bool reduce_noise_off = false;
};

// Run through the shell, output and result ignored.
inline constexpr const char* kReduceNoiseCommand =
    "dbus-send  --print-reply --dest=com.deepin.daemon.Audio /com/deepin/daemon/Audio "
    "org.freedesktop.DBus.Properties.Set string:com.deepin.daemon.Audio string:ReduceNoise "
    "boolean:false";

// Shows in the log which processes hold the sound devices when capture cannot
// be opened.
inline constexpr const char* kSoundUsersCommand = "lsof /dev/snd/pcm*";

// The first USB Audio device in "asound/pcm" whose card carries the USB id of
// the model (3 and 8: "04d9:2832", 10: "0c76:362f"), sits at the box's USB
// bus and address (the card's "usbbus" entry, "003/012"; a card without one
// is taken on its id alone), and is not in cards_in_use (the other slot's).
// Cards that fail a test are passed over. Logged under module "olva " with
// log_tag, which also leads each record's text.
std::optional<SoundCard> findSoundCard(int model, int usb_bus, int usb_address,
                                       const std::set<int>& cards_in_use,
                                       const char* log_tag);

}  // namespace audio
