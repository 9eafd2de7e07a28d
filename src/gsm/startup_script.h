// The GSM module's start-up: the boot wait (a 4G module is pulsed awake
// fifteen times a second apart), then the script of AT commands that sets
// caller-line presentation, tone detection, audio routing and levels and
// asks for the SIM; and the audio levels chosen by the module's revision.
// Stepped by elapsed time, it never sleeps.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "gsm/gsm_state.h"

namespace gsm {

// The box's module type byte of a 4G module; any other value is 2G.
inline constexpr int kModuleType4G = 0x20;
inline constexpr int kBootPulses = 15;
inline constexpr int kBootPulseMs = 1000;
inline constexpr int kBootWait2GMs = 1000;
// Start-ups that may wait for the module at once; one more is refused
// (logged), so that a module that keeps restarting cannot stack them up.
inline constexpr std::size_t kMaxWaitingStartUps = 4;

// The script's commands in order, for the module type.
std::vector<std::string> startup_commands(bool four_g, const Levels& levels);

// Begins a start-up (no I/O: the first boot pulse goes with the next step).
// One begun while another waits for the module runs beside it: the first
// keeps its time, and each queues the whole script when its own wait ends.
Actions begin_startup(GsmState& state, int module_type);
// Advances the waiting start-ups by elapsed ms: the next pulses, and at the
// end of a boot wait the whole script queued and the stored user number read.
Actions step_startup(GsmState& state, int elapsed_ms, const Levels& levels);

// The levels for the module's revision answer (a 4G module's).
Actions revision_actions(GsmState& state, const std::string& revision, const Levels& levels);

}  // namespace gsm
