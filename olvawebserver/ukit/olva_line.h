// What the web service keeps of one line for browsers that connect later:
// the handle bound to the slot, the last device error and alarms, and the
// SIM fields. Library event threads write the fields and the web thread
// reads them, so each is atomic; COlvaMgr finds and binds slots under its
// slot mutex.
#pragma once

#include <atomic>

class COlvaLine {
public:
    static constexpr unsigned long kFree = static_cast<unsigned long>(-1);

    // Binds the slot; SIM fields become -1, errors and alarms stay.
    void handl_plug_in(unsigned long handle, unsigned long value);
    // Frees the slot and resets every field.
    void handl_plug_out();

    unsigned long line_handel() const { return handle_.load(); }
    int get_device_error() const { return device_error_.load(); }
    int get_device_alarm() const { return device_alarm_.load(); }
    int get_device_playalarm() const { return play_alarm_.load(); }
    int get_device_playalarm_error() const { return play_alarm_error_.load(); }
    int get_device_simNo() const { return sim_no_.load(); }
    int get_device_simReg() const { return sim_reg_.load(); }
    int get_device_simState() const { return sim_state_.load(); }

    void set_device_alarm(int type, int param);
    void set_device_playalarm(int type, int error);
    void set_device_error(int value) { device_error_.store(value); }
    void set_device_SimNo(int value) { sim_no_.store(value); }
    void set_device_SimReg(int value) { sim_reg_.store(value); }
    void set_device_SimState(int value) { sim_state_.store(value); }

private:
    std::atomic<unsigned long> handle_{kFree};
    std::atomic<unsigned long> plug_value_{kFree};  // stored only
    std::atomic<int> device_error_{0};
    std::atomic<int> device_alarm_{0};
    std::atomic<int> alarm_param_{0};  // stored only
    std::atomic<int> play_alarm_{0};
    std::atomic<int> play_alarm_error_{0};
    std::atomic<int> sim_no_{0};
    std::atomic<int> sim_reg_{0};
    std::atomic<int> sim_state_{0};
};
