// The GSM command pump: one AT command in flight at a time. Each step takes
// the next entry of the command queue (or, when that queue is empty, starts
// the next SMS part), times out unanswered commands and counts consecutive
// time-outs. Stepped with the elapsed time; what it sends is returned as
// actions, in order.
#pragma once

#include <cstddef>
#include <memory>

#include "gsm/gsm_state.h"
#include "gsm/hid_cmd_op.h"

namespace gsm {

// The box's two queues as the pump sees them.
class PumpQueues {
public:
    virtual ~PumpQueues() = default;
    // The front entry, taken off; null when the queue is empty.
    virtual std::unique_ptr<hid_cmd_op> take_command() = 0;
    virtual std::unique_ptr<hid_cmd_op> take_sms() = 0;
    // SMS parts waiting.
    virtual std::size_t sms_size() const = 0;
};

// One pump step after elapsed ms.
Actions pump_step(GsmState& state, int elapsed_ms, PumpQueues& queues);

// Hangs the call up at once, even while a reply is awaited (a dial waits
// up to 140 s for its): "ATH\r" becomes the current command and goes out
// now; its "OK" ends the wait.
Actions hang_up(GsmState& state);

// The outcome of one SMS part: 1 sent, 0 failed, 2 timed out.
void sms_send_state(GsmState& state, int result, Actions& actions);

}  // namespace gsm
