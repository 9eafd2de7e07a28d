// The GSM module's bytes as the box's reports carry them: through the line
// assembler, and each line and prompt through the reply rules, with one
// conversation state kept for the whole input. The first two bytes set the
// state the module is met in (dialling, an SMS part, the start-up, a call
// ringing, the SIM in use, the extension phone); each report then is a
// length byte (1 to 6 bytes follow) and the bytes.
#include <cstddef>
#include <cstdint>

#include "base/logger.h"
#include "gsm/line_assembler.h"
#include "gsm/reply_rules.h"

// Unknown lines are logged: not worth the time here.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    logger_set_base_level(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    gsm::GsmState state;
    gsm::LineContext context;
    const std::uint8_t setup = data[0];
    state.dialling = setup & 0x01;
    state.sms_part = setup & 0x02;
    state.sms_active = setup & 0x02;
    state.startup = setup & 0x04;
    state.boot = setup & 0x08;
    state.call_answered = setup & 0x10;
    state.sim_switching = setup & 0x20;
    state.ec200 = setup & 0x40;
    state.clcc_total = (setup & 0x80) ? 1 : 0;
    const std::uint8_t line = data[1];
    context.active_sim = (line & 0x03) == 3 ? -1 : (line & 0x01);
    context.call_phase = (line >> 2) & 0x03;
    context.auto_link_slic = line & 0x10;
    context.extension_off_hook = line & 0x20;
    state.part_count = (line >> 6) + 1;
    const gsm::Levels levels;

    gsm::LineAssembler assembler;
    for (std::size_t at = 2; at < size;) {
        const std::size_t count = std::min<std::size_t>(data[at] % 6 + 1, size - at - 1);
        ++at;
        for (const auto& item : assembler.feed(data + at, count)) {
            if (item.kind == gsm::LineAssembler::Item::Kind::kLine)
                gsm::handle_line(state, context, levels, item.text);
            else if (item.kind == gsm::LineAssembler::Item::Kind::kPrompt)
                gsm::handle_prompt(state, item.text);
        }
        at += count;
    }
    return 0;
}
