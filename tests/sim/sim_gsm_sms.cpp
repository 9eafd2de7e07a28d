#include "sim/sim_gsm_sms.h"

namespace olva_sim {


std::string SimGsmSms::store(int index, const std::string& pdu)
{
    stored_[index] = pdu;
    return "+CMTI: \"SM\"," + std::to_string(index);
}

std::string SimGsmSms::answerPdu()
{
    if (silent_pdus_ > 0) {
        --silent_pdus_;
        return "";
    }
    if (fail_pdus_ > 0) {
        --fail_pdus_;
        return module_line("+CMS ERROR: 500");
    }
    return module_line("+CMGS: " + std::to_string(++message_reference_)) + kModuleOk;
}

std::optional<std::string> SimGsmSms::answer(const std::string& command)
{
    if (command == "AT+CPMS?") {
        const std::string used = std::to_string(stored_.size());
        const std::string total = std::to_string(kCapacity);
        return module_line("+CPMS: \"SM\"," + used + "," + total + ",\"SM\"," + used + "," + total +
                    ",\"SM\"," + used + "," + total) +
               kModuleOk;
    }
    if (starts_with(command, "AT+CMGR=")) {
        const auto found = stored_.find(std::stoi(command.substr(8)));
        if (found == stored_.end())
            return module_line("+CMS ERROR: 321");
        const std::string& pdu = found->second;
        return module_line("+CMGR: 0,," + std::to_string(pdu.size() / 2)) + pdu + "\r\n" + kModuleOk;
    }
    if (starts_with(command, "AT+CMGD=")) {
        const std::size_t comma = command.find(',');
        const int index = std::stoi(command.substr(8));
        const int flag = comma == std::string::npos ? 0 : std::stoi(command.substr(comma + 1));
        if (flag == 4)
            stored_.clear();
        else
            stored_.erase(index);
        return std::string(kModuleOk);
    }
    return std::nullopt;
}

}  // namespace olva_sim
