// One telephone line of a box. It keeps the line's settings from "olva.ini",
// its detectors and the state the box's reports and timer move, and raises
// the line's events. Every box holds two; the box's line class routes the
// hardware operations and the events to its box.
//
// Lock order: the record mutex comes before the text mutex (a recording
// logs under it); otherwise the text, detector, caller-ID and play mutexes
// are each held alone, and none while an event is raised, so a callback may
// call back into its line.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "CLineDevice/mp3_encoder.h"
#include "codecs/wave.h"
#include "dsp/busytoneDet.h"
#include "dsp/cid_decoder.h"
#include "dsp/dtmf_decoder.h"
#include "model/model_traits.h"
#include "model/olva_product.h"
#include "model/olva_types.h"

// The line keys of "olva.ini" section "device", read again at every open.
// Written by the open (the device search thread), read by the line's timer,
// capture and API threads: each one atomic.
struct LineSettings {
    std::atomic<int> cid_type{0};  // 0 FSK and DTMF by priority, 1 FSK only, 2 DTMF only
    std::atomic<int> ring_cancel_time{7000};
    std::atomic<int> default_mic_volume{3};
    std::atomic<int> custom_mic_volume{3};
    std::atomic<int> speaker_volume{10};
    std::atomic<int> custom_speaker_volume{10};
    std::atomic<int> hang_wait_time{500};
    std::atomic<int> hangup_wait_time{300};
    std::atomic<int> cid_mdmf_type3_enable{0};
    std::atomic<int> cid_type_self_adaption{0};
    std::atomic<int> not_set_volume_2501{0};  // "2501_not_set_volume"
    std::atomic<int> enable_mp3_compress{0};
};

namespace olva_test {
struct LineAccess;
}

class CLineDevice : public cid_decoder {
    friend struct olva_test::LineAccess;

public:
    static constexpr unsigned long kNoLine = static_cast<unsigned long>(-1);
    // One frame: 160 samples of 8000 Hz signed 16-bit mono, 20 ms.
    static constexpr unsigned long kFrameBytes = 320;
    // Samples examined for dial or ringback tone after an off-hook: 60 s.
    static constexpr int kDialWindowSamples = 480000;
    // Bytes kept of a caller-ID message: preamble, type, length, 255 body
    // bytes and the checksum fit well; a byte beyond it is refused.
    static constexpr std::size_t kMaxCidBytes = 512;
    // A raw line state must stand this long before it counts.
    static constexpr int kDebounceMs = 300;
    static constexpr int kGsmStateIdle = 9;
    // Logical states that the line reports only to itself.
    static constexpr int kWaitHang = 8;
    static constexpr int kRingPause = 10;
    static constexpr int kWaitReset = 12;
    // 450 Hz busy tone: 350 ms on, 350 ms off, three periods.
    static constexpr tagBusyInfo kBusyTone = {0, 450, 420, 35, 35, 5, 12, 3};
    // 450 Hz dial tone and ringback (950 ms on, 3950 ms off).
    static constexpr tagBusyInfo kDialTone = {0, 450, 625, 95, 395, 20, 12, 1};
    // Gain control A1..A8: power smoothing, gain rule, output scale and the
    // gain limits -30..30.
    static constexpr float kAgcSettings[8] = {0.96875f, 0.03125f, 0.3f, 0.03125f,
                                              0.005f,   0.5f,     -30.0f, 30.0f};

    CLineDevice();
    ~CLineDevice() override;
    CLineDevice(const CLineDevice&) = delete;
    CLineDevice& operator=(const CLineDevice&) = delete;

    // Opens the line as line id of a box of the given product: reads its
    // settings, starts its detectors, announces it (events 1 and 30) and
    // leaves it idle. A line marked closing keeps only id, name and product.
    void line_open(unsigned long id, const std::string& name, OLVA_PRODUCT product, bool);
    void line_close(int);
    // Marks the line closing for good: it does not reopen.
    void line_closeEx();

    // The box was plugged in (from line_open) or is gone.
    void handle_plug_in();
    void handle_plug_out();

    // One frame of the line's audio (kFrameBytes), on the box's capture
    // thread. Frames of another size are refused.
    void handle_record_wave(char* frame, unsigned long len);

    // New busy-tone settings; the dial-tone detector keeps its own. The
    // capture thread takes them up at its next frame.
    void set_busy_info(const tagBusyInfo& info);
    // 1 switches the gain control off, 0 on. Returns 0.
    int line_close_agc(int off);

    // --- the line state machine (line_state.cpp, line_handlers.cpp) ---

