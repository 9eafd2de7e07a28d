// The SMS side of the simulated GSM module, as a peer answers in PDU mode:
// a PDU after the prompt is confirmed with "+CMGS: <reference>" and "OK",
// or, when a test asks, failed with "+CMS ERROR: 500" or left unanswered;
// the message store answers "AT+CPMS?", "AT+CMGR=" and "AT+CMGD=", and a
// message put into it is announced with "+CMTI:".
#pragma once

#include <map>
#include <optional>
#include <string>

namespace olva_sim {

// The module's final "OK", and one of its lines with CR LF around it.
inline constexpr const char* kModuleOk = "\r\nOK\r\n";
inline std::string module_line(const std::string& text)
{
    return "\r\n" + text + "\r\n";
}
inline bool starts_with(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

class SimGsmSms {
public:
    static constexpr int kCapacity = 50;

    // The next count PDUs get "+CMS ERROR: 500", or no answer at all.
    void failPdus(int count) { fail_pdus_ += count; }
    void silencePdus(int count) { silent_pdus_ += count; }
    // A received message in the store at index; returns its "+CMTI:" line.
    std::string store(int index, const std::string& pdu);
    const std::map<int, std::string>& stored() const { return stored_; }

    // The answer to a PDU ended by Ctrl-Z (empty: none).
    std::string answerPdu();
    // The answer to one of the store's commands; nothing for another command.
    std::optional<std::string> answer(const std::string& command);

private:
    int fail_pdus_ = 0;
    int silent_pdus_ = 0;
    int message_reference_ = 0;
    std::map<int, std::string> stored_;
};

}  // namespace olva_sim
