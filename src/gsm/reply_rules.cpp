#include "gsm/reply_rules.h"

#include "base/common.h"
#include "gsm/at_text.h"
#include "gsm/device_commands.h"
#include "gsm/pump.h"
#include "gsm/startup_script.h"

namespace gsm {

namespace {

// SIM states of event 32.
constexpr int kSimNotInserted = 2;
constexpr int kSimReady = 3;
// "+CME ERROR:" is this long; the error number follows.
constexpr std::size_t kErrorPrefix = 11;
// Error numbers above this one are SIM faults.
constexpr long kLastNonSimError = 3;
// "+CSQ:" rssi: 0..31, 99 unknown.
constexpr long kMaxRssi = 31;
constexpr long kUnknownRssi = 99;
// "+QTONEDET: 35" is this long, its code two digits behind the first 11.
constexpr std::size_t kToneLineLength = 13;
constexpr std::size_t kToneCodeAt = 11;
// The user option logged with the module's answers: no library call sets
// one.
constexpr int kUserOpt = 0;
// The beep that tells the caller the call has ended.
constexpr const char* kEndTone = "AT+QLTONE=1,1000,200,300,500\r";

struct Parse {
    GsmState& state;
    const LineContext& context;
    const Levels& levels;
    const std::string& line;
    Actions& actions;

