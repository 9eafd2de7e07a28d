// What each model of box has: code asks this table instead of comparing
// model ids. One row per model; an unknown id gets the row of model 0,
// which has nothing.
#pragma once

#include "model/olva_product.h"

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

struct ModelTraits {
    OLVA_PRODUCT model;
    int lines;            // lines the box opens (the Tz2501B's line 2 is its extension)
    int timed_lines;      // lines with a 100 ms line step, from line 1
    int detected_lines;   // lines whose signals are detected in software, from line 1
    LineAudio audio;
    LineClock clock;
    bool tz2401_family;   // 8-byte command reports with report id 3
    bool extension_phone;
    bool gsm;
    bool line_thresholds; // hang and hook-off thresholds set by command
};

inline constexpr ModelTraits kModelTraits[] = {
    // model                lines timed det audio                  clock                     2401   ext    gsm    thresholds
    {OLVA_PRODUCT_NONE,     0,    0,    0,  LineAudio::kNone,      LineClock::kNone,          false, false, false, false},
    {OLVA_PRODUCT_TZ2502A,  2,    2,    0,  LineAudio::kMono8k,    LineClock::kManagerTimer,  false, false, false, false},
    {OLVA_PRODUCT_TZ2402B,  2,    2,    2,  LineAudio::kStereo48k, LineClock::kManagerTimer,  false, false, false, false},
    {OLVA_PRODUCT_TZ2401B,  1,    1,    1,  LineAudio::kMono8k,    LineClock::kStatusReports, true,  false, false, true},
    {OLVA_PRODUCT_TZ2501A,  2,    1,    0,  LineAudio::kMono8k,    LineClock::kManagerTimer,  false, false, false, false},
    {OLVA_PRODUCT_TZ2701A,  1,    0,    0,  LineAudio::kMono8k,    LineClock::kOwnTimer,      true,  true,  true,  false},
    // The Tz2501B's line 2 is its extension phone: no line step, no detection.
    {OLVA_PRODUCT_TZ2501B,  2,    1,    1,  LineAudio::kStereo48k, LineClock::kManagerTimer,  false, true,  false, false},
};

constexpr const ModelTraits& model_traits(int model)
{
    for (const ModelTraits& row : kModelTraits)
        if (row.model == model)
            return row;
    return kModelTraits[0];
}
