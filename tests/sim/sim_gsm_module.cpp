#include "sim/sim_gsm_module.h"

#include "platform/clock.h"

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
    queue(answer(text), delay_ms);
}

std::string SimGsmModule::answer(const std::string& text)
{
    if (std::optional<std::string> stored = sms_.answer(text))
        return *stored;
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
        return module_line("+CLVL: 40") + kOk;
    if (text == "AT+CREG?")
        return module_line("+CREG: 0," + std::to_string(options_.registration)) + kOk;
    return kOk;
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