    bool line_has(const char* part) const { return line.find(part) != std::string::npos; }
    bool command_has(const char* part) const
    {
        return state.command.find(part) != std::string::npos;
    }
    int sim_number() const { return context.active_sim + 1; }
    void add(Action action) { actions.push_back(std::move(action)); }
    void note(const std::string& text, int level = 4) { add(log(level, text)); }
    void module_text() { add(fire_text(kEventModuleText, line, static_cast<long>(line.size()))); }
    void gsm_state(int value)
    {
        // The next call brings its own caller ID.
        if (value == kGsmStateHangUp)
            state.caller_id_taken = false;
        add({.kind = Action::Kind::kSetGsmState, .a = value});
    }
    // Only a ringing extension is told to stop.
    void stop_extension_ring()
    {
        if (context.extension_ringing)
            add({.kind = Action::Kind::kStopExtensionRing});
    }
    void earphone_path_off_on_ec200()
    {
        if (state.ec200)
            add(queue_device(kCodeGsmToEarphone, 0));
    }
};

// The call is up: line 1 talks, and the extension phone joins when it is
// off hook and links itself.
void call_connected(Parse& p)
{
    p.gsm_state(kGsmStateTalking);
    if (p.context.auto_link_slic && p.context.extension_off_hook) {
        p.add(queue_device(kCodeGsmToSlic, 1));
        p.add(queue_device(kCodeSlicToGsm, 1));
    }
    p.state.dialling = false;
}

// "BUSY" and "NO ANSWER" are a dial's final result: the pump stops
// waiting for it, instead of holding every command back for 140 s and
// then hanging up a call that is over.
void end_dial(Parse& p)
{
    if (!p.command_has("ATD"))
        return;
    p.state.ready = kReady;
    p.state.timeouts = 0;
}

void on_ok(Parse& p)
{
    GsmState& s = p.state;
    s.timeouts = 0;
    s.ready = kReady;
    if (p.command_has("AT+CLCC")) {
        p.note("recv clcc ok, clcc_total:" + std::to_string(s.clcc_total));
        if (s.clcc_total != 0) {
            // The peer was not among the calls still up: the call has ended.
            s.clcc_total = 0;
            p.add(queue_at(kEndTone));
            s.peer_number.clear();
            s.dialled_number.clear();
            s.dialling = false;
            // A call that this side ended already was reported then.
            const bool reported = !end_call(s);
            if (s.ccwa_count < 1 && p.context.call_phase == kGsmStateRinging) {
                if (!reported)
                    p.add(fire(kEventRingCancel, 0));
                p.add(print(" ring cancel(called hangup)"));
            } else if (s.ccwa_count < 1) {
                if (!reported)
                    p.add(fire(kEventHookOn, 1));
                p.add(print(" called hangup 2"));
                s.call_answered = false;
            } else {
                s.ccwa_count = 0;
                if (!reported)
                    p.add(fire(kEventHookOn, 1));
                p.add(print(" called hangup"));
                s.call_answered = false;
            }
            p.earphone_path_off_on_ec200();
            p.stop_extension_ring();
            p.gsm_state(kGsmStateHangUp);
        }
    } else if (p.command_has("AT+CMGS=") && !s.part_ok) {
        sms_send_state(s, 1, p.actions);
        s.part_ok = true;
    }
    p.note(" recv ok, m_user_opt(" + std::to_string(kUserOpt) + "), " + s.command);
}

void on_error(Parse& p)
{
    GsmState& s = p.state;
    p.note(" " + s.command + ":FAILD," + p.line, 1);
    s.ready = kLastFailed;
    s.timeouts = 0;
    if (p.command_has("AT+CPIN")) {
        s.reg_state = -1;
        // "+CME ERROR: 10" gives "p:CME ERROR".
        const std::string piece = p.line.substr(0, p.line.find(':'));
        if (!piece.empty()) {
            p.add(print("p:" + piece.substr(1)));
            p.note(" p:" + piece.substr(1));
        }
    } else if (p.command_has("AT+CSCA")) {
        s.reg_state = -1;
        if (p.line.size() > kErrorPrefix) {
            std::string split = behind(p.line, kErrorPrefix);
            trim(split);
            long error = 0;
            if (!read_number(split, error))
                error = 0;
            if (error > kLastNonSimError) {
                p.add(fire(kEventSimState, p.sim_number(), error));
                p.note(" fire sim state ,nErr:" + std::to_string(error));
            }
            p.note("split:" + split + ",,nErr:" + std::to_string(error));
        }
    } else if (p.command_has("AT+CMGS=") && s.sms_part) {
        // The part failed, with a plain "ERROR" or the network's "+CMS ERROR:".
        if (p.line_has("+CMS"))
            p.module_text();
        sms_send_state(s, 0, p.actions);
        p.note("  send short msg failed", 1);
    } else {
        p.module_text();
        if (p.line_has("+CMS") && !s.part_ok && s.sms_active && s.sms_part)
            sms_send_state(s, 0, p.actions);
    }
}

void on_mo_ring(Parse& p)
{
    p.note(" called ring");
    p.add(fire(kEventCallOutFinish, 0));
}

void on_ring(Parse& p)
{
    p.note(" ring");
    p.state.call_up = true;
    p.state.call_answered = false;
    p.gsm_state(kGsmStateRinging);
    p.add(fire(kEventRing, 0));
}

void on_tone(Parse& p)
{
    p.note(" " + p.line);
    long code = 0;
    if (p.line.size() != kToneLineLength || !read_number(p.line.substr(kToneCodeAt, 2), code))
        return;
    if ((code >= '0' && code <= '9') || code == '*' || code == '#')
        p.add(fire(kEventDtmf, code));
}

void on_call_ready(Parse& p)
{
    p.note(" simcard no:" + std::to_string(p.context.active_sim) + " call ready");
    p.state.ccwa_count = 0;
    p.add(queue_at("AT+CSCA?\r"));
}

void on_cfun(Parse& p)
{
    p.note(" simcard no:" + std::to_string(p.context.active_sim) + ", " + p.line);
    p.state.startup = false;
    if (!p.state.sim_switching)
        p.add({.kind = Action::Kind::kStartGsm});
}

void on_colp(Parse& p)
{
    GsmState& s = p.state;
    if (s.call_answered) {
        s.dialling = false;
        return;
    }
    s.call_answered = true;
    p.add(fire(kEventAnswered, 0));
    p.note(" called answer:" + p.line);
    if (p.line.size() > 7) {
        const std::string field = first_field(behind(p.line, 7));
        if (!field.empty()) {
            s.peer_number = unquote(field);
            s.clcc_total = 0;
        }
    }
    call_connected(p);
}

void on_cpin(Parse& p)
{
    GsmState& s = p.state;
    p.note(" recv cpin msg:" + p.line);
    if (p.line_has("READY")) {
        p.note(" simcard no:" + std::to_string(p.context.active_sim) + " ready");
        s.ccwa_count = 0;
        if (s.sim_switching)
            return;
        if (!s.startup) {
            p.add({.kind = Action::Kind::kStartGsm});
            return;
        }
        s.reg_state = 0;
        p.add(fire(kEventSimState, p.sim_number(), kSimReady));
    } else if (p.line_has("NOT INSERTED")) {
        p.note(" simcard no:" + std::to_string(p.context.active_sim) + " is not inserted");
        s.sim_switching = false;
        p.add(fire(kEventSimState, p.sim_number(), kSimNotInserted));
    }
}

void on_qmic(Parse& p)
{
    long volume = 0;
    if (!read_number(first_field(behind(p.line, 7)), volume))
        return;
    p.add(fire(kEventVolume, 2, volume));
    p.note(" mic_vol:" + std::to_string(volume));
}

void on_clvl(Parse& p)
{
    long volume = 0;
    if (p.line.size() <= 7 || !read_number(behind(p.line, 6), volume))
        return;
    p.add(fire(kEventVolume, 1, volume));
    p.note(" play_vol:" + std::to_string(volume) + ",recv:" + p.line);
}

void on_clip(Parse& p)
{
    if (p.state.caller_id_taken || p.line.size() <= 7)
        return;
    const std::string field = first_field(behind(p.line, 7));
    const std::string number = unquote(field);
    if (number.empty())
        return;
    p.note(" caller id number len:" + std::to_string(number.size()) + " /" + number);
    p.add({.kind = Action::Kind::kSetCallerId, .text = field.substr(0, kMaxNumber + 2)});
    p.state.caller_id_taken = true;
    p.state.peer_number = number;
    p.state.clcc_total = 0;
    p.add(fire_text(kEventCallerId, number));
}

void on_no_carrier(Parse& p)
{
    GsmState& s = p.state;
    p.note(" recv msg:" + p.line);
    // A dial that was ringing or connected ends here.
    if (p.command_has("ATD") && s.reply_timer_ms > 7) {
        s.command.clear();
        s.ready = kLastFailed;
        s.timeouts = 0;
        p.add(print(" need dll auto hangup"));
        // The soft hook-on ends the call and reports it.
        p.add({.kind = Action::Kind::kSoftHookOn});
        return;
    }
    // The module's last word on a call this side hung up: nothing to check.
    if (p.command_has("ATH") && !s.call_up) {
        s.call_answered = false;
        return;
    }
    // Perhaps a waiting call ended: the call list decides.
    s.call_answered = false;
    s.clcc_total = 1;
    p.add(queue_at("AT+CLCC\r"));
}

void on_clcc(Parse& p)
{
    GsmState& s = p.state;
    p.note(" recv CLCC msg:" + p.line);
    if (s.clcc_total <= 0)
        return;
    ++s.clcc_number;
    p.note(" m_clcc_number:" + std::to_string(s.clcc_number) +
           ", recv no carrier:" + std::to_string(s.clcc_total) + ",,phonenumber(" +
           s.peer_number + ")");
    if (!s.peer_number.empty() && p.line_has(s.peer_number.c_str())) {
        p.note(" other part hangup");
        s.clcc_total = 0;
        s.ccwa_count = 0;
    }
}

void on_no_answer(Parse& p)
{
    GsmState& s = p.state;
    p.note(" recv msg:" + p.line);
    end_dial(p);
    p.add(queue_at(kEndTone));
    p.gsm_state(kGsmStateHangUp);
    s.dialling = false;
    s.clcc_total = 0;
    s.ccwa_count = 0;
    s.call_answered = false;
    if (end_call(s))
        p.add(fire(kEventHookOn, 1));
    p.note(" called no answer");
    p.stop_extension_ring();
    p.earphone_path_off_on_ec200();
}

void on_mo_connected(Parse& p)
{
    GsmState& s = p.state;
    p.note(" recv msg:" + p.line);
    s.ccwa_count = 0;
    if (s.call_answered) {
        s.dialling = false;
        return;
    }
    s.call_answered = true;
    p.add(fire(kEventAnswered, 0));
    p.note(" called answer");
    call_connected(p);
}

void on_busy(Parse& p)
{
    end_dial(p);
    p.add(fire(kEventBusyTone, 0));
    p.note(" busy tone");
    p.stop_extension_ring();
    p.state.clcc_total = 0;
    p.state.call_answered = false;
    p.state.dialling = false;
}

void on_cmgs(Parse& p)
{
    p.note(" send short msg:" + p.line);
}

void on_cpms(Parse& p)
{
    p.note("CPMS:" + p.line);
    const std::size_t first = p.line.find(',');
    if (first == std::string::npos)
        return;
    const std::size_t second = p.line.find(',', first + 1);
    if (second == std::string::npos)
        return;
    long used = 0;
    long total = 0;
    read_number(p.line.substr(first + 1), used);
    if (p.line.find(',', second + 1) != std::string::npos)
        read_number(p.line.substr(second + 1), total);
    p.note("memory size:" + std::to_string(used) + ",,have message size:" + std::to_string(total));
    p.add(fire(kEventSmsStorage, used, total));
}

void on_csq(Parse& p)
{
    long rssi = 0;
    if (!read_number(first_field(behind(p.line, 6)), rssi) || rssi == kUnknownRssi)
        return;
    if (rssi < 0 || rssi > kMaxRssi) {
        p.note(" signal value out of range: " + p.line, 1);
        return;
    }
    const int percent = static_cast<int>(static_cast<float>(rssi) / 31.0f * 100.0f);
    p.note(" signal size(" + std::to_string(rssi) + ")->100% val(" + std::to_string(percent) + ")");
    p.add(queue_device(kCodeSignalStrength, static_cast<int>(rssi)));
    p.add(fire(kEventSignal, percent));
}

void on_creg(Parse& p)
{
    const std::size_t comma = p.line.find(',');
    long stat = 0;
    if (comma == std::string::npos || !read_number(p.line.substr(comma + 1), stat))
        return;
    GsmState& s = p.state;
    s.reg_state = static_cast<int>(stat);
    int sim = p.context.active_sim;
    if (sim == -1) {
        sim = 0;
        p.add({.kind = Action::Kind::kSetActiveSim, .a = 0});
    }
    p.note(" " + p.line + ", sim:" + std::to_string(sim) + ",,nreg:" + std::to_string(stat));
    p.add(fire(kEventSimReg, sim, stat));
    if (stat == kRegisteredHome || stat == kRegisteredRoaming) {
        p.add(queue_at("AT+CSQ\r"));
        p.add(queue_at("AT+CCWA=1,1\r"));
    }
}

void on_csca(Parse& p)
{
    const std::string field = first_field(behind(p.line, 7));
    if (field.size() > 3) {
        // "+8613800100500" in quotes: the quote and the '+' go.
        p.state.service_centre = field.substr(2, field.size() - 3).substr(0, kMaxNumber);
        p.add(fire_text(kEventModuleText, p.state.service_centre,
                        static_cast<long>(p.line.size()) - 7));
    }
    p.note(" csca: " + p.line + ",new csca:" + p.state.service_centre);
}

void on_revision_line(Parse& p)
{
    p.note("  version :" + p.line);
}

void on_ccwa(Parse& p)
{
    p.note(" CCWA msg:" + p.line);
    ++p.state.ccwa_count;
    if (p.line.size() > 7) {
        const std::string number = unquote(first_field(behind(p.line, 7)));
        p.note(" new caller id number len:" + std::to_string(number.size()) + "/" + number);
    }
}

void on_pb_done(Parse& p)
{
    p.note(" switch fun cmd msg:" + p.line);
    p.state.reg_state = 0;
    p.state.sim_switching = false;
    p.add(queue_at("AT+COLP=1\r"));
    p.add(queue_at("AT+CREG?\r"));
}

void on_revision(Parse& p)
{
    p.note(" " + p.line + ",recv GSM type:" + p.line + ", user opt:" + std::to_string(kUserOpt));
    Action text = fire_text(kEventModuleText, p.line, static_cast<long>(p.line.size()));
    text.text2 = p.state.command;
    text.has_text2 = true;
    p.add(std::move(text));
    for (Action& action : revision_actions(p.state, p.line, p.levels))
        p.add(std::move(action));
}

void on_other(Parse& p)
{
    p.note(" other msg:" + p.line);
    if (p.line.size() <= 2)
        return;
    if (p.line_has("08") || p.line_has("00") || p.line_has("04")) {
        p.note("message, len:" + std::to_string(p.line.size()));
        p.note(" recv:" + p.line);
        p.add({.kind = Action::Kind::kReceivedPdu, .text = p.line});
        return;
    }
    p.note(" recv cmd msg:" + p.line);
    p.module_text();
}

bool always(const GsmState&)
{
    return true;
}

// The revision rule reads only the answer to the revision query: a PDU's
// hex may hold "EC20" too (text with U+EC20 in it).
bool answering_revision_query(const GsmState& state)
{
    return state.command.find("AT+CGMR") != std::string::npos;
}

struct Rule {
    const char* holds;                   // the line holds this text; null: any line
    bool (*needs)(const GsmState&);      // the state the rule needs
    void (*act)(Parse&);
};

constexpr Rule kRules[] = {
    {"OK", always, on_ok},
    {"ERROR", always, on_error},
    {"MO RING", always, on_mo_ring},
    {"RING", always, on_ring},
    {"+QTONEDET", always, on_tone},
    {"Call Ready", always, on_call_ready},
    {"+CFUN:", always, on_cfun},
    {"+COLP:", always, on_colp},
    {"+CPIN", always, on_cpin},
    {"+QMIC", always, on_qmic},
    {"+CLVL:", always, on_clvl},
    {"+CLIP:", always, on_clip},
    {"NO CARRIER", always, on_no_carrier},
    {"+CLCC", always, on_clcc},
    {"NO ANSWER", always, on_no_answer},
    {"MO CONNECTED", always, on_mo_connected},
    {"BUSY", always, on_busy},
    {"+CMGS", always, on_cmgs},
    {"+CPMS", always, on_cpms},
    {"+CSQ:", always, on_csq},
    {"+CREG:", always, on_creg},
    {"+CSCA", always, on_csca},
    {"Revision:", always, on_revision_line},
    {"+CCWA:", always, on_ccwa},
    {"+QIND: PB DONE", always, on_pb_done},
    {"EC20", answering_revision_query, on_revision},
    {nullptr, always, on_other},
};

}  // namespace

Actions handle_line(GsmState& state, const LineContext& context, const Levels& levels,
                    const std::string& line)
{
    Actions actions;
    Parse parse{state, context, levels, line, actions};
    for (const Rule& rule : kRules) {
        if ((rule.holds == nullptr || parse.line_has(rule.holds)) && rule.needs(state)) {
            rule.act(parse);
            break;
        }
    }
    return actions;
}

Actions handle_prompt(GsmState& state, const std::string& chunk)
{
    Actions actions;
    if (!state.sms_part || state.pdu.empty() || state.pdu_sent || state.pdu_due) {
        actions.push_back(log(1, " prompt with no SMS part awaiting its PDU: " + chunk));
        return actions;
    }
    const std::string length = std::to_string(state.pdu.size());
    // The PDU is logged without its closing Ctrl-Z.
    actions.push_back(log(4, " short msg ,msglen:" + length + "," +
                                 state.pdu.substr(0, state.pdu.find('\x1A'))));
    state.pdu_due = true;
    actions.push_back(log(4, " start send short msg ,msglen:" + length + " end "));
    return actions;
}

}  // namespace gsm
