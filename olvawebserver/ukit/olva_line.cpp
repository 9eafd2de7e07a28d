#include "ukit/olva_line.h"

void COlvaLine::handl_plug_in(unsigned long handle, unsigned long value)
{
    handle_.store(handle);
    plug_value_.store(value);
    sim_no_.store(-1);
    sim_reg_.store(-1);
    sim_state_.store(-1);
}

void COlvaLine::handl_plug_out()
{
    handle_.store(kFree);
    plug_value_.store(kFree);
    device_error_.store(0);
    device_alarm_.store(0);
    alarm_param_.store(0);
    play_alarm_.store(0);
    play_alarm_error_.store(0);
    sim_no_.store(-1);
    sim_reg_.store(-1);
    sim_state_.store(-1);
}

void COlvaLine::set_device_alarm(int type, int param)
{
    device_alarm_.store(type);
    alarm_param_.store(param);
}

void COlvaLine::set_device_playalarm(int type, int error)
{
    play_alarm_.store(type);
    play_alarm_error_.store(error);
}
