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
    if (state.startups.size() >= kMaxWaitingStartUps) {
        actions.push_back(log(1, format(" start-up refused: %d already wait for the module",
                                        static_cast<int>(kMaxWaitingStartUps))));
        return actions;
    }
    state.startup = true;
    state.boot = true;
    StartUp startup;
    startup.four_g = module_type == kModuleType4G;
    if (startup.four_g) {
        actions.push_back(log(4, " devtype is 4G mode"));
        // The first pulse goes with the next step.
        startup.pulses_left = kBootPulses;
    } else {
        startup.wait_ms = kBootWait2GMs;
    }
    state.startups.push_back(startup);
    return actions;
}

namespace {

// The module has booted: the script goes behind whatever is queued.
void end_boot_wait(GsmState& state, bool four_g, const Levels& levels, Actions& actions)
{
    actions.push_back(log(4, "  send init cmd ..."));
    state.boot = false;
    for (std::string& command : startup_commands(four_g, levels))
        actions.push_back(queue_at(std::move(command)));
    // The module's start-up may follow a change in the box: its stored
    // user number is read afresh.
    actions.push_back(log(4, "  init gsm , read eeprom"));
    actions.push_back({.kind = Action::Kind::kReadUserNumber});
}

}  // namespace

Actions step_startup(GsmState& state, int elapsed_ms, const Levels& levels)
{
    Actions actions;
    for (auto it = state.startups.begin(); it != state.startups.end();) {
        StartUp& startup = *it;
        startup.wait_ms -= elapsed_ms;
        if (startup.wait_ms > 0) {
            ++it;
        } else if (startup.pulses_left > 0) {
            actions.push_back({.kind = Action::Kind::kSendOneCycle, .a = kCodeStartPulse, .b = 0});
            --startup.pulses_left;
            startup.wait_ms = kBootPulseMs;
            ++it;
        } else {
            const bool four_g = startup.four_g;
            it = state.startups.erase(it);
            end_boot_wait(state, four_g, levels, actions);
        }
    }
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
