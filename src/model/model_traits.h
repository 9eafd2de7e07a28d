// What each model of box has: code asks this table instead of comparing
// model ids. One row per model; an unknown id gets the row of model 0,
// which has nothing. A row names only what its model has; every other
// column keeps the value of model 0.
#pragma once

#include "model/olva_product.h"

// Two ids no box of ours reports, kept for the branches that serve them:
// a Tz2402 variant, and a model that keeps its user number in its USB
// chip's memory while its byte reads and writes are the EEPROM boxes'.
inline constexpr OLVA_PRODUCT kTz2402VariantModel = static_cast<OLVA_PRODUCT>(6);
inline constexpr OLVA_PRODUCT kChipNumberModel = static_cast<OLVA_PRODUCT>(11);

// What drives a box's 100 ms line step.
enum class LineClock {
    kNone,
    kManagerTimer,   // the device manager's timer thread
    kStatusReports,  // the box's own status reports (code 19, Tz2401B)
    kOwnTimer,       // the box's GSM line timer (Tz2701A)
};

enum class LineAudio {
    kNone,
    kMono8k,     // line 1 in 8 kHz mono
    kStereo48k,  // 48 kHz stereo, left line 1, right line 2
};

// What the box's report id 3 input carries.
enum class InputReports {
    kNone,
    kTz2401Status,  // status and key reports of the Tz2401 command family
    kTz2701Bridge,  // the bridge's GSM module bytes, box status and replies
};

// What the line's switches (audio channel, hook relay, extension ring and
// the pins restored after register work) are made of.
enum class Switches {
    kNone,
    kTz2401Command,   // 8-byte command reports
    kTz2402Gpio,      // GPIO reports, by firmware generation
    kTz2501aRelay,    // the two-stage relay on the pin report
    kTz2501bLatches,  // the function and function-2 latches
    kGsmBridge,       // box commands through the Tz2701A's bridge
};

// What a soft hook-off and hook-on do.
enum class SoftHook {
    kNone,
    kHookSwitch,        // the line's hook switch
    kExtensionLatches,  // the line hook latch, and the earphone linked to the call
    kGsmCall,           // answer and end the GSM call
};

// How a file or DTMF play reaches the line.
enum class PlaybackRoute {
    kChannelSwitch,         // the line's channel switch
    kChannelSwitchForDtmf,  // the channel switch for DTMF only, files play without it
    kRelaySpeaker,          // nothing switched; a file plays at the speaker volume
    kTz2501bLatches,        // the channel switch and the play-file latches
    kGsmBridge,             // the channel switch and the bridge's play GPIOs
};

// Where the library's byte reads and writes of the box's memory go.
enum class Eeprom {
    kTransactionBlocks,  // transaction blocks of the 17-byte report boxes
    kTz2401Commands,     // Tz2401 command reports, served from the copy read at open
    kI2cPins,            // I2C bit-banged over the Tz2501A's pin report
    kGsmBridge,          // EEPROM messages through the Tz2701A's bridge
    kUsbChip,            // the USB chip's memory behind its register reports
    kUsbChipFrom0x70,    // the USB chip's memory from firmware 0x70 on, else transaction blocks
};

// Where the user number is kept.
enum class UserNumber {
    kEepromCopies,  // a primary copy and two backups in the byte-addressed memory
    kUserArea,      // the user area the box's commands read
    kUsbChip,       // the USB chip's memory
};

struct ModelTraits {
    OLVA_PRODUCT model = OLVA_PRODUCT_NONE;
    const char* name = nullptr;  // as the library reports it; none: "unknown device"
    // The ids discovery knows the model by (a Tz2701A is found as a Tz2401B).
    unsigned short usb_vendor_id = 0;
    unsigned short usb_product_id = 0;
    int lines = 0;           // lines the box opens (the Tz2501B's line 2 is its extension)
    int timed_lines = 0;     // lines with a 100 ms line step, from line 1
    int detected_lines = 0;  // lines whose signals are detected in software, from line 1
    LineAudio audio = LineAudio::kNone;
    LineClock clock = LineClock::kNone;
    InputReports input = InputReports::kNone;
    bool tz2401_family = false;  // 8-byte command reports with report id 3
    bool extension_phone = false;
    // Line 2 is an analogue extension phone that rings along with line 1's
    // calls, stepped by line 1 and announced with it.
    bool extension_on_line2 = false;
    bool gsm = false;
    bool line_thresholds = false;    // hang and hook-off thresholds set by command
    bool line_voltage = false;       // line voltage read by command
    bool speaker_by_command = false; // speaker volume set by command
    bool doubles_speaker_volume = false;  // at plug-in
    // The relay box: plug-in only announces, hook-off unmutes the audio and
    // leaves dialling on.
    bool relay_audio = false;
    bool message_param = false;
    bool buzzer = false;
    bool short_version = false;  // the version number is the second version byte alone
    Switches switches = Switches::kNone;
    bool channel_switch = false;  // the line's audio channel has a switch
    bool led_blink = false;       // register-generation Tz2402 LEDs
    SoftHook soft_hook = SoftHook::kNone;
    PlaybackRoute playback = PlaybackRoute::kChannelSwitch;
    Eeprom eeprom = Eeprom::kTransactionBlocks;
    UserNumber user_number = UserNumber::kEepromCopies;
    unsigned user_number_primary = 111;  // address of the primary copy
    // The caller's EEPROM window: addresses 0..size-1 reach the box from base.
    unsigned eeprom_window_base = 0;
    unsigned eeprom_window_size = 9;
};

