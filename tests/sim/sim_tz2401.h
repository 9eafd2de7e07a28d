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
// A Tz2701A's bridge also reaches the memory behind its controller:
//   one-cycle [3, 0xA5, 0, 0x32, hi, lo, 0, 0] sets the read address, the
//   write-read request [3, 0xA0, 0xA3, 7, 0, hi, lo, 0] answers
//   [3, 0xA3, hi, lo, d0, d1, d2, d3]; two-cycle messages
//   [3, 0xA1, p0..p3, v, 7] [3, 0xA2, p4..p7, v, 7] write (0x31, dev, addr,
//   d0..d3) or erase (0x30, unit, 0xCF, ~unit, 0x55 x3); the echo message
//   (0x90, ...) is handed back to the request [3, 0xA0, 0xA2, ...] as
//   [3, 0xA2, p1..p6]. The erase is recorded and changes nothing: what a
//   unit holds is the controller's own business.
#pragma once

#include <array>
#include <functional>
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
        std::array<std::uint8_t, 256> eeprom{};  // what the EEPROM holds when plugged in
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
    // The next EEPROM read of addr is refused ([3, 0, ...]).
    void refuseEepromRead(std::uint8_t addr);
    // The next `count` EEPROM replies are all zero bytes.
    void emptyEepromReplies(int count);
    void setStatus(std::uint8_t hook, std::uint8_t key);
    // Off: status requests after the opening get no answer, so that a test
    // sends the status reports itself.
    void setStatusAnswers(bool on);

    // Tz2701A controller memory, by device number; erased bytes are 0xFF.
    std::array<std::uint8_t, 256> controllerMemory(std::uint8_t dev) const;
    void setControllerMemory(std::uint8_t dev, std::uint8_t addr,
                             const std::vector<std::uint8_t>& bytes);
    // The units named by erase messages, in order.
    std::vector<std::uint8_t> erasedUnits() const;
    // Controller-memory writes taken so far.
    int memoryWrites() const;
    // Two-cycle messages not understood (a half missing, a bad form).
    int badMessages() const;
    // After `skip` more EEPROM read requests, the next `count` get no answer.
    void dropEepromAnswers(int skip, int count);
    // The next EEPROM answer comes after this report (GSM bytes, a status).
    void precedeEepromAnswer(std::vector<std::uint8_t> report);
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
    // Changes the module's SMS side under the box's lock.
    void gsmSms(const std::function<void(SimGsmSms&)>& change);
    // Sends the module's replies that are due by platform::clock().
    void gsmFlush();
    // Acts on the module as the network or the test would (a far end that
    // answers, a caller), then sends what the module says.
    void gsmAct(const std::function<void(SimGsmModule&)>& act);
    // Reads the module's state.
    template <class Read>
    auto gsmRead(Read read) const
    {
        auto held = lock();
        return read(module_);
    }
    // The extension phone's bell, as the box's ring commands left it.
    bool extensionRinging() const;
    // The SIM slot the box works with (0 or 1).
    int simSlot() const;
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
    void bridgeMessage(const std::uint8_t payload[8]);
    void bridgeRequest(const std::vector<std::uint8_t>& report);
    std::array<std::uint8_t, 256>& controller(std::uint8_t dev);

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
    int refused_read_ = -1;
    std::uint8_t hook_ = 0;
    std::uint8_t key_ = 0;
    bool status_answers_ = true;

    std::map<std::uint8_t, std::array<std::uint8_t, 256>> controller_;
    std::uint8_t read_hi_ = 0;
    std::uint8_t read_lo_ = 0;
    bool first_half_ = false;  // a first half waits for its second
    std::uint8_t message_[8] = {};
    std::vector<std::uint8_t> erased_units_;
    int memory_writes_ = 0;
    int bad_messages_ = 0;
    int eeprom_skip_ = 0;
    int eeprom_drops_ = 0;
    std::vector<std::uint8_t> echo_;
    std::vector<std::uint8_t> precede_;
    SimGsmModule module_;
    // The box's own devices, as its device commands set them.
    void deviceCommand(std::uint8_t code, std::uint8_t argument);
    std::vector<std::pair<int, int>> device_commands_;
    bool extension_ringing_ = false;
    bool power_key_pressed_ = false;
    std::map<std::uint8_t, int> gpio_;
};

}  // namespace olva_sim
