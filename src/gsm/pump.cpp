#include "gsm/pump.h"

#include <cstdio>
#include <string>

namespace gsm {

namespace {

constexpr int kSmsSent = 1;
constexpr int kSmsFailed = 0;
constexpr int kSmsTimedOut = 2;
constexpr const char* kCtrlZ = "\x1A";

std::string text_of(const hid_cmd_op& entry)
{
    const int length = entry.length < 0 ? 0
                       : entry.length > kHidCmdOpDataSize ? kHidCmdOpDataSize
                                                          : entry.length;
    return std::string(reinterpret_cast<const char*>(entry.data), static_cast<std::size_t>(length));
}

bool contains(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

void reset_sms(GsmState& state)
{
    state.pdu_due = false;
    state.parts_done = 0;
    state.part_count = 0;
    state.sms_index = -1;
    state.sms_active = false;
}

// The service-centre length octet in front of the PDU, plus itself; -1 when
// the text does not start with two hex digits.
int pdu_header_octets(const std::string& pdu)
{
    if (pdu.size() < 2)
        return -1;
    int octets = 0;
    for (int i = 0; i < 2; ++i) {
        const char ch = pdu[static_cast<std::size_t>(i)];
        int digit;
        if (ch >= '0' && ch <= '9')
            digit = ch - '0';
        else if (ch >= 'A' && ch <= 'F')
            digit = ch - 'A' + 10;
        else if (ch >= 'a' && ch <= 'f')
            digit = ch - 'a' + 10;
        else
            return -1;
        octets = octets * 16 + digit;
    }
    return octets + 1;
}

void handle_timeout(GsmState& state, Actions& actions)
{
    ++state.timeouts;
    state.ready = kLastFailed;
    actions.push_back(log(1, " " + state.command + " is timeout, count=" + std::to_string(state.timeouts)));
    state.reply_timer_ms = 0;
    if (state.timeouts > kSilentModuleTimeouts) {
        state.timeouts = 0;
        actions.push_back(fire(kEventDeviceError, 1));
        actions.push_back(log(1, "  device error"));
    }
    if (contains(state.command, "ATD")) {
        actions.push_back(log(1, " " + state.command + " timeout, dll inside call hangup !!!!"));
        // The soft hook-on ends the call and reports it.
        state.peer_number.clear();
        actions.push_back({.kind = Action::Kind::kSoftHookOn});
    } else if (contains(state.command, "AT+CMGS=")) {
        // Without its prompt the module still waits for a PDU: Ctrl-Z ends
        // that wait.
        state.sms_timer_ms = 0;
        actions.push_back(log(1, " send AT+CMGS failed, sending short sms is timeout "));
        sms_send_state(state, kSmsTimedOut, actions);
        state.sms_active = false;
        actions.push_back({.kind = Action::Kind::kSendText, .text = kCtrlZ});
    }
}

// The part under way has had its window, counted from its start, without
// a result.
void part_timeout(GsmState& state, Actions& actions)
{
    actions.push_back(log(1, " send short sms is timeout "));
    state.sms_timer_ms = 0;
    sms_send_state(state, kSmsTimedOut, actions);
    state.sms_active = false;
}

void send_entry(GsmState& state, const hid_cmd_op& entry, Actions& actions)
{
    switch (entry.type) {
    case hid_cmd_op::Kind::kRawReport:
        actions.push_back({.kind = Action::Kind::kSendRaw, .text = text_of(entry)});
        break;
    case hid_cmd_op::Kind::kDeviceCommand:
        if (entry.length == 1 || entry.length == 2)
            actions.push_back({.kind = Action::Kind::kSendOneCycle,
                               .a = entry.data[0],
                               .b = entry.length == 2 ? entry.data[1] : 0});
        else if (entry.length > 2)
            actions.push_back({.kind = Action::Kind::kSendText, .text = text_of(entry)});
        break;
    case hid_cmd_op::Kind::kAtCommand:
        if (state.boot) {
            actions.push_back(log(4, " boot: dropped " + text_of(entry)));
            break;
        }
        state.ready = kAwaitingReply;
        state.reply_timer_ms = 0;
        state.reply_limit_ms = kReplyLimitMs;
        state.command = text_of(entry);
        actions.push_back({.kind = Action::Kind::kSendText, .text = state.command});
        if (contains(state.command, "ATD")) {
            state.reply_limit_ms = kDialReplyLimitMs;
            actions.push_back(log(4, " m_max_waitime(" + std::to_string(kDialReplyLimitMs) + ") "));
        }
        break;
    case hid_cmd_op::Kind::kSmsPdu:
        // A part belongs on the SMS queue, which starts it with its "AT+CMGS=".
        actions.push_back(log(1, " entry of unknown type " +
                                     std::to_string(static_cast<int>(entry.type)) + " dropped"));
        break;
    }
}

// The PDU of the part whose prompt came, straight from the part itself:
// nothing queued in between can stand in for it. The part's answer is
// awaited as the answer of its "AT+CMGS=", so that no other command goes
// to the module before it and takes that answer for its own; the part's
// window bounds that wait, and the reply limit stays as the last AT command
// left it.
void send_pdu(GsmState& state, Actions& actions)
{
    state.pdu_due = false;
    state.pdu_sent = true;
    state.part_ok = false;
    state.ready = kAwaitingReply;
    state.reply_timer_ms = 0;
    const std::string length = std::to_string(state.pdu.size());
    actions.push_back(log(4, " write sms len(" + length + ") start"));
    actions.push_back({.kind = Action::Kind::kSendText, .text = state.pdu});
    actions.push_back(log(4, " write sms len(" + length + ") end"));
}

void start_sms_part(GsmState& state, const hid_cmd_op& entry, Actions& actions)
{
    state.pdu = text_of(entry);
    state.pdu_due = false;
    state.pdu_sent = false;
    state.ready = kAwaitingReply;
    state.sms_timer_ms = 0;
    state.reply_timer_ms = 0;
    const int header = pdu_header_octets(state.pdu);
    actions.push_back(log(4, "len:" + std::to_string(entry.length) +
                                 ",,sms headlen:" + std::to_string(header)));
    if (entry.sms_index != state.sms_index) {
        state.sms_index = entry.sms_index;
        state.parts_done = 0;
        state.part_count = entry.sms_count;
        actions.push_back(log(4, "sms index:" + std::to_string(state.sms_index) +
                                     ",,max divedcount:" + std::to_string(state.part_count)));
    }
    const int tpdu = entry.length / 2 - header;
    if (header < 0 || tpdu <= 0) {
        actions.push_back(log(1, " sms part with a bad PDU dropped"));
        state.ready = kReady;
        sms_send_state(state, kSmsFailed, actions);
        return;
    }
    char command[32];
    std::snprintf(command, sizeof command, "AT+CMGS=%d\r", tpdu);
    state.command = command;
    actions.push_back(log(4, " " + state.command));
    state.sms_part = true;
    actions.push_back({.kind = Action::Kind::kSendText, .text = state.command});
}

}  // namespace

Actions pump_step(GsmState& state, int elapsed_ms, PumpQueues& queues)
{
    Actions actions;
    state.reply_timer_ms += elapsed_ms;
    state.sms_timer_ms += elapsed_ms;
    if (state.pdu_due) {
        send_pdu(state, actions);
        return actions;
    }
    if (state.ready == kAwaitingReply) {
        if (!(state.sms_part && state.pdu_sent)) {
            if (state.reply_timer_ms >= state.reply_limit_ms)
                handle_timeout(state, actions);
            return actions;
        }
        // The part's PDU went out: its answer is waited for within the
        // part's window only.
        if (state.sms_timer_ms <= kSmsPartLimitMs)
            return actions;
        state.ready = kLastFailed;
    }
    if (state.sms_part && state.sms_timer_ms > kSmsPartLimitMs)
        part_timeout(state, actions);
    // One entry per step: what one sends must not overtake the next.
    if (std::unique_ptr<hid_cmd_op> entry = queues.take_command()) {
        send_entry(state, *entry, actions);
        return actions;
    }
    if (!state.sms_part && queues.sms_size() > 0) {
        actions.push_back(log(4, "   get  sms queue size:" + std::to_string(queues.sms_size())));
        if (std::unique_ptr<hid_cmd_op> part = queues.take_sms())
            start_sms_part(state, *part, actions);
    }
    return actions;
}

Actions hang_up(GsmState& state)
{
    static constexpr const char* kHangUp = "ATH\r";
    state.command = kHangUp;
    state.ready = kAwaitingReply;
    state.reply_timer_ms = 0;
    state.reply_limit_ms = kReplyLimitMs;
    state.dialling = false;
    state.call_answered = false;
    state.dialled_number.clear();
    state.clcc_total = 0;
    return {log(4, " hangup"), {.kind = Action::Kind::kSendText, .text = kHangUp}};
}

void sms_send_state(GsmState& state, int result, Actions& actions)
{
    actions.push_back(log(4, " send short sms state:" + std::to_string(result)));
    // "maxcount:<parts>(<parts done>)"
    const auto counts = [&state] {
        return std::to_string(state.part_count) + "(" + std::to_string(state.parts_done) + ")";
    };
    if (result == kSmsSent) {
        state.sms_part = false;
        ++state.parts_done;
        if (state.parts_done == state.part_count) {
            actions.push_back(fire(kEventSmsReport, 1, 1));
            actions.push_back(log(4, " send short sms ok, fire sms report maxcount:" + counts() + " "));
            reset_sms(state);
        } else {
            actions.push_back(log(4, " send short sms ok maxcount:" + counts()));
        }
        return;
    }
    if (result != kSmsFailed && result != kSmsTimedOut)
        return;
    ++state.parts_done;
    actions.push_back(log(1, result == kSmsFailed
                                 ? " send short sms is failed, " + counts() + " "
                                 : " send short sms is timeout,maxcount:" + counts() + " "));
    // The message has failed: its other parts are not sent. Messages queued
    // behind it are their own and go as usual.
    if (state.parts_done < state.part_count)
        actions.push_back({.kind = Action::Kind::kDropSmsParts, .a = state.sms_index});
    actions.push_back(fire(kEventSmsReport, result, result));
    state.sms_part = false;
    reset_sms(state);
}

}  // namespace gsm