    // A raw state from the box's report decoder (HID read thread). It only
    // counts once the timer has seen it stand for the debounce time.
    void save_tmp_line_state(ENUM_OLVA_STATE state);
    // The same for the Tz2501B's extension phone (1 on-hook, 3 off-hook).
    void save_tmp_line_slic_state(ENUM_OLVA_STATE state);
    // The 100 ms line step: confirms raw states and raises the events.
    void handle_timer(unsigned long ms);

    void handle_line_ringing();
    void handle_line_hook_off(int send);
    void handle_line_positive_hook_off();
    void handle_line_reverse_hook_off();
    void handle_line_reset();
    void handle_ring_cancel();
    void handle_line_hang();
    // Rings the extension phone, and sends it the number (when one is given)
    // in its ring pause. Returns 0.
    int olva_makecallSlic(const char* number);
    int olva_stop_makcallSlic();
    // Stops an extension ring that both ring requests asked for.
    void stop_slic_ring();

    // Tz2701A: the GSM call state (ENUM_OLVA_STATE), a busy (1) or dial
    // tone to the extension, and the extension's hook state.
    // The GSM state is the Tz2701A line's call phase too.
    void set_gsm_state(int state);
    void Tz2701_play_tone(int busy);
    void Tz2701_set_slic_state(int state);
    // The caller's number, for the ringing extension to hear in its first
    // ring pause.
    void Tz2701_set_caller_number(const std::string& number);
    // The Tz2701A's 100 ms line step: the extension's ring cadence, 1 s on
    // and 4 s off, and the caller's number played 0.4 s into the pause.
    void Tz2701_handle_timer(unsigned long ms);
    bool slic_ringing() const { return slic_ring_on_.load(); }
    void clear_slic_ring() { slic_ring_on_.store(false); }
    // Work modes: the extension phone and the earphone link themselves.
    void set_auto_link_slic(int on) { auto_link_slic_.store(on); }
    void set_auto_line_earphone(int on) { auto_line_earphone_.store(on); }
    int gsm_state() const { return gsm_state_.load(); }
    // Rings of the current incoming GSM call; 0 when none rings.
    int tz2701_ring_count() const { return tz2701_ring_count_.load(); }

    // A played DTMF string has ended (play thread).
    void handle_call_end();
    // A played file or string has ended; error not 0 raises 26, else 25.
    void handle_play_end(int error);

    // Hardware operations. A line without a box has none: the switches
    // answer true, the channel switch and the extension ring 0, the rest do
    // nothing.
    virtual void control_ch_led(bool on);
    virtual void set_mic_volume(int volume);
    virtual void set_speaker_volume(int volume);
    virtual void control_mic_start(bool on);
    virtual void control_led_twinkle();
    // Connects the line's audio path to the box's playback.
    virtual int control_ch_switch(bool on);
    // Rings (1) or silences (0) the extension phone.
    virtual int control_slic_ring(int on);
    virtual bool open_hookoff_switch(bool on);
    virtual bool open_Tz2501b_slic_switch(bool on);
    virtual bool open_Tz2501b_playfile_switch(bool on);
    virtual bool open_Tz2501b_playfile_to_slic(bool on);
    virtual bool Tz2501b_close_polarity();
    virtual void tz2501_close_audio_mute();
    virtual void set_Tz2701_gpio(int pin, int value);
    // Tz2701A: dials the number through the box's GSM module, and has the
    // module play a caller's number to the extension phone.
    virtual void Tz2701_makecall(char* number);
    virtual void Tz2701_send_cid_to_slic(char* number);
    // Plays the digits onto the line with the given id.
    virtual void play_dtmf(unsigned long line, char* digits);
    // Plays a WAV file on this line: 0 when it was queued.
    virtual int line_play_file(const char* path);
    virtual void olva_soft_hook_on();
    // Raises an event on this line; a line without a box raises nothing.
    virtual void fire_event(int event, unsigned long p1, unsigned long p2, unsigned long p3,
                            unsigned long p4);

    // The signal pipeline's other entries (line_pipeline.cpp).
    // A key code (0-9, 10-13 'A'-'D', 14 '*', 15 '#') that a box decoded.
    virtual void handld_dtmf_code(std::int16_t code);
    // Prepares the line for sending digits; echo raises event 22 for each.
    // Returns 0.
    int line_send_dtmf(const char* digits, int echo);
    // Ends a prompt that plays on the line.
    void line_stop_play();
    // One byte of an FSK caller-ID message, from the demodulator on the
    // capture thread (caller_id.cpp).
    void OnCidData(std::uint8_t byte) override;
    // Takes the next caller-ID message from its first byte.
    virtual void handld_cid_start();

