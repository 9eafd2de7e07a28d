// The box line's hardware operations: each goes to its box with the line's
// id; while the box is not set, each does nothing and answers 0 (false).
#include "olva_device/olva_device.h"

void OlvaDevice::CBoxLineDevice::control_ch_led(bool on)
{
    if (box_)
        box_->control_ch_led(line_id(), on);
}

void OlvaDevice::CBoxLineDevice::control_led_twinkle()
{
    if (box_)
        box_->control_led_twinkle(line_id());
}

int OlvaDevice::CBoxLineDevice::control_ch_switch(bool on)
{
    return box_ ? box_->control_ch_switch(line_id(), on) : 0;
}

int OlvaDevice::CBoxLineDevice::control_slic_ring(int on)
{
    return box_ ? box_->control_slic_ring(line_id(), on) : 0;
}

bool OlvaDevice::CBoxLineDevice::open_hookoff_switch(bool on)
{
    return box_ && box_->open_hookoff_switch(line_id(), on) == 0;
}

bool OlvaDevice::CBoxLineDevice::open_Tz2501b_slic_switch(bool on)
{
    return box_ && box_->open_Tz2501b_slic_switch(on);
}

bool OlvaDevice::CBoxLineDevice::open_Tz2501b_playfile_switch(bool on)
{
    return box_ && box_->open_Tz2501b_playfile_switch(on);
}

bool OlvaDevice::CBoxLineDevice::open_Tz2501b_playfile_to_slic(bool on)
{
    return box_ && box_->open_Tz2501b_playfile_to_slic(on);
}

bool OlvaDevice::CBoxLineDevice::Tz2501b_close_polarity()
{
    return box_ && box_->Tz2501b_close_polarity();
}

void OlvaDevice::CBoxLineDevice::set_Tz2701_gpio(int pin, int value)
{
    if (box_)
        box_->Tz2701_gpio_set(pin, value);
}

void OlvaDevice::CBoxLineDevice::Tz2701_makecall(char* number)
{
    if (box_)
        box_->Tz2701_make_call(number);
}

void OlvaDevice::CBoxLineDevice::Tz2701_send_cid_to_slic(char* number)
{
    if (box_)
        box_->Tz2701_send_cid_to_slic(number);
}

void OlvaDevice::CBoxLineDevice::tz2501_close_audio_mute()
{
    if (box_)
        box_->Tz2501_close_mute();
}
