// The GSM module's lines read against a fixed grammar: each rule is one row
// of a table (the text the line holds, the state the rule needs, what it
// does), tried in order; the first that matches acts. A call answered after
// a dial, on the wire:
//
//   <CR><LF>+COLP: "10086",129,"",0,""<CR><LF><CR><LF>OK<CR><LF>
//
// "+COLP:" marks the call answered (event 33) with the peer "10086"; "OK"
// ends the wait for the dial's reply.
#pragma once

#include <string>

#include "gsm/gsm_state.h"

namespace gsm {

// One whole line from the assembler.
Actions handle_line(GsmState& state, const LineContext& context, const Levels& levels,
                    const std::string& line);

// The chunk that carried the SMS prompt:
//
//   <CR><LF>> 
//
// The current part's PDU goes out at the pump's next step. A prompt when no
// part awaits its PDU (a late one, or a second one) is only logged.
Actions handle_prompt(GsmState& state, const std::string& chunk);

}  // namespace gsm