inline constexpr ModelTraits kModelTraits[] = {
    {.model = OLVA_PRODUCT_NONE},
    {.model = OLVA_PRODUCT_TZ2502A,
     .name = "Tz2502A",
     .lines = 2,
     .timed_lines = 2,
     .audio = LineAudio::kMono8k,
     .clock = LineClock::kManagerTimer,
     .switches = Switches::kTz2402Gpio,
     .soft_hook = SoftHook::kHookSwitch,
     .playback = PlaybackRoute::kChannelSwitchForDtmf,
     .eeprom_window_base = 102},
    {.model = OLVA_PRODUCT_TZ2402B,
     .name = "Tz2402B",
     .lines = 2,
     .timed_lines = 2,
     .detected_lines = 2,
     .audio = LineAudio::kStereo48k,
     .clock = LineClock::kManagerTimer,
     .doubles_speaker_volume = true,
     .switches = Switches::kTz2402Gpio,
     .channel_switch = true,
     .led_blink = true,
     .eeprom = Eeprom::kUsbChipFrom0x70,
     .eeprom_window_base = 102},
    {.model = OLVA_PRODUCT_TZ2401B,
     .name = "Tz2401B",
     .usb_vendor_id = 0x04D9,
     .usb_product_id = 0x2832,
     .lines = 1,
     .timed_lines = 1,
     .detected_lines = 1,
     .audio = LineAudio::kMono8k,
     .clock = LineClock::kStatusReports,
     .input = InputReports::kTz2401Status,
     .tz2401_family = true,
     .line_thresholds = true,
     .line_voltage = true,
     .speaker_by_command = true,
     .switches = Switches::kTz2401Command,
     .channel_switch = true,
     .eeprom = Eeprom::kTz2401Commands,
     .user_number = UserNumber::kUserArea,
     .user_number_primary = 96},
    {.model = OLVA_PRODUCT_TZ2501A,
     .name = "TZ2501A",
     .lines = 2,
     .timed_lines = 1,
     .audio = LineAudio::kMono8k,
     .clock = LineClock::kManagerTimer,
     .relay_audio = true,
     .message_param = true,
     .buzzer = true,
     .switches = Switches::kTz2501aRelay,
     .channel_switch = true,
     .soft_hook = SoftHook::kHookSwitch,
     .playback = PlaybackRoute::kRelaySpeaker,
     .eeprom = Eeprom::kI2cPins,
     .user_number_primary = 96},
    {.model = kTz2402VariantModel, .doubles_speaker_volume = true},
    {.model = OLVA_PRODUCT_TZ2701A,
     .name = "TZ2701A",
     .lines = 1,
     .audio = LineAudio::kMono8k,
     .clock = LineClock::kOwnTimer,
     .input = InputReports::kTz2701Bridge,
     .tz2401_family = true,
     .extension_phone = true,
     .gsm = true,
     .buzzer = true,
     .short_version = true,
     .switches = Switches::kGsmBridge,
     .soft_hook = SoftHook::kGsmCall,
     .playback = PlaybackRoute::kGsmBridge,
     .eeprom = Eeprom::kGsmBridge,
     .user_number = UserNumber::kUserArea,
     .eeprom_window_base = 1024,
     .eeprom_window_size = 255},
    // The Tz2501B's line 2 is its extension phone: no line step, no detection.
    {.model = OLVA_PRODUCT_TZ2501B,
     .usb_vendor_id = 0x0C76,
     .usb_product_id = 0x362F,
     .lines = 2,
     .timed_lines = 1,
     .detected_lines = 1,
     .audio = LineAudio::kStereo48k,
     .clock = LineClock::kManagerTimer,
     .extension_phone = true,
     .extension_on_line2 = true,
     .doubles_speaker_volume = true,
     .buzzer = true,
     .switches = Switches::kTz2501bLatches,
     .soft_hook = SoftHook::kExtensionLatches,
     .playback = PlaybackRoute::kTz2501bLatches,
     .eeprom = Eeprom::kUsbChip,
     .user_number = UserNumber::kUsbChip,
     .eeprom_window_base = 102},
    {.model = kChipNumberModel, .user_number = UserNumber::kUsbChip},
};

constexpr const ModelTraits& model_traits(int model)
{
    for (const ModelTraits& row : kModelTraits)
        if (row.model == model)
            return row;
    return kModelTraits[0];
}
