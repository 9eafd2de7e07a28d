// The Tz2701A's status report, read for what the box does with it:
//
//   [3, 0x91, module type, 1, 0, 0, 1, 0]
//
// a box in USB mode whose SIM slot 1 works, extension phone lifted, no key.
// Byte 3 is 0 when the box works on its own; bytes 4 and 5 name the
// working SIM slot on a box with a module (0, 0 the first, 1, 0 the
// second) and are each slot's presence without one (1 a SIM, 0 none);
// byte 6 is the extension phone's hook (1 lifted, 0 put down), byte 7 the
// earphone key (1 held). No I/O here: the box applies the result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

struct Tz2701Status {
    bool standalone = false;
    std::optional<int> working_sim;  // with a module: 0 or 1
    // Without a module: slot 1 and slot 2 holding a SIM.
    std::optional<bool> sim_present[2];
    std::optional<bool> extension_off_hook;
    bool earphone_key = false;
};

// Nothing for a report that is no status report. has_module: the box
// identified a module type (its version byte 2 is not 0).
std::optional<Tz2701Status> decode_tz2701_status(const std::uint8_t* report, std::size_t length,
                                                 bool has_module);
