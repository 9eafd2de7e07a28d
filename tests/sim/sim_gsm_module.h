// A GSM module as the Tz2701A's bridge reaches it: takes the host's text,
// acts on each carriage return, echoes until "ATE 0", answers the start-up
// script and the commands the host sends, gives the "> " prompt and takes a
// PDU up to Ctrl-Z, and says any unsolicited line a test asks for. It keeps
// one call with a network whose far end the test plays: a dial waits for
// the far end's answer ("+COLP:" and the dial's "OK"), its busy or its
// hang-up ("NO CARRIER"); an incoming call rings with "RING" and "+CLIP:"
// until "ATA", "AT+CHUP" or the caller gives up; a second caller waits
// ("+CCWA:"); "AT+CLCC" lists the calls up. It keeps its volumes, and its
// power, which the box's power commands switch. It runs
// on platform::clock(): every command is logged with its time, and a chosen
// command can be left unanswered, failed or answered late.
//
// Replies come out as text; the box cuts them into its reports. Not thread
// safe: the box holds the backend's lock around every call.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "sim/sim_gsm_sms.h"

namespace olva_sim {

class SimGsmModule {
public:
    struct Options {
        // The answer to "AT+CGMR": a 2G module's, or a 4G one's ("EC20...").
        std::string revision = "M26FBR03A02";
        std::string sim_state = "READY";  // "+CPIN: READY", or "NOT INSERTED"
        int rssi = 23;
        int registration = 1;
        std::string service_centre = "+8613800100500";
    };
    static Options module2g();
    static Options module4g(const std::string& revision = "EC20CEFAGR06A09M4G");

    struct Received {
        std::int64_t time_ms;
        std::string command;  // without its CR; a PDU without its Ctrl-Z
    };

    explicit SimGsmModule(Options options) : options_(std::move(options)) {}

    // Text from the host, in bridge order.
    void receive(const std::string& text);
    // Replies due by now, in order, one text per reply.
    std::vector<std::string> takeOutput();

    // The next `count` times a command starting with prefix comes, it gets
    // no answer, "ERROR", or its answer delay_ms late.
    void silence(const std::string& prefix, int count = 1);
    void fail(const std::string& prefix, int count = 1);
    void delay(const std::string& prefix, int delay_ms, int count = 1);
    // No command gets an answer.
    void setSilent(bool silent) { silent_ = silent; }
    // An unsolicited line ("RING", "+CLIP: ...") with its CR LF around it.
    void say(const std::string& line);
    // The raw bytes as they are.
    void sayRaw(const std::string& bytes);

    // --- the network's side of a call ---
    enum class Call { kIdle, kDialling, kRingingIn, kActive };
    void farEndAnswers();
    void farEndBusy();
    // The far end (or the caller of a ringing call) hangs up.
    void farEndHangsUp();
    void incomingCall(const std::string& number);
    // The next ring of the incoming call.
    void ringAgain();
    void waitingCall(const std::string& number);
    void waitingCallerHangsUp();
    Call call() const { return call_; }
    std::string peer() const { return peer_; }

    // --- power: off, the module hears and says nothing ---
    void setPowered(bool on);
    bool powered() const { return powered_; }
    // The SIM of the slot the box selected comes up.
    void simChanged();
    int speakerVolume() const { return speaker_volume_; }

    const std::vector<Received>& received() const { return received_; }
    bool echo() const { return echo_; }
    // PDUs taken after a prompt.
    const std::vector<std::string>& pdus() const { return pdus_; }
    // The SMS side: PDU answers and the message store.
    SimGsmSms& sms() { return sms_; }

private:
    struct Pending {
        std::int64_t due_ms;
        std::string text;
    };
    struct Rule {
        enum class Kind { kSilence, kFail, kDelay } kind;
        std::string prefix;
        int count;
        int delay_ms;
    };

    void command(const std::string& text);
    std::string answer(const std::string& text);
    void queue(std::string text, int delay_ms = 0);

    std::string call_answer(const std::string& text);
    std::string call_list() const;

    Options options_;
    Call call_ = Call::kIdle;
    std::string peer_;
    std::string waiting_;
    bool powered_ = true;
    int speaker_volume_ = 40;
    std::string mic_gain_ = "0,5";
    std::string line_;
    bool echo_ = true;
    bool silent_ = false;
    bool taking_pdu_ = false;
    SimGsmSms sms_;
    std::vector<Received> received_;
    std::vector<std::string> pdus_;
    std::vector<Rule> rules_;
    std::deque<Pending> output_;
};

}  // namespace olva_sim
