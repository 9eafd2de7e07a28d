// The GSM conversation of one Tz2701A box as plain data: what the command
// pump and the reply parser know (the command in flight, its timers, the SMS
// part under way, the call), and the actions they decide on. Nothing here
// touches the box: the box's glue applies the actions in order, outside its
// locks.
#pragma once

#include <string>
#include <vector>

namespace gsm {

// The module answers an AT command within this, a dial within the longer.
inline constexpr int kReplyLimitMs = 7000;
inline constexpr int kDialReplyLimitMs = 140000;
// An SMS part whose PDU went out is given up after this.
inline constexpr int kSmsPartLimitMs = 20000;
// Consecutive time-outs after which the module counts as silent.
inline constexpr int kSilentModuleTimeouts = 25;

// The events the GSM side raises on line 1.
inline constexpr int kEventRing = 11;
inline constexpr int kEventRingCancel = 15;
inline constexpr int kEventCallerId = 21;
inline constexpr int kEventDtmf = 22;
inline constexpr int kEventDeviceError = 24;
inline constexpr int kEventBusyTone = 27;
inline constexpr int kEventCallOutFinish = 28;
inline constexpr int kEventHookOn = 30;
inline constexpr int kEventSimState = 32;
inline constexpr int kEventAnswered = 33;
inline constexpr int kEventModuleText = 34;
inline constexpr int kEventSignal = 36;
inline constexpr int kEventVolume = 37;
inline constexpr int kEventSmsStorage = 38;
inline constexpr int kEventSimReg = 39;
inline constexpr int kEventSmsReport = 40;

// Command-ready values.
inline constexpr int kReady = 1;
inline constexpr int kAwaitingReply = 0;
inline constexpr int kLastFailed = -1;

// Registration states of "+CREG:" that mean registered (home, roaming).
inline constexpr int kRegisteredHome = 1;
inline constexpr int kRegisteredRoaming = 5;

// Line 1 GSM states (ENUM_OLVA_STATE values) the parser sets.
inline constexpr int kGsmStateRinging = 2;
inline constexpr int kGsmStateTalking = 3;
inline constexpr int kGsmStateHangUp = 9;

// The module's audio levels, fixed when a Tz2701A is set up.
struct Levels {
    int speaker_2g = 0;
    int mic_2g = 0;
    int tone_detection = 0;
    int speaker_4g = 0;
    int mic_gain_4g[2] = {0, 0};
    int speaker_ec200 = 0;
    int mic_gain_ec200[2] = {0, 0};
};

// One start-up of the module, waiting for it to boot.
struct StartUp {
    bool four_g = false;
    int pulses_left = 0;  // a 4G module's start pulses still to send
    int wait_ms = 0;      // to the next pulse, or to the end of the wait
};

struct GsmState {
    // --- the pump ---
    int ready = kReady;
    std::string command;  // the last AT command sent as the current command
    std::string pdu;      // the SMS part being sent, with its closing Ctrl-Z
    int reply_timer_ms = 0;
    int reply_limit_ms = kReplyLimitMs;
    int sms_timer_ms = 0;
    bool sms_part = false;    // "AT+CMGS=" sent, the part's result not yet in
    bool sms_active = false;  // a message is being sent
    bool part_ok = false;     // the part's "OK" has been reported
    bool pdu_due = false;     // the part's prompt came: its PDU goes out next
    bool pdu_sent = false;    // the part's PDU went out; a later prompt is stale
    int timeouts = 0;         // consecutive
    int sms_index = -1;       // message reference of the SMS under way
    int parts_done = 0;
    int part_count = 0;

    // --- start-up ---
    bool startup = false;  // the script has begun; cleared by "+CFUN:"
    bool boot = false;     // the module boots: AT entries are dropped
    // Start-ups waiting for the module to boot, each on its own clock: one
    // asked for during another's wait holds that one back in nothing, and
    // queues the script again when its own wait ends.
    std::vector<StartUp> startups;

    // --- the call ---
    // A call is under way (dialled, ringing or answered): its end is
    // reported once, by whichever side ends it first.
    bool call_up = false;
    bool dialling = false;
    bool call_answered = false;
    bool caller_id_taken = false;  // line 1 has this call's caller ID
    bool ec200 = false;
    std::string peer_number;
    std::string dialled_number;
    int clcc_total = 0;  // 1 while a "NO CARRIER" is checked with "AT+CLCC"
    int clcc_number = 0;
    int ccwa_count = 0;
    int reg_state = -1;  // -1 until the SIM is ready: nothing to poll before
    bool sim_switching = false;
    std::string service_centre;
};

// What the reply parser reads from outside the GSM state: line 1 and the
// box's settings.
struct LineContext {
    int active_sim = -1;          // 0 or 1, -1 while unset
    int call_phase = 0;           // line 1's call phase; 2 rings
    bool auto_link_slic = false;  // work mode: the extension phone links itself
    bool extension_off_hook = false;
    bool extension_ringing = false;  // line 1 rings the extension phone
};

struct Action {
    enum class Kind {
        kFireEvent,      // a = event, b = p1, c = p2, d = p3; text stands for p1,
                         // text2 for p3 when has_text / has_text2
        kQueueAt,        // text: an AT entry that awaits its reply
        kQueueDevice,    // a = code, b = argument (-1: a one-byte command)
        kSoftHookOn,     // hang up through line 1's soft hook-on: "ATH\r" at the
                         // pump's next step, the call's end reported once, line 1's
                         // GSM state 9, an EC200's earphone path off
        kSendText,       // text through the bridge's text chunks now
        kSendOneCycle,   // a = code, b = argument: one one-cycle write now
        kSendRaw,        // text: an 8-byte raw report now
        kSetGsmState,    // a = line 1's GSM state
        kSetActiveSim,   // a
        kSetCallerId,    // text: line 1's caller number as it came
        kStopExtensionRing,
        kDropSmsParts,   // a = message reference: its parts still queued go
        kStartGsm,       // run the module's start-up script again
        kReceivedPdu,    // text: a received SMS in PDU hex
        kReadUserNumber, // the box's stored user number read again
        kLog,            // a = level, text
        kPrint,          // text: a line on standard output
    };
    Kind kind;
    long a = 0;
    long b = 0;
    long c = 0;
    long d = 0;
    std::string text = {};
    std::string text2 = {};
    bool has_text = false;
    bool has_text2 = false;

    bool operator==(const Action&) const = default;
};

using Actions = std::vector<Action>;

// Builders that keep the tables readable.
Action fire(int event, long p1 = 0, long p2 = 0, long p3 = 0);
Action fire_text(int event, std::string text, long p2 = 0);
Action queue_at(std::string text);
Action queue_device(int code, int argument = -1);
Action log(int level, std::string text);
Action print(std::string text);

// The call has ended: true for the one caller that reports it. The next
// call's caller ID is taken again.
bool end_call(GsmState& state);

// One line per action, for logs and test failures.
std::string describe(const Action& action);

}  // namespace gsm
