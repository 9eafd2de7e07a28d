// The device library's public interface: plain functions with unmangled
// names over one process-wide device manager. A line is named by a handle,
// (slot id << 8) | line id, so 0x101, 0x102, 0x201 and 0x202; -1 names none.
// Every function returns an int result (a value, or a negative code of
// model/olva_types.h), and no exception leaves the library. Events come back
// through one callback, on the library thread that raised them.
#ifndef OLVA_CAVREL_OLVA_H
#define OLVA_CAVREL_OLVA_H

#include "model/busy_info.h"
#include "model/olva_product.h"
#include "model/olva_types.h"

#ifdef __cplusplus
extern "C" {
#else
#include <stdbool.h>
#endif

// Set-up and tear-down.
int olva_open(olva_event_callback cb);
void olva_close();
void olva_open_logfile();
void olva_open_logfileEx(const char* dir);
void olva_close_logfile();

// Line state, recording and playback.
int olva_check_coder(int coder);
int olva_get_line_state(unsigned long h);
int olva_record_file(unsigned long h, const char* path, int coder);
int olva_record_stream(unsigned long h, int coder);
int olva_stop_record(unsigned long h);
int olva_send_dtmf(unsigned long h, const char* digits);
int olva_play_file(unsigned long h, const char* path);
int olva_stop_play(unsigned long h);
int olva_play_pause(unsigned long h);
int olva_close_agc(unsigned long h, int off);
int olva_soft_hook_off(unsigned long h);
int olva_soft_hook_on(unsigned long h);
int olva_set_busy_tone(unsigned long h, tagBusyInfo info);

// Box settings and information.
int olva_set_volume(unsigned long h, unsigned volume);
int olva_set_Speakervolume(unsigned long h, int volume);
int olva_get_hang_threshold(unsigned long h);
int olva_set_hang_threshold(unsigned long h, unsigned value);
int olva_get_hookoff_threshold(unsigned long h);
int olva_set_hookoff_threshold(unsigned long h, unsigned value);
int olva_stop_read_line_voltage(unsigned long h);
int olva_start_read_line_voltage(unsigned long h);
int olva_get_device_versionnum(unsigned long h, float* version);
int olva_get_product_ID(unsigned long h);
int olva_get_product_name(unsigned long h, void* dst);
const char* olva_get_serial_number(unsigned long h);
int olva_get_usernum(unsigned long h, char* data, int len);
int olva_write_usernum();
int olva_set_message_param(unsigned long h, bool on);
int olva_open_buzzer_switch(unsigned long h, bool on);
int olva_read_eeprom(unsigned long h, unsigned addr, unsigned char* data, int len);
int olva_read_eepromEx(unsigned long h, unsigned addr, unsigned char* data, int len);
int olva_write_eeprom(unsigned long h, unsigned addr, unsigned char* data, int len);
int olva_set_send_dtmf_param(unsigned long h, int tone_time, int silence_time, float dtmf_cof,
                             int dtmf_scale, int speaker_volume);
int olva_get_send_dtmf_param(int* tone_time, int* silence_time, float* dtmf_cof,
                             int* dtmf_scale, int* speaker_volume);
int olva_get_work_mode();
int olva_get_dev_data();
int olva_set_dev_data();

// Files.
int olva_delete_file(const char* path);
int olva_judge_file_size(const char* path);
int olva_uploadFile(const void*, const void*, const void*);

// GSM module and extension phone.
int olva_makecall(unsigned long h, char* number);
int olva_reject_call(unsigned long h);
int olva_set_talk_link(unsigned long h, int type, int on);
int olva_set_record_enable(unsigned long h, int type, int on);
int olva_makecallSlic(unsigned long h, int a, int b, char* number);
int olva_send_gsm_cmd(unsigned long h, char* cmd, int len);
int olva_send_gsm_msg(unsigned long h, int type, char* number, char* text, int len);
int olva_query_gsm_msg_number(unsigned long h);
int olva_query_gsm_msg(unsigned long h, int index);
int olva_query_gsm_msgEx(unsigned long h, int index);
int olva_delete_gsm_msg(unsigned long h, int flag, int index);
int olva_gsm_power(unsigned long h, unsigned on);
int olva_gsm_bootkey(unsigned long h, unsigned on);
int olva_select_simcard(unsigned long h, unsigned sim);
int olva_feed_slic_polarity(unsigned long h, int polarity);
int olva_set_gsm_work_mode(unsigned long h, int index, int value);
int olva_set_gsm_vol(unsigned long h, int type, unsigned level);
int olva_get_gsm_vol(unsigned long h, int type);
int olva_gsm_generate_tone(unsigned long h, int a, int b, int c, int d, int e);
int olva_get_gsm_devtype(unsigned long h, unsigned char* data, int len);
int olva_write_gsm_devtype();

#ifdef __cplusplus
}
#endif

#endif
