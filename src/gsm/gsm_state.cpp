#include "gsm/gsm_state.h"

#include <cstdio>

namespace gsm {

bool end_call(GsmState& state)
{
    const bool was_up = state.call_up;
    state.call_up = false;
    // The next call brings its own caller ID.
    state.caller_id_taken = false;
    return was_up;
}

Action fire(int event, long p1, long p2, long p3)
{
    return {.kind = Action::Kind::kFireEvent, .a = event, .b = p1, .c = p2, .d = p3};
}

Action fire_text(int event, std::string text, long p2)
{
    Action action = fire(event, 0, p2);
    action.text = std::move(text);
    action.has_text = true;
    return action;
}

Action queue_at(std::string text)
{
    return {.kind = Action::Kind::kQueueAt, .text = std::move(text)};
}

Action queue_device(int code, int argument)
{
    return {.kind = Action::Kind::kQueueDevice, .a = code, .b = argument};
}

Action log(int level, std::string text)
{
    return {.kind = Action::Kind::kLog, .a = level, .text = std::move(text)};
}

Action print(std::string text)
{
    return {.kind = Action::Kind::kPrint, .text = std::move(text)};
}

namespace {

std::string printable(const std::string& text)
{
    std::string out;
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte >= 0x20 && byte < 0x7F) {
            out += ch;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", byte);
            out += hex;
        }
    }
    return out;
}

}  // namespace

std::string describe(const Action& action)
{
    char numbers[96];
    using Kind = Action::Kind;
    switch (action.kind) {
    case Kind::kFireEvent:
        std::snprintf(numbers, sizeof numbers, "fire %ld (%ld, %ld, %ld)", action.a, action.b,
                      action.c, action.d);
        return std::string(numbers) + (action.has_text ? " \"" + printable(action.text) + "\"" : "") +
               (action.has_text2 ? " p3 \"" + printable(action.text2) + "\"" : "");
    case Kind::kQueueAt:
        return "queue " + printable(action.text);
    case Kind::kQueueDevice:
        std::snprintf(numbers, sizeof numbers, "device 0x%02lX %ld", action.a, action.b);
        return numbers;
    case Kind::kSoftHookOn:
        return "soft hook-on";
    case Kind::kSendText:
        return "send " + printable(action.text);
    case Kind::kSendOneCycle:
        std::snprintf(numbers, sizeof numbers, "one-cycle 0x%02lX %ld", action.a, action.b);
        return numbers;
    case Kind::kSendRaw:
        return "raw " + printable(action.text);
    case Kind::kSetGsmState:
        return "gsm state " + std::to_string(action.a);
    case Kind::kSetActiveSim:
        return "active sim " + std::to_string(action.a);
    case Kind::kSetCallerId:
        return "caller id " + printable(action.text);
    case Kind::kStopExtensionRing:
        return "stop extension ring";
    case Kind::kDropSmsParts:
        return "drop sms parts " + std::to_string(action.a);
    case Kind::kStartGsm:
        return "start gsm";
    case Kind::kReceivedPdu:
        return "pdu " + printable(action.text);
    case Kind::kReadUserNumber:
        return "read user number";
    case Kind::kLog:
        return "log " + printable(action.text);
    case Kind::kPrint:
        return "print " + printable(action.text);
    }
    return "?";
}

}  // namespace gsm