    // Gain control over a frame in place, and its single step.
    void handle_tool_wav(char* frame, unsigned long len);
    std::int16_t agc_float(std::int16_t sample);

    unsigned long line_id() const { return line_id_.load(); }
    int product() const { return product_.load(); }
    bool closing() const { return closing_.load(); }
    bool plugged_out() const { return plug_out_flag_.load(); }
    // The debounced state (ENUM_OLVA_STATE).
    int confirmed_state() const { return confirmed_state_.load(); }
    int pending_state() const { return pending_state_.load(); }
    int agc_off() const { return agc_off_.load(); }
    // What the line last reported (ENUM_OLVA_STATE or kWaitHang, kWaitReset).
    int logical_state() const { return logical_state_.load(); }
    int ring_count() const { return ring_count_.load(); }
    int call_phase() const { return call_phase_.load(); }
    int slic_confirmed_state() const { return slic_confirmed_state_.load(); }
    int slic_pending_state() const { return slic_pending_state_.load(); }
    // The Tz2501B's earphone follows the line's soft hook (1) or not (0).
    int auto_line_earphone() const { return auto_line_earphone_.load(); }
    const LineSettings& settings() const { return settings_; }
    std::string dial_buffer() const;
    bool hash_key_seen() const { return hash_key_seen_.load(); }
    std::int64_t last_digit_time() const { return last_digit_time_.load(); }
    bool tone_playing() const { return tone_playing_.load(); }
    // An item of the box's play queue is playing on this line.
    bool playing() const { return playing_.load(); }
    void set_playing(bool on) { playing_.store(on); }
    // The detectors' settings in force (frequencies clamped, gate as energy).
    tagBusyInfo busy_tone_settings() const;
    tagBusyInfo dial_tone_settings() const;
    // "line.<id>-<product>", set by the open.
    std::string tag() const;
    std::string name() const;
    std::string app_dir() const;

protected:
    void read_settings(const std::string& ini);
    void reset_agc();
    void set_texts(const std::string& tag, const std::string& name);
    const ModelTraits& traits() const { return model_traits(product_.load()); }

    std::atomic<unsigned long> line_id_{kNoLine};
    std::atomic<int> product_{OLVA_PRODUCT_NONE};
    std::atomic<bool> closing_{false};
    std::atomic<bool> plug_out_flag_{false};  // set by a plug-out, cleared by a plug-in

    // Line state: written by the box's report and timer threads, read by
    // the API and capture threads; each one atomic.
    std::atomic<int> pending_state_{OLVA_STATE_NO_DEVICE};
    std::atomic<std::uint64_t> pending_time_{0};
    std::atomic<int> confirmed_state_{OLVA_STATE_NO_DEVICE};
    std::atomic<int> logical_state_{OLVA_STATE_NO_DEVICE};
    std::atomic<int> call_phase_{0};
    std::atomic<int> ring_count_{0};
    std::atomic<std::int64_t> ring_phase_time_{0};
    std::atomic<int> gsm_state_{kGsmStateIdle};
    std::atomic<bool> hook_off_reported_{false};
    std::atomic<bool> call_out_finished_{false};
    std::atomic<bool> dialling_{false};
    std::atomic<bool> fsk_cid_{false};
    std::atomic<bool> dtmf_cid_{false};
    std::atomic<int> dtmf_cid_silence_ms_{0};
    std::atomic<int> dtmf_cid_count_{0};
    std::atomic<int> fsk_cid_count_{0};
    std::atomic<int> tz2701_ring_count_{0};
    std::atomic<int> tz2701_digit_count_{0};

    // The Tz2501B's extension phone, each one atomic.
    std::atomic<int> slic_pending_state_{OLVA_STATE_NO_DEVICE};
    std::atomic<int> slic_confirmed_state_{OLVA_STATE_NO_DEVICE};
    std::atomic<std::int64_t> slic_keep_time_{0};
    std::atomic<int> auto_link_slic_{0};
    std::atomic<int> auto_line_earphone_{0};
    std::atomic<int> slic_ring_request_{0};
    std::atomic<int> slic_ring_request2_{0};
    std::atomic<int> cid_ring_flag_{0};

