// The device library's public interface: plain functions with unmangled
// names over one process-wide device manager. A line is named by a handle,
// (slot id << 8) | line id, so 0x101, 0x102, 0x201 and 0x202; -1 names none.
// Every function returns an int result (a value, or a negative code below),
// and no exception leaves the library. Events come back through one callback,
// on the library thread that raised them.
#ifndef OLVA_CAVREL_OLVA_H
#define OLVA_CAVREL_OLVA_H

#include "busy_info.h"

#ifdef __cplusplus
#include "usb_hid/olva_product.h"
extern "C" {
#else
#include <stdbool.h>
#endif

typedef void (*olva_event_callback)(unsigned long handle, int event, unsigned long p1,
                                    unsigned long p2, unsigned long p3, unsigned long p4);

// Result codes.
enum {
    OLVA_OK = 0,
    OLVA_ERR_FAILED = -1,
    OLVA_ERR_NO_DEVICE = -2,
    OLVA_ERR_INVALID_HANDLE = -3,
    OLVA_ERR_INVALID_PARAM = -4,
    OLVA_ERR_EXCEPTION = -5,
    OLVA_ERR_WORK_MODE = -6,
    OLVA_ERR_NOT_AVAILABLE = -7,
    OLVA_ERR_CODER = -12,
    OLVA_ERR_BUSY = -13,
    OLVA_ERR_PRODUCT = -15,
    OLVA_ERR_USERNUM_CHECK = -16,
    OLVA_ERR_UNSUPPORTED = -100,
};

// Event codes.
enum {
    OLVA_EVENT_PLUG_IN = 1,
    OLVA_EVENT_PLUG_OUT = 2,
    OLVA_EVENT_ALARM = 3,
    OLVA_EVENT_LINE_RESET = 10,
    OLVA_EVENT_LINE_RING = 11,
    OLVA_EVENT_LINE_HOOK_OFF = 12,
    OLVA_EVENT_LING_HANG = 13,
    OLVA_EVENT_RING_CANCEL = 15,
    OLVA_EVENT_LINE_VOLTAGE = 16,
    OLVA_EVENT_VOICE_DATA = 20,
    OLVA_EVENT_CALLER_ID = 21,
    OLVA_EVENT_DTMF_DOWN = 22,
    OLVA_EVENT_DTMF_UP = 23,
    OLVA_EVENT_DEVICE_ERROR = 24,
    OLVA_EVENT_PLAY_END = 25,
    OLVA_EVENT_PLAY_ERROR = 26,
    OLVA_EVENT_DEVICE_BUSY_TONE = 27,
    OLVA_EVENT_CALL_OUT_FINISH = 28,
    OLVA_EVENT_POLARITY = 29,
    OLVA_EVENT_LINE_HOOK_ON = 30,
    OLVA_EVENT_RING_STOP = 31,
    OLVA_EVENT_SIM_STATE = 32,
    OLVA_EVENT_CALLED_ANSWER = 33,
    OLVA_EVENT_GSM_MSG = 34,
    OLVA_EVENT_SHORT_MSG = 35,
    OLVA_EVENT_SIGNAL_SIZE = 36,
    OLVA_EVENT_GSM_VOLUME = 37,
    OLVA_EVENT_SHORT_MSG_SIZE = 38,
    OLVA_EVENT_SIM_REG = 39,
    OLVA_EVENT_SHORT_MSG_REPORT = 40,
    OLVA_EVENT_USB_ERROR = 41,
    OLVA_EVENT_OPEN_FAILED = 42,
    OLVA_EVENT_DIAL_TONE = 44,
};

// Recording coders: WAV files in A-law, 16-bit PCM or µ-law, MP3 without a
// header; G.729 and NULL are accepted and record nothing.
enum {
    OLVA_CODER_ALAW = 0,
    OLVA_CODER_PCM = 1,
    OLVA_CODER_G729 = 3,
    OLVA_CODER_NULL = 20,
    OLVA_CODER_MP3 = 38,
    OLVA_CODER_ULAW = 100,
};

// State of a line.
typedef enum {
    OLVA_STATE_NO_DEVICE = 0,
    OLVA_STATE_IDLE = 1,
    OLVA_STATE_RINGING = 2,
    OLVA_STATE_OFF_HOOK = 3,
    OLVA_STATE_FLOATING = 4,
    OLVA_STATE_REVERSE_OFF_HOOK = 6,
    OLVA_STATE_POSITIVE_OFF_HOOK = 7,
    OLVA_STATE_HANG_UP = 9,
} ENUM_OLVA_STATE;

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
