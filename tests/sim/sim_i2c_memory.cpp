#include "sim/sim_i2c_memory.h"

namespace olva_sim {

namespace {

constexpr std::uint8_t kDeviceAddress = 0xA0;

}  // namespace

void SimI2cMemory::update(bool scl, bool host_sda)
{
    if (scl_ && !scl) {
        scl_ = false;
        sclFell();
    }
    const bool before = sda();
    host_sda_ = host_sda;
    const bool after = sda();
    if (scl_ && before != after) {
        if (after)
            stop();
        else
            start();
    }
    if (!scl_ && scl) {
        scl_ = true;
        sclRose();
    }
}

void SimI2cMemory::start()
{
    pending_.clear();
    drive_low_ = false;
    phase_ = Phase::kReceive;
    bits_ = 0;
    shift_ = 0;
    byte_index_ = 0;
    reading_ = false;
}

void SimI2cMemory::stop()
{
    for (std::size_t i = 0; i < pending_.size(); ++i)
        memory[static_cast<std::uint8_t>(pending_start_ + i)] = pending_[i];
    bytes_written += static_cast<int>(pending_.size());
    pending_.clear();
    drive_low_ = false;
    phase_ = Phase::kIdle;
}

void SimI2cMemory::sclRose()
{
    if (phase_ == Phase::kReceive && bits_ < 8) {
        shift_ = static_cast<std::uint8_t>((shift_ << 1) | (sda() ? 1 : 0));
        ++bits_;
    } else if (phase_ == Phase::kSendAck) {
        master_ack_ = !sda();
    }
}

void SimI2cMemory::sclFell()
{
    switch (phase_) {
    case Phase::kIdle:
        break;
    case Phase::kReceive:
        if (bits_ < 8)
            break;
        if (byte_index_ == 0) {
            if ((shift_ & 0xFE) != kDeviceAddress || never_acknowledge) {
                phase_ = Phase::kIdle;
                break;
            }
            reading_ = shift_ & 1;
        } else if (byte_index_ == 1) {
            pointer_ = shift_;
            pending_start_ = shift_;
        } else {
            pending_.push_back(shift_);
        }
        drive_low_ = true;
        phase_ = Phase::kReceiveAck;
        break;
    case Phase::kReceiveAck:
        drive_low_ = false;
        if (reading_) {
            out_byte_ = memory[pointer_];
            bits_ = 0;
            drive_low_ = !(out_byte_ & 0x80);
            phase_ = Phase::kSend;
        } else {
            ++byte_index_;
            bits_ = 0;
            shift_ = 0;
            phase_ = Phase::kReceive;
        }
        break;
    case Phase::kSend:
        if (++bits_ < 8) {
            drive_low_ = !((out_byte_ >> (7 - bits_)) & 1);
        } else {
            drive_low_ = false;
            master_ack_ = false;
            phase_ = Phase::kSendAck;
        }
        break;
    case Phase::kSendAck:
        if (master_ack_) {
            ++pointer_;
            out_byte_ = memory[pointer_];
            bits_ = 0;
            drive_low_ = !(out_byte_ & 0x80);
            phase_ = Phase::kSend;
        } else {
            ++pointer_;
            phase_ = Phase::kIdle;
        }
        break;
    }
}

}  // namespace olva_sim
