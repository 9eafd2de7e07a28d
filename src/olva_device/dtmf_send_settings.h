// The settings with which a box generates DTMF, kept in "olva.ini"
// section "device":
//   tone_time=100 , silence_time=80  , dtmf_scale=220 , speaker_volume=10 ,
//   dtmf_cof=1.26
#pragma once

#include <string>

struct DtmfSendSettings {
    int tone_time = 100;     // ms of tone per digit
    int silence_time = 80;   // ms of silence after it
    float dtmf_cof = 1.26f;  // ratio of the two tones' amplitudes
    int dtmf_scale = 220;    // amplitude
    int speaker_volume = 10;
};

// Reads the settings from the INI file; a missing key takes its default,
// which is written back. Values from the file are taken as they stand, but a
// "dtmf_cof" that holds no finite number takes the default.
DtmfSendSettings read_dtmf_send_settings(const std::string& ini_path, const char* log_tag);

// The ranges a caller may set: tone 80..150, silence 50..200, scale
// 190..240, speaker 5..18; any finite coefficient.
bool dtmf_send_settings_in_range(const DtmfSendSettings& settings);

// Writes the five keys, the coefficient as text. False when one write failed.
bool write_dtmf_send_settings(const DtmfSendSettings& settings, const std::string& ini_path);

// The coefficient as it is stored: six significant digits without trailing
// zeros (1.26f gives "1.26").
std::string dtmf_cof_text(float dtmf_cof);