    // Shared by the state machine (timer thread) and the signal pipeline
    // and caller-ID parser (capture thread), each one atomic.
    std::atomic<bool> in_call_{false};
    // Samples examined for dial or ringback tone since the last off-hook or ring.
    std::atomic<int> dial_window_samples_{0};
    // DTMF caller ID under way: digits taken (digit mark) and the mark the
    // timer last saw.
    std::atomic<int> dtmf_cid_digit_mark_{0};
    std::atomic<int> dtmf_cid_seen_mark_{0};
    // 1 while FSK caller IDs win over DTMF ones.
    std::atomic<int> fsk_priority_{0};
    std::atomic<bool> cid_number_reported_{false};
    // The extension phone's ring cadence (Tz2501B): on flag, phase
    // (OLVA_STATE_RINGING bell on, kRingPause bell off), time in the
    // phase and its start in wall-clock seconds.
    std::atomic<bool> slic_ring_on_{false};
    std::atomic<int> slic_ring_phase_{OLVA_STATE_RINGING};
    std::atomic<int> slic_ring_phase_ms_{0};
    std::atomic<std::int64_t> slic_ring_phase_start_{0};

    // --- the line state machine's own state ---

    // One timer step's parts, in the order handle_timer runs them.
    void step_line_state(unsigned long ms);
    void confirm_line_state(int state);
    void confirm_ringing();
    void confirm_polarity_hook_off(int state);
    void step_held_state();
    void step_float_led(unsigned long ms);
    void step_dtmf_cid(unsigned long ms);
    void end_dtmf_cid();
    void step_slic_hook(unsigned long ms);
    void step_slic_ring(unsigned long ms);
    void start_slic_ring();
    // The shared part of the two polarity off-hook handlers.
    void handle_polarity_hook_off(int state);
    void empty_dial_buffer();

    // The raw state whose standing time pending_time_ counts. Only the timer
    // step writes it and pending_time_: the report decoder posts into
    // pending_state_ alone, so a new state always starts its debounce
    // from zero. Atomic because the stepping thread may change.
    std::atomic<int> debounce_state_{OLVA_STATE_NO_DEVICE};
    std::atomic<int> slic_debounce_state_{OLVA_STATE_NO_DEVICE};
    // Wall-clock second of the last accepted ring.
    std::atomic<std::int64_t> last_ring_time_{0};
    // The LED blink of a floating line.
    std::atomic<int> float_blink_ms_{0};
    std::atomic<bool> float_led_on_{false};
    // slic_number_ waits to be sent in the extension's next ring pause.
    std::atomic<bool> slic_number_pending_{false};
    // Set by the play worker while it plays a file or string.
    std::atomic<bool> playing_{false};
    // Tz2701A: the extension rings along with incoming calls (1 after every
    // open), and a tone file is being played to it.
    std::atomic<int> tz2701_slic_link_{1};
    std::atomic<bool> tone_playing_{false};
    // Held while the end of a play is taken; never while an event is raised.
    std::mutex play_mutex_;

    // The signal pipeline (line_pipeline.cpp).
    static constexpr std::size_t kMaxDialDigits = 256;  // further digits are not kept
    // Runs the frame through the detectors of this model and line.
    void detect_signals(std::int16_t* samples);
    // Busy-tone settings handed over by set_busy_info, taken up before a frame.
    void take_busy_info();
    void append_digit(char digit);
    // What a detected key does (capture thread, no lock held).
    void on_detected_key(std::int16_t code);
    // The time of the last detected digit (wall clock, seconds) and the '#'
    // flag, both atomic.
    std::atomic<std::int64_t> last_digit_time_{0};
    std::atomic<bool> hash_key_seen_{false};
    // Busy-tone settings waiting for the capture thread's next frame.
    bool busy_info_pending_ = false;    // detector_mutex_
    tagBusyInfo pending_busy_info_{};   // detector_mutex_

    // The FSK caller-ID message being received (caller_id.cpp): bytes come
    // from the capture thread, the handlers empty them on the timer thread.
    void empty_cid_bytes();
    // A new ring: empties the bytes and takes the next complete message.
    void arm_cid_message();
    std::mutex cid_mutex_;
    std::vector<std::uint8_t> cid_bytes_;  // cid_mutex_
    bool cid_message_done_ = false;        // cid_mutex_

    LineSettings settings_;

    // Gain control: gain, smoothed power and smoothed output power belong
    // to the capture thread; the open resets them while no capture runs.
    float agc_gain_ = 1.0f;
    float agc_power_ = 0.0f;
    float agc_out_power_ = 0.0f;
    float agc_[8] = {};
    std::atomic<int> agc_off_{0};

