/* The codes and types the device library shares with its callers: the event
 * callback, result and event codes, recording coders and line states. Plain
 * C, as part of the public interface. */
#ifndef OLVA_TYPES_H
#define OLVA_TYPES_H

#ifdef __cplusplus
extern "C" {
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

#ifdef __cplusplus
}
#endif

#endif
