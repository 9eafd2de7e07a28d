#include "gsm/startup_script.h"

#include <cstdio>

#include "gsm/device_commands.h"

namespace gsm {

namespace {

// The two module revisions that take the EC200 levels and keep the GSM to
// earphone path off.
constexpr const char* kEc200Revisions[] = {"EC200SCNABR03A04M16", "EC200UCNAAR01A05M08"};

std::string format(const char* pattern, int a, int b = 0)
{
    char text[64];
    std::snprintf(text, sizeof text, pattern, a, b);
    return text;
}

}  // namespace

std::vector<std::string> startup_commands(bool four_g, const Levels& levels)
{
    std::vector<std::string> commands = {"AT\r", "AT\r", "AT\r", "ATE 0\r", "AT+CGMR\r"};
    auto add = [&commands](std::initializer_list<std::string> more) {
        commands.insert(commands.end(), more);
    };
    if (four_g)
        add({"AT+QSIMDET=1,1\r", "AT+QURCCFG=\"urcport\",\"uart1\"\r"});
    else
        add({"AT+QSIMDET=1,0,1\r"});
    add({"AT+CLIP=1\r"});
    // Tone-detection mode 1, the only one a box takes.
    if (!four_g)
        add({"AT+QTDMOD=1,2\r", "AT+QTDMOD=2,1\r", "AT+QTONEDET=4,1,3,3,65536\r"});
    add({"AT+QTONEDET=1\r"});
    if (four_g) {
        add({"AT+QDAI=3,0,0,4,0,0,1,1\r", "AT+COLP=1\r", "AT+QCFG=\"tone/incoming\",1\r",
             "AT+CRSL=0\r", "AT+QSIDET=0\r", "AT+QAUDPLAYGAIN=1000\r",
             "AT+QLTONE=1,1000,200,300,2000\r", "AT+COLP=1\r", "AT+QAUDSW=1\r"});
    } else {
        add({format("AT+CLVL=%d\r", levels.speaker_2g), "AT+CALM=0\r", "AT+QMOSTAT=1\r",
             "AT+QSFR=7\r", "AT+QSIDET=0\r", format("AT+QMIC=0,%d\r", levels.mic_2g),
             "AT+COLP=1\r"});
    }
    add({"AT&W0\r", "AT+CPIN?\r", "AT+CSCA?\r"});
    return commands;
}

Actions begin_startup(GsmState& state, int module_type)
{
    Actions actions;
    actions.push_back(log(4, format(" devtype:%x", module_type)));
    state.startup = true;
    state.boot = true;
    state.startup_running = true;
    state.four_g = module_type == kModuleType4G;
    if (state.four_g) {
        actions.push_back(log(4, " devtype is 4G mode"));
        // The first pulse goes with the next step.
        state.boot_pulses_left = kBootPulses;
        state.startup_wait_ms = 0;
    } else {
        state.boot_pulses_left = 0;
        state.startup_wait_ms = kBootWait2GMs;
    }
    return actions;
}

Actions step_startup(GsmState& state, int elapsed_ms, const Levels& levels)
{
    Actions actions;
    if (!state.startup_running)
        return actions;
    state.startup_wait_ms -= elapsed_ms;
    if (state.startup_wait_ms > 0)
        return actions;
    if (state.boot_pulses_left > 0) {
        actions.push_back({.kind = Action::Kind::kSendOneCycle, .a = kCodeStartPulse, .b = 0});
        --state.boot_pulses_left;
        state.startup_wait_ms = kBootPulseMs;
        return actions;
    }
    state.startup_running = false;
    actions.push_back(log(4, "  send init cmd ..."));
    state.boot = false;
    for (std::string& command : startup_commands(state.four_g, levels))
        actions.push_back(queue_at(std::move(command)));
    // The module's start-up may follow a change in the box: its stored
    // user number is read afresh.
    actions.push_back(log(4, "  init gsm , read eeprom"));
    actions.push_back({.kind = Action::Kind::kReadUserNumber});
    return actions;
}

Actions revision_actions(GsmState& state, const std::string& revision, const Levels& levels)
{
    Actions actions;
    bool ec200 = false;
    for (const char* known : kEc200Revisions)
        ec200 = ec200 || revision == known;
    state.ec200 = ec200;
    if (ec200) {
        actions.push_back(queue_device(kCodeGsmToEarphone, 0));
        actions.push_back(log(4, "++ dev is:" + revision));
        actions.push_back(queue_at(format("AT+CLVL=%d\r", levels.speaker_ec200)));
        actions.push_back(
            queue_at(format("AT+QMIC=%d,%d\r", levels.mic_gain_ec200[0], levels.mic_gain_ec200[1])));
    } else {
        actions.push_back(log(4, " ++ other dev is:" + revision));
        actions.push_back(queue_at(format("AT+CLVL=%d\r", levels.speaker_4g)));
        actions.push_back(
            queue_at(format("AT+QMIC=%d,%d\r", levels.mic_gain_4g[0], levels.mic_gain_4g[1])));
        actions.push_back(queue_device(kCodeGsmToEarphone, 1));
    }
    return actions;
}

}  // namespace gsm
