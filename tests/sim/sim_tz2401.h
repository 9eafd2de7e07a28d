// A Tz2401B, or a Tz2701A as far as identification and its status reports:
// 8-byte reports with report id 3, answered with 8-byte interrupt reports
//   [3, value, 0x10, 0, 0, 0, 0, 0]          one-byte parameter
//   [3, 0xB1, d0, d1, d2, d3, 0, 0]          EEPROM bytes
//   [3, 0x91, module, standalone, sim a, sim b, hook, key]   Tz2701A status
// The Tz2701A's bridge carries text to and from its GSM module:
//   [3, 0xA5, 0, 0x80 + n, c0..c3]             1 to 4 text bytes
//   [3, 0xA1, 0x86 or 0x85, c0, c1, c2, v, 7]  two-cycle text, first half
//   [3, 0xA2, c3, c4, c5, 0, v, 7]             second half (6 or 5 bytes in all)
//   [3, 0xA5, 0, code, arg, 0, 0, 0]           a device command
//   [3, 0x9A, gpio, value, 0, 0, 0, 0]         a GPIO setting
// and answers with [3, 0x80 + n, b0..b5], n of 1 to 6 module bytes.
#pragma once

#include <array>
#include <map>
#include <utility>

#include "sim/sim_backend.h"
#include "sim/sim_gsm_module.h"

namespace olva_sim {

class SimTz2401Box final : public SimBox {
public:
    struct Options {
        std::uint8_t version = 0x42;
        std::uint8_t device_type = 0x00;
        bool gsm = false;  // answers the bridge's status request
        std::uint8_t module_type = 0x20;
        std::uint8_t standalone = 1;
        std::uint8_t sim_a = 0;
        std::uint8_t sim_b = 0;
        bool out_endpoint = false;  // reports go out on an interrupt endpoint
        bool in_endpoint = true;
        std::uint8_t ring_threshold = 0x0C;
        std::uint8_t ring_alternations = 0x02;
        std::uint8_t line_voltage = 0;  // packed into parameter replies 0x50 and 0x60
        SimGsmModule::Options module = SimGsmModule::module2g();
    };
    static Options tz2401b(std::uint8_t version = 0x42);
    static Options tz2701a(std::uint8_t version = 0x43);
    // A Tz2701A with a 2G module (type byte 0x09) or a 4G one (0x20).
    static Options tz2701a2g();
    static Options tz2701a4g(const std::string& revision = "EC20CEFAGR06A09M4G");

    explicit SimTz2401Box(Options options);

    std::array<std::uint8_t, 256> eeprom() const;
    void setEeprom(std::uint8_t addr, const std::vector<std::uint8_t>& bytes);
    // The threshold words last set with 0xB8 and 0xB7 (p1 | p2 << 8), -1 if never.
    int hangWord() const;
    int hookOffWord() const;
    int ringThreshold() const;
    int ringAlternations() const;
    bool lineVoltageReading() const;
    // How often a command code arrived.
    int commandCount(std::uint8_t cmd) const;
    // The next `count` replies to cmd are not sent.
    void dropReplies(std::uint8_t cmd, int count);
    // The next `count` EEPROM replies are all zero bytes.
    void emptyEepromReplies(int count);
    void setStatus(std::uint8_t hook, std::uint8_t key);

    // --- the GSM module behind the bridge ---
    std::vector<SimGsmModule::Received> gsmReceived() const;
    std::vector<std::string> gsmPdus() const;
    bool gsmEcho() const;
    void gsmSilence(const std::string& prefix, int count = 1);
    void gsmFail(const std::string& prefix, int count = 1);
    void gsmDelay(const std::string& prefix, int delay_ms, int count = 1);
    void gsmSetSilent(bool silent);
    // An unsolicited line, sent at once.
    void gsmSay(const std::string& line);
    // Sends the module's replies that are due by platform::clock().
    void gsmFlush();
    // Bridge device commands as (code, argument), in order.
    std::vector<std::pair<int, int>> deviceCommands() const;
    int bootPulses() const;
    // The last value set on a GPIO, -1 if never.
    int gpio(std::uint8_t pin) const;

protected:
    void onOutputReport(const std::vector<std::uint8_t>& report) override;
    int onGetReport(std::uint8_t report_id, std::uint8_t* data, int length) override;

private:
    void reply(std::uint8_t cmd, std::vector<std::uint8_t> report);
    // Bridge reports (lock held); false when the report is none of them.
    bool onBridgeReport(const std::vector<std::uint8_t>& report);
    void flushGsmLocked();

    Options options_;
    std::array<std::uint8_t, 256> eeprom_{};
    int hang_word_ = -1;
    int hook_off_word_ = -1;
    bool voltage_on_armed_ = false;
    bool line_voltage_reading_ = false;
    std::uint8_t write_first_[4] = {};
    std::uint8_t read_addr_ = 0;
    std::map<std::uint8_t, int> commands_;
    std::map<std::uint8_t, int> dropped_;
    int empty_eeprom_replies_ = 0;
    std::uint8_t hook_ = 0;
    std::uint8_t key_ = 0;
    SimGsmModule module_;
    std::uint8_t first_half_[4] = {};
    std::vector<std::pair<int, int>> device_commands_;
    std::map<std::uint8_t, int> gpio_;
};

}  // namespace olva_sim
