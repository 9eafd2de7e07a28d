#include "sim/sim_tz2401.h"

#include <algorithm>

namespace olva_sim {

namespace {

constexpr std::uint8_t kReportId = 3;
constexpr std::uint8_t kOneByteForm = 0x10;
constexpr std::uint8_t kOneCycle = 0xA5;
constexpr std::uint8_t kFirstHalf = 0xA1;
constexpr std::uint8_t kSecondHalf = 0xA2;
constexpr std::uint8_t kGpio = 0x9A;
constexpr std::uint8_t kRequest = 0xA0;
constexpr std::uint8_t kSetReadAddress = 0x32;
constexpr std::uint8_t kSixBytes = 0x86;
constexpr std::uint8_t kFiveBytes = 0x85;
constexpr std::uint8_t kStartPulse = 0x90;
constexpr std::size_t kModuleBytesPerReport = 6;

}  // namespace

SimTz2401Box::Options SimTz2401Box::tz2401b(std::uint8_t version)
{
    Options options;
    options.version = version;
    return options;
}

SimTz2401Box::Options SimTz2401Box::tz2701a(std::uint8_t version)
{
    Options options;
    options.version = version;
    options.device_type = 0x30;
    options.gsm = true;
    options.out_endpoint = true;
    return options;
}

SimTz2401Box::Options SimTz2401Box::tz2701a2g()
{
    Options options = tz2701a();
    options.module_type = 0x09;
    options.module = SimGsmModule::module2g();
    return options;
}

SimTz2401Box::Options SimTz2401Box::tz2701a4g(const std::string& revision)
{
    Options options = tz2701a();
    options.module_type = 0x20;
    options.module = SimGsmModule::module4g(revision);
    return options;
}

SimTz2401Box::SimTz2401Box(Options options)
    : SimBox(UsbLayout{0x04D9, 0x2832, 3, 3, static_cast<std::uint8_t>(options.in_endpoint ? 0x84 : 0), 8,
                       static_cast<std::uint8_t>(options.out_endpoint ? 0x05 : 0)}),
      options_(options),
      eeprom_(options.eeprom),
      module_(options.module)
{
}

std::array<std::uint8_t, 256> SimTz2401Box::eeprom() const
{
    auto held = lock();
    return eeprom_;
}

void SimTz2401Box::setEeprom(std::uint8_t addr, const std::vector<std::uint8_t>& bytes)
{
    auto held = lock();
    for (std::size_t i = 0; i < bytes.size(); ++i)
        eeprom_[static_cast<std::uint8_t>(addr + i)] = bytes[i];
}

int SimTz2401Box::hangWord() const
{
    auto held = lock();
    return hang_word_;
}

int SimTz2401Box::hookOffWord() const
{
    auto held = lock();
    return hook_off_word_;
}

int SimTz2401Box::ringThreshold() const
{
    auto held = lock();
    return options_.ring_threshold;
}

int SimTz2401Box::ringAlternations() const
{
    auto held = lock();
    return options_.ring_alternations;
}

bool SimTz2401Box::lineVoltageReading() const
{
    auto held = lock();
    return line_voltage_reading_;
}

int SimTz2401Box::commandCount(std::uint8_t cmd) const
{
    auto held = lock();
    auto found = commands_.find(cmd);
    return found == commands_.end() ? 0 : found->second;
}

void SimTz2401Box::dropReplies(std::uint8_t cmd, int count)
{
    auto held = lock();
    dropped_[cmd] = count;
}

void SimTz2401Box::refuseEepromRead(std::uint8_t addr)
{
    auto held = lock();
    refused_read_ = addr;
}

void SimTz2401Box::emptyEepromReplies(int count)
{
    auto held = lock();
    empty_eeprom_replies_ = count;
}

void SimTz2401Box::setStatus(std::uint8_t hook, std::uint8_t key)
{
    auto held = lock();
    hook_ = hook;
    key_ = key;
}

void SimTz2401Box::setStatusAnswers(bool on)
{
    auto held = lock();
    status_answers_ = on;
}

std::array<std::uint8_t, 256>& SimTz2401Box::controller(std::uint8_t dev)
{
    auto found = controller_.find(dev);
    if (found == controller_.end()) {
        found = controller_.emplace(dev, std::array<std::uint8_t, 256>{}).first;
        found->second.fill(0xFF);
    }
    return found->second;
}

std::array<std::uint8_t, 256> SimTz2401Box::controllerMemory(std::uint8_t dev) const
{
    auto held = lock();
    auto found = controller_.find(dev);
    if (found != controller_.end())
        return found->second;
    std::array<std::uint8_t, 256> erased;
    erased.fill(0xFF);
    return erased;
}

void SimTz2401Box::setControllerMemory(std::uint8_t dev, std::uint8_t addr,
                                       const std::vector<std::uint8_t>& bytes)
{
    auto held = lock();
    auto& memory = controller(dev);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        memory[static_cast<std::uint8_t>(addr + i)] = bytes[i];
}

std::vector<std::uint8_t> SimTz2401Box::erasedUnits() const
{
    auto held = lock();
    return erased_units_;
}

int SimTz2401Box::memoryWrites() const
{
    auto held = lock();
    return memory_writes_;
}

int SimTz2401Box::badMessages() const
{
    auto held = lock();
    return bad_messages_;
}

void SimTz2401Box::dropEepromAnswers(int skip, int count)
{
    auto held = lock();
    eeprom_skip_ = skip;
    eeprom_drops_ = count;
}

void SimTz2401Box::precedeEepromAnswer(std::vector<std::uint8_t> report)
{
    auto held = lock();
    precede_ = std::move(report);
}

void SimTz2401Box::bridgeMessage(const std::uint8_t p[8])
{
    switch (p[0]) {
    case 0x31: {
        auto& memory = controller(p[1]);
        for (int i = 0; i < 4; ++i)
            memory[static_cast<std::uint8_t>(p[2] + i)] = p[3 + i];
        ++memory_writes_;
        break;
    }
    case 0x30:
        if (p[2] == 0xCF && p[3] == static_cast<std::uint8_t>(p[1] ^ 0xFF) && p[4] == 0x55 &&
            p[5] == 0x55 && p[6] == 0x55)
            erased_units_.push_back(p[1]);
        else
            ++bad_messages_;
        break;
    case 0x90:
        echo_.assign(p + 1, p + 7);
        break;
    default:
        break;
    }
}

void SimTz2401Box::bridgeRequest(const std::vector<std::uint8_t>& r)
{
    switch (r[2]) {
    case 0xA1:
        if (!status_answers_)
            break;
        reply(0xA0, {kReportId, 0x91, options_.module_type, options_.standalone, options_.sim_a,
                     options_.sim_b, hook_, key_});
        break;
    case 0xA3: {
        if (eeprom_skip_ > 0) {
            --eeprom_skip_;
        } else if (eeprom_drops_ > 0) {
            --eeprom_drops_;
            break;
        }
        if (!precede_.empty()) {
            precede_.resize(8, 0);
            emit(std::move(precede_));
            precede_.clear();
        }
        // The address is the one the one-cycle message set.
        const auto& memory = controller(read_hi_);
        std::vector<std::uint8_t> answer = {kReportId, 0xA3, read_hi_, read_lo_};
        for (int i = 0; i < 4; ++i)
            answer.push_back(memory[static_cast<std::uint8_t>(read_lo_ + i)]);
        reply(0xA0, answer);
        break;
    }
    case 0xA2:
        if (!echo_.empty()) {
            std::vector<std::uint8_t> answer = {kReportId, 0xA2};
            answer.insert(answer.end(), echo_.begin(), echo_.end());
            echo_.clear();
            reply(0xA0, answer);
        }
        break;
    default:
        break;
    }
}

std::vector<SimGsmModule::Received> SimTz2401Box::gsmReceived() const
{
    auto held = lock();
    return module_.received();
}

std::vector<std::string> SimTz2401Box::gsmPdus() const
{
    auto held = lock();
    return module_.pdus();
}

bool SimTz2401Box::gsmEcho() const
{
    auto held = lock();
    return module_.echo();
}

void SimTz2401Box::gsmSilence(const std::string& prefix, int count)
{
    auto held = lock();
    module_.silence(prefix, count);
}

void SimTz2401Box::gsmFail(const std::string& prefix, int count)
{
    auto held = lock();
    module_.fail(prefix, count);
}

void SimTz2401Box::gsmDelay(const std::string& prefix, int delay_ms, int count)
{
    auto held = lock();
    module_.delay(prefix, delay_ms, count);
}

void SimTz2401Box::gsmSetSilent(bool silent)
{
    auto held = lock();
    module_.setSilent(silent);
}

void SimTz2401Box::gsmSms(const std::function<void(SimGsmSms&)>& change)
{
    auto held = lock();
    change(module_.sms());
}

void SimTz2401Box::gsmSay(const std::string& line)
{
    auto held = lock();
    module_.say(line);
    flushGsmLocked();
}

void SimTz2401Box::gsmFlush()
{
    auto held = lock();
    flushGsmLocked();
}

std::vector<std::pair<int, int>> SimTz2401Box::deviceCommands() const
{
    auto held = lock();
    return device_commands_;
}

void SimTz2401Box::deviceCommand(std::uint8_t code, std::uint8_t argument)
{
    switch (code) {
    case 0x11:
        // A box with a module shows the working slot as 0, 0 or 1, 0.
        options_.sim_a = argument == 1 ? 1 : 0;
        options_.sim_b = 0;
        module_.simChanged();
        break;
    case 0x12:
        module_.setPowered(true);
        break;
    case 0x13:
        module_.setPowered(false);
        break;
    case 0x14:
        power_key_pressed_ = true;
        break;
    case 0x15:
        // A press and release of the power key switches the module.
        if (power_key_pressed_)
            module_.setPowered(!module_.powered());
        power_key_pressed_ = false;
        break;
    case 0x17:
        extension_ringing_ = true;
        break;
    case 0x18:
        extension_ringing_ = false;
        break;
    default:
        break;
    }
}

void SimTz2401Box::gsmAct(const std::function<void(SimGsmModule&)>& act)
{
    auto held = lock();
    act(module_);
    flushGsmLocked();
}

bool SimTz2401Box::extensionRinging() const
{
    auto held = lock();
    return extension_ringing_;
}

int SimTz2401Box::simSlot() const
{
    auto held = lock();
    return options_.sim_a;
}

int SimTz2401Box::bootPulses() const
{
    auto held = lock();
    int pulses = 0;
    for (const auto& [code, argument] : device_commands_)
        pulses += code == kStartPulse ? 1 : 0;
    return pulses;
}

int SimTz2401Box::gpio(std::uint8_t pin) const
{
    auto held = lock();
    auto found = gpio_.find(pin);
    return found == gpio_.end() ? -1 : found->second;
}

void SimTz2401Box::flushGsmLocked()
{
    // Each reply starts a report of its own, so that the prompt "> " comes
    // inside one.
    for (const std::string& text : module_.takeOutput()) {
        for (std::size_t at = 0; at < text.size(); at += kModuleBytesPerReport) {
            const std::size_t n = std::min(kModuleBytesPerReport, text.size() - at);
            std::vector<std::uint8_t> report(8, 0);
            report[0] = kReportId;
            report[1] = static_cast<std::uint8_t>(0x80 + n);
            std::copy_n(text.begin() + static_cast<long>(at), n, report.begin() + 2);
            emit(std::move(report));
        }
    }
}

bool SimTz2401Box::onBridgeReport(const std::vector<std::uint8_t>& r)
{
    if (!options_.gsm)
        return false;
    switch (r[1]) {
    case kOneCycle:
        if (r[3] >= 0x81 && r[3] <= 0x84) {
            const int n = r[3] - 0x80;
            module_.receive(std::string(r.begin() + 4, r.begin() + 4 + n));
        } else if (r[2] == 0x00 && r[3] == kSetReadAddress) {
            read_hi_ = r[4];
            read_lo_ = r[5];
        } else {
            device_commands_.push_back({r[3], r[4]});
            deviceCommand(r[3], r[4]);
        }
        return true;
    case kFirstHalf:
        if (first_half_)
            ++bad_messages_;
        std::copy(r.begin() + 2, r.begin() + 6, message_);
        first_half_ = true;
        return true;
    case kSecondHalf: {
        if (!first_half_) {
            ++bad_messages_;
            return true;
        }
        first_half_ = false;
        std::copy(r.begin() + 2, r.begin() + 6, message_ + 4);
        // Text for the module, or a message for the controller.
        const int n = message_[0] == kSixBytes ? 6 : message_[0] == kFiveBytes ? 5 : 0;
        if (n > 0)
            module_.receive(std::string(message_ + 1, message_ + 1 + n));
        else
            bridgeMessage(message_);
        return true;
    }
    case kGpio:
        gpio_[r[2]] = r[3];
        return true;
    case kRequest:
        bridgeRequest(r);
        return true;
    default:
        return false;
    }
}

void SimTz2401Box::reply(std::uint8_t cmd, std::vector<std::uint8_t> report)
{
    if (int& dropped = dropped_[cmd]; dropped > 0) {
        --dropped;
        return;
    }
    report.resize(8, 0);
    emit(std::move(report));
}

void SimTz2401Box::onOutputReport(const std::vector<std::uint8_t>& r)
{
    if (r.size() != 8 || r[0] != kReportId)
        return;
    const std::uint8_t cmd = r[1];
    ++commands_[cmd];
    if (onBridgeReport(r)) {
        flushGsmLocked();
        return;
    }
    flushGsmLocked();
    switch (cmd) {
    case 0xF1:
        reply(cmd, {kReportId, options_.version, kOneByteForm});
        break;
    case 0xF2:
        reply(cmd, {kReportId, options_.device_type, kOneByteForm});
        break;
    case 0xB8:
        hang_word_ = r[2] | (r[3] << 8);
        break;
    case 0xB7:
        hook_off_word_ = r[2] | (r[3] << 8);
        break;
    case 0x3A:
        options_.ring_threshold = r[2];
        break;
    case 0x3B:
        options_.ring_alternations = r[2];
        break;
    case 0x3E:
        reply(cmd, {kReportId, options_.ring_threshold, kOneByteForm});
        break;
    case 0x3F:
        reply(cmd, {kReportId, options_.ring_alternations, kOneByteForm});
        break;
    case 0x90:
        line_voltage_reading_ = false;
        voltage_on_armed_ = false;
        break;
    case 0xFE:
        voltage_on_armed_ = true;
        break;
    case 0x70:
        line_voltage_reading_ = voltage_on_armed_;
        break;
    case 0x50:
    case 0x60:
        reply(cmd, {kReportId, 0, 0, 0, static_cast<std::uint8_t>((options_.line_voltage & 0x0F) << 4),
                    static_cast<std::uint8_t>(options_.line_voltage >> 4)});
        break;
    case 0xA3:
        std::copy(r.begin() + 2, r.begin() + 6, write_first_);
        break;
    case 0xA4: {
        const std::uint8_t addr = r[6];
        const int length = r[7] > 8 ? 8 : r[7];
        for (int i = 0; i < length; ++i)
            eeprom_[static_cast<std::uint8_t>(addr + i)] = i < 4 ? write_first_[i] : r[2 + i - 4];
        break;
    }
    case 0xB1:
    case 0xB2: {
        if (empty_eeprom_replies_ > 0) {
            --empty_eeprom_replies_;
            reply(cmd, {0, 0, 0});
            break;
        }
        if (cmd == 0xB1 && r[2] == refused_read_) {
            refused_read_ = -1;
            reply(cmd, {kReportId, 0x00});
            break;
        }
        if (cmd == 0xB1)
            read_addr_ = r[2];
        const std::uint8_t first = static_cast<std::uint8_t>(read_addr_ + (cmd == 0xB2 ? 4 : 0));
        std::vector<std::uint8_t> answer = {kReportId, cmd};
        for (int i = 0; i < 4; ++i)
            answer.push_back(eeprom_[static_cast<std::uint8_t>(first + i)]);
        reply(cmd, answer);
        break;
    }
    case 0xF4:
        if (options_.gsm)
            reply(cmd, {kReportId, 0xF4, 0x00});
        break;
    default:
        break;
    }
}

int SimTz2401Box::onGetReport(std::uint8_t, std::uint8_t*, int)
{
    // The family answers on its interrupt endpoint only.
    return usb::kErrorPipe;
}

}  // namespace olva_sim