    mutable std::mutex text_mutex_;
    std::string tag_;          // text_mutex_
    std::string name_;         // text_mutex_
    std::string app_dir_;      // text_mutex_
    std::string dial_buffer_;  // text_mutex_: digits detected on the line
    std::string slic_number_;  // text_mutex_: number to send to the extension

    // The detectors: used frame by frame on the capture thread, given new
    // settings by the open and by API calls.
    mutable std::mutex detector_mutex_;
    dtmf_decoder dtmf_;        // detector_mutex_
    CToneDetect busy_tone_;    // detector_mutex_
    CToneDetect dial_tone_;    // detector_mutex_

    // --- recording to a file and streaming as event 20 (line_record.cpp) ---
public:
    // Starts recording to a file in a coder of the recording table (the
    // OLVA_CODER_ values): 0; -13 while a file recording runs; -4 without
    // a path; -12 for another coder; -1 when the file cannot be created or
    // its header written, or the MP3 encoder does not start. Backslashes
    // of the path count as slashes; the caller's text is not changed.
    int line_record_file(const char* path, int coder);
    // Starts streaming the audio as event 20 (data, byte count): 0; -13
    // while a stream runs; -12 for a coder outside the table; -1 when the
    // MP3 encoder does not start.
    int line_record_stream(int coder);
    // Ends the file recording (its WAV header rewritten with the length
    // stored) and the stream. Once it returns no event 20 of the stream
    // follows, unless it is called from that event's callback.
    void line_stop_record();
    // One frame after the signal pipeline, on the capture thread: encoded
    // once per active coder, written to the file and raised as event 20.
    void handle_write_wav(char* frame, unsigned long len);

protected:
    struct RecordCoder;
    static constexpr std::size_t kMp3BufferBytes = 147456;

    // The writers: one frame's bytes in a coder, in the line's buffer of
    // that coder. Capture thread, record mutex held.
    std::span<const std::uint8_t> handle_record_wave_to_linear(const char* frame, unsigned long len);
    std::span<const std::uint8_t> handle_record_wave_to_alaw(const char* frame, unsigned long len);
    std::span<const std::uint8_t> handle_record_wave_to_ulaw(const char* frame, unsigned long len);
    std::span<const std::uint8_t> handle_record_wave_to_mp3(const char* frame, unsigned long len);
    // A coder's writer; an exception in it is logged with the writer's own
    // line and gives no bytes. Record mutex held.
    std::span<const std::uint8_t> run_record_writer(const RecordCoder& coder, const char* frame,
                                                    unsigned long len);
    // Starts a fresh MP3 encoder: 0 or -1. Record mutex held.
    int mp3_encode_init();
    // Record mutex held.
    void write_record_file(std::span<const std::uint8_t> bytes);
    void close_record_file();
    // The gain control belongs to the capture thread: a start asks for a
    // reset, which that thread makes at its next frame.
    void apply_agc_reset_request();

    std::mutex record_mutex_;
    // The capture thread has raised a frame's event 20.
    std::condition_variable stream_raised_;
    int file_coder_ = -1;                  // record_mutex_; -1 idle
    int stream_coder_ = -1;                // record_mutex_; -1 idle
    int record_fd_ = -1;                   // record_mutex_; -1 closed
    std::string record_path_;              // record_mutex_
    WaveHeader record_header_{};           // record_mutex_
    unsigned long record_bytes_ = 0;       // record_mutex_: audio bytes after the header
    bool record_write_failed_ = false;     // record_mutex_: writing has stopped
    Mp3Encoder mp3_;                       // record_mutex_
    // record_mutex_: the thread raising a frame's event 20 while it does.
    std::thread::id stream_raiser_;
    std::atomic<bool> agc_reset_requested_{false};
    // One frame in each coder: written under record_mutex_ by the capture
    // thread only, which raises event 20 from them after releasing it.
    std::uint8_t record_linear_[kFrameBytes] = {};
    std::uint8_t record_alaw_[kFrameBytes / 2] = {};
    std::uint8_t record_ulaw_[kFrameBytes / 2] = {};
    std::uint8_t record_mp3_[kMp3BufferBytes] = {};
};

// Logs with the line's tag as the record's tag and as the format's leading
// "%s".
#define LINE_LOG(level, format, ...)                                                      \
    do {                                                                                  \
        const std::string line_log_tag_ = tag();                                          \
        logger(level, "olva ", line_log_tag_.c_str(), format,                             \
               line_log_tag_.c_str() __VA_OPT__(, ) __VA_ARGS__);                         \
    } while (0)
