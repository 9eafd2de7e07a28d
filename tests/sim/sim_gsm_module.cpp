#include "sim/sim_gsm_module.h"

#include "base/platform/clock.h"

namespace olva_sim {

namespace {

constexpr char kCtrlZ = 0x1A;
constexpr const char* kOk = kModuleOk;

}  // namespace

SimGsmModule::Options SimGsmModule::module2g()
{
    return Options{};
}

SimGsmModule::Options SimGsmModule::module4g(const std::string& revision)
{
    Options options;
    options.revision = revision;
    return options;
}

void SimGsmModule::receive(const std::string& text)
{
    if (!powered_)
        return;
    for (const char ch : text) {
        if (taking_pdu_) {
            if (ch == kCtrlZ) {
                taking_pdu_ = false;
                received_.push_back({platform::clock().steadyMs(), line_});
                pdus_.push_back(line_);
                line_.clear();
                if (const std::string answer = sms_.answerPdu(); !answer.empty())
                    queue(answer);
            } else {
                line_ += ch;
            }
            continue;
        }
        if (ch == '\r') {
            const std::string text_line = line_;
            line_.clear();
            command(text_line);
        } else if (ch != '\n') {
            line_ += ch;
        }
    }
}

void SimGsmModule::command(const std::string& text)
{
    received_.push_back({platform::clock().steadyMs(), text});
    if (echo_)
        queue(text + "\r");
    int delay_ms = 0;
    for (Rule& rule : rules_) {
        if (rule.count <= 0 || !starts_with(text, rule.prefix))
            continue;
        --rule.count;
        switch (rule.kind) {
        case Rule::Kind::kSilence:
            return;
        case Rule::Kind::kFail:
            queue("\r\nERROR\r\n");
            return;
        case Rule::Kind::kDelay:
            delay_ms = rule.delay_ms;
            break;
        }
        break;
    }
    if (silent_)
        return;
    if (text == "ATE 0" || text == "ATE0")
        echo_ = false;
    if (starts_with(text, "AT+CMGS=")) {
        // The prompt, and the PDU follows up to Ctrl-Z.
        taking_pdu_ = true;
        queue("\r\n> ", delay_ms);
        return;
    }
    const std::string reply = answer(text);
    if (!reply.empty())
        queue(reply, delay_ms);
}

std::string SimGsmModule::answer(const std::string& text)
{
    if (std::optional<std::string> stored = sms_.answer(text))
        return *stored;
    if (starts_with(text, "ATD") || text == "ATA" || text == "ATH" || text == "AT+CHUP" ||
        text == "AT+CLCC")
        return call_answer(text);
    if (starts_with(text, "AT+CLVL=")) {
        speaker_volume_ = std::stoi(text.substr(8));
        return kOk;
    }
    if (starts_with(text, "AT+QMIC=")) {
        mic_gain_ = text.substr(8);
        return kOk;
    }
    if (text == "AT+QMIC?")
        return module_line("+QMIC: " + mic_gain_) + kOk;
    if (text == "AT+CGMR")
        return module_line(options_.revision) + kOk;
    if (text == "AT+CPIN?") {
        if (options_.sim_state == "READY")
            return module_line("+CPIN: READY") + kOk;
        return module_line("+CME ERROR: 10");
    }
    if (text == "AT+CSCA?")
        return module_line("+CSCA: \"" + options_.service_centre + "\",145") + kOk;
    if (text == "AT+CSQ")
        return module_line("+CSQ: " + std::to_string(options_.rssi) + ",0") + kOk;
    if (text == "AT+CLVL?")
        return module_line("+CLVL: " + std::to_string(speaker_volume_)) + kOk;
    if (text == "AT+CREG?")
        return module_line("+CREG: 0," + std::to_string(options_.registration)) + kOk;
    return kOk;
}

std::string SimGsmModule::call_answer(const std::string& text)
{
    if (starts_with(text, "ATD")) {
        if (call_ != Call::kIdle)
            return module_line("ERROR");
        // With "+COLP" on, the dial's "OK" comes when the far end answers.
        call_ = Call::kDialling;
        peer_ = text.substr(3, text.find(';') == std::string::npos ? std::string::npos
                                                                     : text.find(';') - 3);
        return "";
    }
    if (text == "ATA") {
        if (call_ != Call::kRingingIn)
            return module_line("NO CARRIER");
        call_ = Call::kActive;
        return kOk;
    }
    if (text == "AT+CLCC")
        return call_list() + kOk;
    // "ATH" and "AT+CHUP" end every call.
    call_ = Call::kIdle;
    waiting_.clear();
    return kOk;
}

std::string SimGsmModule::call_list() const
{
    std::string list;
    if (call_ == Call::kActive || call_ == Call::kDialling)
        list += module_line("+CLCC: 1,0,0,0,0,\"" + peer_ + "\",129");
    if (call_ == Call::kRingingIn)
        list += module_line("+CLCC: 1,1,4,0,0,\"" + peer_ + "\",129");
    if (!waiting_.empty())
        list += module_line("+CLCC: 2,1,5,0,0,\"" + waiting_ + "\",129");
    return list;
}

void SimGsmModule::farEndAnswers()
{
    if (call_ != Call::kDialling)
        return;
    call_ = Call::kActive;
    queue(module_line("+COLP: \"" + peer_ + "\",129,\"\",0,\"\"") + kOk);
}

void SimGsmModule::farEndBusy()
{
    if (call_ != Call::kDialling)
        return;
    call_ = Call::kIdle;
    queue(module_line("BUSY"));
}

void SimGsmModule::farEndHangsUp()
{
    if (call_ == Call::kIdle)
        return;
    call_ = Call::kIdle;
    queue(module_line("NO CARRIER"));
}

void SimGsmModule::incomingCall(const std::string& number)
{
    call_ = Call::kRingingIn;
    peer_ = number;
    ringAgain();
}

void SimGsmModule::ringAgain()
{
    if (call_ == Call::kRingingIn)
        queue(module_line("RING") + module_line("+CLIP: \"" + peer_ + "\",129,\"\",0,\"\",0"));
}

void SimGsmModule::waitingCall(const std::string& number)
{
    if (call_ != Call::kActive)
        return;
    waiting_ = number;
    queue(module_line("+CCWA: \"" + number + "\",129,1"));
}

void SimGsmModule::waitingCallerHangsUp()
{
    if (waiting_.empty())
        return;
    waiting_.clear();
    queue(module_line("NO CARRIER"));
}

void SimGsmModule::setPowered(bool on)
{
    if (on == powered_)
        return;
    powered_ = on;
    if (!on) {
        call_ = Call::kIdle;
        waiting_.clear();
        line_.clear();
        output_.clear();
        return;
    }
    echo_ = true;
    queue(module_line("RDY") + module_line("+CPIN: READY") + module_line("Call Ready"));
}

void SimGsmModule::simChanged()
{
    if (powered_)
        queue(module_line("+CPIN: READY") + module_line("Call Ready"));
}

void SimGsmModule::queue(std::string text, int delay_ms)
{
    output_.push_back({platform::clock().steadyMs() + delay_ms, std::move(text)});
}

std::vector<std::string> SimGsmModule::takeOutput()
{
    std::vector<std::string> out;
    const std::int64_t now = platform::clock().steadyMs();
    // In order: a late answer holds back what came after it.
    while (!output_.empty() && output_.front().due_ms <= now) {
        out.push_back(std::move(output_.front().text));
        output_.pop_front();
    }
    return out;
}

void SimGsmModule::silence(const std::string& prefix, int count)
{
    rules_.push_back({Rule::Kind::kSilence, prefix, count, 0});
}

void SimGsmModule::fail(const std::string& prefix, int count)
{
    rules_.push_back({Rule::Kind::kFail, prefix, count, 0});
}

void SimGsmModule::delay(const std::string& prefix, int delay_ms, int count)
{
    rules_.push_back({Rule::Kind::kDelay, prefix, count, delay_ms});
}

void SimGsmModule::say(const std::string& text)
{
    queue(module_line(text));
}

void SimGsmModule::sayRaw(const std::string& bytes)
{
    queue(bytes);
}

}  // namespace olva_sim
