// The tests' one way into a line's own state: what the box's decoders, the
// timer thread, the signal pipeline and the caller-ID parser would set, and
// what they leave for the test to read.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "CLineDevice/CLineDevice.h"

namespace olva_test {

struct LineAccess {
    static void setProduct(CLineDevice& line, OLVA_PRODUCT product)
    {
        line.product_.store(product);
    }

    // The state machine's state (timer thread).
    static void setCallPhase(CLineDevice& line, int phase) { line.call_phase_.store(phase); }
    static void setRingCount(CLineDevice& line, int count) { line.ring_count_.store(count); }
    static void setLogicalState(CLineDevice& line, int state) { line.logical_state_.store(state); }
    static void setConfirmedState(CLineDevice& line, int state)
    {
        line.confirmed_state_.store(state);
    }
    static void setInCall(CLineDevice& line, bool on) { line.in_call_.store(on); }
    static void setDialling(CLineDevice& line, bool on) { line.dialling_.store(on); }
    static bool dialling(const CLineDevice& line) { return line.dialling_.load(); }
    static void setTonePlaying(CLineDevice& line, bool on) { line.tone_playing_.store(on); }
    static std::mutex& playMutex(CLineDevice& line) { return line.play_mutex_; }

    // The caller ID under way.
    static void setCidType(CLineDevice& line, int type) { line.settings_.cid_type.store(type); }
    static void setMdmfType3(CLineDevice& line, int on)
    {
        line.settings_.cid_mdmf_type3_enable.store(on);
    }
    static void setFskCid(CLineDevice& line, bool on) { line.fsk_cid_.store(on); }
    static bool fskCid(const CLineDevice& line) { return line.fsk_cid_.load(); }
    static void setDtmfCid(CLineDevice& line, bool on) { line.dtmf_cid_.store(on); }
    static bool dtmfCid(const CLineDevice& line) { return line.dtmf_cid_.load(); }
    static int digitMark(const CLineDevice& line) { return line.dtmf_cid_digit_mark_.load(); }
    static void setFskCidCount(CLineDevice& line, int count) { line.fsk_cid_count_.store(count); }
    static int fskCidCount(const CLineDevice& line) { return line.fsk_cid_count_.load(); }
    static void setFskPriority(CLineDevice& line, int on) { line.fsk_priority_.store(on); }
    static int fskPriority(const CLineDevice& line) { return line.fsk_priority_.load(); }
    static void setNumberReported(CLineDevice& line, bool on)
    {
        line.cid_number_reported_.store(on);
    }
    static bool numberReported(const CLineDevice& line) { return line.cid_number_reported_.load(); }
    static int cidRingFlag(const CLineDevice& line) { return line.cid_ring_flag_.load(); }
    // A new ring: the next complete message is taken.
    static void armCidMessage(CLineDevice& line) { line.arm_cid_message(); }
    static std::size_t cidBytes(CLineDevice& line)
    {
        std::lock_guard<std::mutex> lock(line.cid_mutex_);
        return line.cid_bytes_.size();
    }
    static bool cidMessageDone(CLineDevice& line)
    {
        std::lock_guard<std::mutex> lock(line.cid_mutex_);
        return line.cid_message_done_;
    }

    // The signal pipeline's digits and detectors.
    static void setDialBuffer(CLineDevice& line, const std::string& digits)
    {
        std::lock_guard<std::mutex> lock(line.text_mutex_);
        line.dial_buffer_ = digits;
    }
    static void appendDial(CLineDevice& line, const std::string& digits)
    {
        std::lock_guard<std::mutex> lock(line.text_mutex_);
        line.dial_buffer_ += digits;
    }
    // One more DTMF caller-ID digit, as the pipeline takes it.
    static void addDtmfCidDigit(CLineDevice& line, char digit)
    {
        appendDial(line, std::string(1, digit));
        line.dtmf_cid_.store(true);
        line.dtmf_cid_digit_mark_.fetch_add(1);
    }
    // A '#' and a digit seen at the given wall-clock second.
    static void setKeysSeen(CLineDevice& line, std::int64_t second)
    {
        line.hash_key_seen_.store(true);
        line.last_digit_time_.store(second);
    }
    static void setDialWindow(CLineDevice& line, int samples)
    {
        line.dial_window_samples_.store(samples);
    }
    static int dialWindow(const CLineDevice& line) { return line.dial_window_samples_.load(); }

    // The extension phone's ring (Tz2501B).
    static void setSlicNumber(CLineDevice& line, const std::string& number)
    {
        {
            std::lock_guard<std::mutex> lock(line.text_mutex_);
            line.slic_number_ = number;
        }
        line.slic_number_pending_.store(true);
    }
    static bool slicRingOn(const CLineDevice& line) { return line.slic_ring_on_.load(); }
    static int slicRingPhase(const CLineDevice& line) { return line.slic_ring_phase_.load(); }
    static std::int64_t slicRingStart(const CLineDevice& line)
    {
        return line.slic_ring_phase_start_.load();
    }

    // The capture thread's gain control and the recording's stream.
    static void setGain(CLineDevice& line, float gain) { line.agc_gain_ = gain; }
    static float gain(const CLineDevice& line) { return line.agc_gain_; }
    static bool streaming(CLineDevice& line)
    {
        std::lock_guard<std::mutex> lock(line.record_mutex_);
        return line.stream_coder_ != -1;
    }

    // True when a thread holds one of the line's text, detector or
    // caller-ID mutexes.
    static bool lineMutexHeld(CLineDevice& line)
    {
        return held(line.text_mutex_) || held(line.detector_mutex_) || held(line.cid_mutex_);
    }

private:
    static bool held(std::mutex& m)
    {
        if (!m.try_lock())
            return true;
        m.unlock();
        return false;
    }
};

}  // namespace olva_test
