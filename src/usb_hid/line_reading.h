// What a box's status report says of its line, before the line's debounce
// takes it as a state.
#pragma once

enum class LineReading {
    kFloating,         // no line voltage: the line is lost
    kIdle,
    kRinging,
    kOffHook,
    kReverseOffHook,   // off-hook, the line's polarity reversed
    kPositiveOffHook,  // off-hook, the line's polarity as usual
};
