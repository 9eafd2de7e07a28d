// One telephone-line box: its HID part as base class, its two lines held by
// value, its sound card with the capture thread, and the DTMF-send
// settings. The concrete class (the device manager's slot box) routes the
// events to the manager.
//
// A box ends its open life once: by a plug-out, from whichever of its
// threads notices it first, or by a close. The end stops and joins the
// box's other threads before the HID part is closed, which frees the slot.
//
// Lock order: the end mutex, then the capture mutex, then the HID part's
// locks (hid_device.h). The end mutex is held only to read or change the
// end state, never while waiting for a thread. The play mutex and the
// play queue's mutex are each held alone.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <thread>

#include "CLineDevice/CLineDevice.h"
#include "base/platform/pcm.h"
#include "gsm/gsm_state.h"
#include "gsm/line_assembler.h"
#include "gsm/received_sms.h"
#include "model/model_traits.h"
#include "olva_device/demux.h"
#include "olva_device/dtmf_send_settings.h"
#include "olva_device/playback_queue.h"
#include "usb_hid/hid_device.h"

struct Tz2401Voltage;
struct Tz2701Status;

namespace olva_test {
struct OlvaDeviceAccess;
}

class OlvaDevice : public HidDevice {
    friend struct olva_test::OlvaDeviceAccess;

public:
    // A line of this box: its hardware operations and events go to the box.
    class CBoxLineDevice : public CLineDevice {
    public:
        void set_box(OlvaDevice* box) { box_ = box; }
        // The box's switches for this line (box_line_controls.cpp); without
        // a box they keep the line's neutral answers.
        void control_ch_led(bool on) override;
        void control_led_twinkle() override;
        int control_ch_switch(bool on) override;
        int control_slic_ring(int on) override;
        bool open_hookoff_switch(bool on) override;
        bool open_Tz2501b_slic_switch(bool on) override;
        bool open_Tz2501b_playfile_switch(bool on) override;
        bool open_Tz2501b_playfile_to_slic(bool on) override;
        bool Tz2501b_close_polarity() override;
        void tz2501_close_audio_mute() override;
        void set_Tz2701_gpio(int pin, int value) override;
        void Tz2701_makecall(char* number) override;
        void Tz2701_send_cid_to_slic(char* number) override;
        void set_mic_volume(int volume) override;
        void set_speaker_volume(int volume) override;
        // Queued on the box for this line's channel.
        void play_dtmf(unsigned long line, char* digits) override;
        int line_play_file(const char* path) override;
        // Raised on the box under this line's id; a closed line raises nothing.
        void fire_event(int event, unsigned long p1, unsigned long p2, unsigned long p3,
                        unsigned long p4) override;

    private:
        OlvaDevice* box_ = nullptr;  // set once by the box's constructor
    };

    // Tries of the card search and of each PCM open, with this pause after
    // a failed try.
    static constexpr int kCardSearchTries = 15;
    static constexpr int kPcmOpenTries = 10;
    static constexpr int kRetryPauseMs = 1000;
    // A close with a mode gives running writers this long to finish.
    static constexpr int kUnplugGraceMs = 1000;
    // How long the capture thread waits for a device that read short.
    static constexpr int kCaptureWaitMs = 10000;
    // How long the play thread waits for a device that took a write short.
    static constexpr int kPlayWaitMs = 200000;
    static constexpr const char* kDefaultPcm = "default";
    // The PCM names before a box has opened.
    static constexpr const char* kNoPcmYet = "USB Audio Device";

    OlvaDevice();
    ~OlvaDevice() override;

    // Opens the box at the HID path in the slot whose id is index (the
    // device search thread). False when the HID part could not be opened:
    // event 42 is raised on line 1 and the slot is free again.
    bool olva_open(const char* path, unsigned long index, OLVA_PRODUCT model);
    // Marks the box and its lines closing: running opens and loops end early.
    void olva_closeEx();
    // Closes the box: audio and HID part. Mode 1 first marks the HID part
    // unplugged and gives writers a second. The lines stay as they are.
    void olva_close(int mode);
    // The box is gone (capture or HID read thread); runs once per open.
    void handle_plug_out() override;
    void fire_hid_event(int event, int param) override;
    virtual void fire_event(unsigned long line, int event, unsigned long p1, unsigned long p2,
                            unsigned long p3, unsigned long p4) = 0;

    // --- settings and information (box_controls.cpp) ---

    // 0, or -1 for a value out of range (nothing is then stored).
    int olva_set_send_dtmf_param(unsigned long line, int tone_time, int silence_time,
                                 float dtmf_cof, int dtmf_scale, int speaker_volume);
    DtmfSendSettings dtmf_send_settings() const;
    // The line's ENUM_OLVA_STATE, or -1 for no such line.
    int olva_get_line_state(unsigned long line);
    // Microphone (0..20) and speaker volume of the Tz2401 family: 0, -1
    // when the command failed, -5 when it threw. Other models: 0.
    int olva_set_volume(int volume);
    int olva_set_Speakervolume(int volume);
    // Not offered by any box: -1.
    int olva_play_pause(unsigned long line);
    void set_busy_info(unsigned long line, const tagBusyInfo& info);
    int olva_close_agc(unsigned long line, int off);

    // --- switches per model (box_switches.cpp) ---

    // Connects (on) or parts the line's audio channel and the box's
    // playback. 0, or -1 where the box has no way to send it.
    int control_ch_switch(unsigned long line, bool on);
    // The line's LED: no box drives it from here.
    void control_ch_led(unsigned long line, bool on);
    // Marks the line's LED for blinking (Tz2402 boxes of firmware 0x70 on).
    void control_led_twinkle(unsigned long line);
    // Rings (1) or silences (0) the extension phone: the Tz2501B's latch
    // result, the model number on boxes without an extension phone.
    int control_slic_ring(unsigned long line, int on);
    // The line's hook relay: 0, or -1 when the report failed or the model
    // has none.
    int open_hookoff_switch(unsigned long line, bool on);
    // The Tz2501B takes the line through its extension circuit: 0 or -1.
    int control_line_hookoff(unsigned long line, bool on);
    // The Tz2501B's extension switches: the last latch's result; true on
    // other models.
    bool open_Tz2501b_slic_switch(bool on);
    bool open_Tz2501b_playfile_switch(bool on);
    bool open_Tz2501b_playfile_to_slic(bool on);
    bool Tz2501b_close_polarity();
    // Soft hook of the analogue models: 0, or -1 on failure or on a model
    // without one.
    int olva_soft_hook_off(unsigned long line);
    int olva_soft_hook_on(unsigned long line);
    // Fixed answers: no box takes these, every box says yes.
    bool set_message_param(bool on);
    bool olva_open_buzzer(bool on);
    // The SPI command of the newest Tz2402 firmware: no box here has it.
    int Mod_write_spi_cmd(std::uint8_t cmd, unsigned value);
    std::uint8_t led_state() const { return led_state_.load(); }

    // --- recording (box_recording.cpp): the line's operation, -1 for no
    // such line (stopping one does nothing: 0) ---

    int olva_record_file(unsigned long line, const char* path, int coder);
    int olva_record_stream(unsigned long line, int coder);
    int olva_stop_record(unsigned long line);

    // --- status reports (status_decode.cpp), on the HID read thread ---

    // A Tz2401B input report: line states for line 1, code 19 as the
    // line's 100 ms clock, and the line voltage (event 16).
    void handle_hid_read(const std::uint8_t* data, unsigned long len) override;
    // The Tz2501B's three status bits: line and extension-phone state.
    void handle_Hid_data_Tz2501B(std::uint8_t bits) override;

    // --- line thresholds and voltage (line_thresholds.cpp) ---

    // No box reads its thresholds back: -15.
    int olva_get_hang_threshold();
    int olva_get_hookoff_threshold();
    // The Tz2401B takes a threshold of 0..255 whose two nibbles add up to
    // 16 or less: 0, -4 for another value, -1 when the report failed.
    // Other models have none: -15.
    int olva_set_hang_threshold(int value);
    int olva_set_hookoff_threshold(int value);

    // --- memory and user number (box_eeprom.cpp) ---

    // Byte read and write at a box address: 0 or -1. The Tz2401B's read is
    // served from the copy of its user number read at open; the Tz2402D
    // and Tz2501B reach their window 102..110 only; a write succeeds only
    // when every piece of it arrived.
    int olva_read_eepromEx(unsigned addr, std::uint8_t* out, int len);
    int olva_write_eeprom(unsigned addr, const std::uint8_t* data, int len);
    // The user number (len bytes, at most 17): 0, -1, or -16 when no stored
    // copy passes its check. On failure out is left as it was.
    int olva_get_usernum(std::uint8_t* out, int len);
    // Tz2401B: the first stored copy that passes its check goes to the
    // user-number area. False when none did.
    bool get_2401B_user();

    // --- timer steps (box_timer.cpp) ---

    // The 100 ms line step: the manager's timer thread for every box but
    // the Tz2401B, whose status reports run it on the HID read thread.
    void handle_timer(unsigned long ms);
    // The 20 ms step of a Tz2701A's GSM command pump and of its module's
    // start-up (gsm_session.cpp).
    void Tz2701_write_hid_cmd_timer(unsigned long ms);

    // --- the Tz2701A's GSM module (gsm_session.cpp, tz2701_routing.cpp) ---

    // The single entry of a Tz2701A input report (8 bytes, report id 3):
    // module bytes to the reply rules, status to the status decoder, the
    // rest to the pending reply slot. Called outside any USB completion
    // with no box lock held; raises events.
    void route_tz2701_report(const std::uint8_t* report, std::size_t len);
    void handle_Hid_data_Tz2701A(const std::uint8_t* data, unsigned long len) override;
    // Starts the module's start-up script; the boot wait and the script are
    // stepped by the pump, so this returns at once.
    void init_gsm(int module_type);
    // Queues the caller's AT command (without its line end): 0, -4 for a
    // text that is empty, longer than 1022 characters or carries CR or LF,
    // -1 when the queue refused it.
    int olva_send_gsm_cmd(unsigned long line, const char* cmd, int len);
    // Dials the number (digits, '*', '#' and '+' only): 1 queued, 0 refused
    // by the queue, -4 for another number.
    int Tz2701_make_call(const char* number);
    // A copy of the conversation state.
    gsm::GsmState gsm_state() const;

    // --- GSM calls and module controls (gsm_calls.cpp): 0, or -1 when the
    // command could not be queued or the model has no such control ---

    // Event 12 kinds of the GSM side: a call taken by software, the
    // earphone key.
    static constexpr int kHookOffBySoftware = 6;
    static constexpr int kHookOffByEarphone = 2;
    // Event 30 kinds: the call ended, the extension put down, the earphone key.
    static constexpr int kHookOnCall = 1;
    static constexpr int kHookOnExtension = 2;
    static constexpr int kHookOnEarphone = 3;
    // Work-mode indexes of olva_set_gsm_work_mode.
    static constexpr int kWorkModeEarphone = 0;
    static constexpr int kWorkModeSlic = 1;
    // The module leaves its SIM before it takes up the new one.
    static constexpr int kSimSwitchPauseMs = 4000;

    // Dials the number: -4 for a number of other characters than digits,
    // '*', '#' and '+'.
    int olva_makecall(unsigned long line, const char* number);
    int olva_reject_call(unsigned long line);
    // OLVA_TALK_ and OLVA_REC_ types (audio_route_types.h) on the Tz2701A and
    // the Tz2501B.
    int olva_set_talk_link(unsigned long line, int type, int enable);
    int olva_set_record_switch(unsigned long line, int type, int value);
    // Cadence -1 stops the extension's ring; any other rings it, and sends
    // it the number (when one is given) in its first ring pause.
    int olva_makecallSlic(unsigned long line, int cadence, int unused, const char* number);
    int olva_gsm_power(unsigned long line, int on);
    // Press (1) or release; the release starts the module's start-up.
    int olva_gsm_bootkey(unsigned long line, int press);
    int olva_select_simcard(unsigned long line, int sim);
    // Blocks its caller for kSimSwitchPauseMs.
    int olva_fast_select_simcard(unsigned long line, int sim);
    int olva_feed_slic_polarity(unsigned long line, int positive);
    int olva_set_gsm_work_mode(unsigned long line, int index, int value);
    // Has the module play the caller's number (its digits up to the first
    // other character; the quotes the module gives it are dropped) to the
    // extension phone as tones, over the GSM to extension path: 0, -4 for
    // a number without a leading digit, -1 when the queue refused it.
    int Tz2701_send_cid_to_slic(const char* number);

    // --- SMS (gsm_sms.cpp) ---

    // Queues the text for number as one SMS or as a concatenated series
    // (type 0: UCS2 written as hex digits; any other: UTF-8): 0; -4 for a
    // number that is not 1 to 15 digits, bad hex or a text of too many
    // parts; -1 when the SMS queue has no room. The outcome comes as
    // event 40.
    int olva_send_gsm_msg(unsigned long line, const char* number, int type, const char* text,
                          int len);
    // How received UCS2 text is reported: 0 as its hex digits, else
    // decoded. Returns 0.
    int olva_set_recv_short_msg_type(unsigned long line, int type);
    // One received PDU line: event 35 when it holds a message to show.
    gsm::ReceivedSms::Outcome pdumsg_handle(const std::string& line);

    // --- audio (audio_open.cpp, audio_capture.cpp) ---

    // Finds the box's sound card and names its capture and playback PCMs.
    bool search_audio_device();
    // Opens capture and playback and starts the capture thread. Returns 0.
    long open_audio_device();
    int olva_open_mic_audio();
    int olva_open_play_audio(const std::string& device, OLVA_PRODUCT model);
    // Hands one read block to the lines: 320 bytes of 8 kHz mono (models 3
    // and 8) or 3840 bytes of 48 kHz stereo (models 2 and 10).
    void handle_record_wave(char* data, unsigned long len);
    // Stops the capture thread (joined unless it is the caller) and closes
    // both PCMs. Returns 0.
    long close_audio_device();

    // --- playback (box_playback.cpp, playback_worker.cpp) ---

    // Queues a WAV file (8000 Hz mono A-law, µ-law or 16-bit PCM) for the
    // line: 0; -1 for no such line, no play thread, a missing file or a
    // full queue; -4 for a null path or one longer than
    // AudioPlayContent::kMaxText. The end comes as event 25, or 26 when the
    // file could not be played.
    int olva_play_file(unsigned long line, const char* path);
    // Queues digits for the line without checks (the lines' own sending).
    void play_dtmf(unsigned long line, char* digits);
    // Sends digits on the line (each echoed as event 22): 0; -1 for no
    // such line, no play thread or a full queue; -4 for null or too many
    // digits; or the channel switch's failure. The Tz2701A sends them
    // itself and queues nothing.
    int olva_send_dtmf(unsigned long line, const char* digits);
    // Ends the line's item in progress at its next chunk: 0, -1 for no
    // such line. An item of another line plays on; queued items stay.
    int olva_stop_play(unsigned long line);
    // The play thread is in its loop.
    bool play_thread_running() const { return play_active_.load(); }
    std::size_t play_queue_size() const { return play_queue_.size(); }

    std::string box_tag() const;
    std::string capture_device_name() const;
    std::string playback_device_name() const;
    // The ALSA card in use, -1 when none.
    int sound_card() const { return sound_card_.load(); }
    bool capture_running() const { return capture_active_.load(); }
    bool playback_open() const;
    // Line 1 or line 2 of the box.
    const CBoxLineDevice& line(int number) const { return number == 2 ? line2_ : line1_; }

    // One Tz2501B latch setting: {second latch, function, value}.
    struct LatchStep {
        bool second;
        int function;
        int value;
    };

protected:
    // The sound cards the other boxes use: never given to this one.
    virtual std::set<int> sound_cards_in_use() const;
    // One frame for a line; tests watch the frames here.
    virtual void handle_line_frame(CBoxLineDevice& line, char* frame, unsigned long len);
    // Stops the box's threads and closes it; the most derived destructor
    // calls it, while the event path still stands.
    void shutdown();

    CBoxLineDevice* line_by_id(unsigned long id);
    // Opens line 1, and line 2 on the models that have two.
    void open_lines(OLVA_PRODUCT model);

    // GSM glue.
    void reset_gsm_state();
    void recv_gsm_data(const std::uint8_t* bytes, std::size_t count);
    void handle_tz2701_status(const std::uint8_t* report, std::size_t len);
    void apply_gsm_actions(const gsm::Actions& actions);
    gsm::LineContext gsm_context() const;
    // The Tz2701A's soft hook: answers the ringing call, or hangs up
    // through the pump (event 30 once per call).
    int gsm_answer(unsigned long line);
    int gsm_hang_up(unsigned long line);
    void stop_extension_ring();
    // A Tz2401B voltage report: event 16 when it holds a reading
    // (status_decode.cpp).
    void take_line_voltage(const Tz2401Voltage& voltage);
    // Parts of a Tz2701A status report (tz2701_status.cpp).
    void take_sim_state(const Tz2701Status& status);
    void take_extension_hook(bool off_hook);
    void take_earphone_key(bool held);
    void poll_module(int reports);

private:
    // kOpening: the open is still setting the box up; a plug-out seen by a
    // read thread meanwhile is left for the open to carry out at its end.
    enum class EndState { kFree, kOpening, kOpen, kEnding };

    // The end of an open life: true for the one caller that runs it.
    bool claim_end();
    void finish_end();
    // The open is done: carries out a plug-out that came meanwhile.
    void finish_open();
    // Waits until no end runs on another thread.
    void wait_for_end();

    // The Tz2401B's tries at open to find a stored user number.
    static constexpr int kUserNumberAttempts = 6;
    // The Tz2402D and Tz2501B keep their memory behind the USB chip.
    bool on_usb_chip_memory() const;
    int read_eeprom_user_number(std::uint8_t* out, int len);
    // One 17-byte Tz2401B copy at addr; false unless every piece was read.
    bool read_tz2401b_copy(std::uint8_t at, std::uint8_t copy[17]);
    void read_user_number_at_open();

    // Sends a Tz2401B threshold command with the value's threshold word.
    int set_line_threshold(std::uint8_t cmd, int value, const char* what);
    void load_dtmf_send_settings();
    // Sets each latch in order, every one even after a failure (logged):
    // true when all were set.
    bool set_tz2501b_latches(std::span<const LatchStep> steps);
    // The Tz2501A's relay in its two stages. Takes the pin-sequence mutex.
    bool tz2501a_switch(bool on);
    // The Tz2402's four GPIO bytes as a 17-byte GPIO report; called with
    // switch_mutex_ held.
    bool send_tz2402_gpio();
    // Used lines: two on the two-line models, else one.
    int used_lines() const;
    bool giving_up() const { return closing_.load() || unplugged_.load(); }

    void start_capture_thread();
    void AudioRec_handle_thread_read();
    bool capture_should_run() const;
    // Stops the capture thread and joins it, unless it is the caller.
    void stop_capture_thread();
    void log_sound_device_users();

    // The play thread (playback_worker.cpp). How an item's writing ended.
    enum class PlayOutcome { kDone, kStopped, kFailed };
    void start_play_thread();
    // Stops the play thread and joins it, unless it is the caller.
    void stop_play_thread();
    void AudioPlay_handle_thread();
    bool play_should_run() const;
    void play_item(const AudioPlayContent& item, std::int16_t* buffer);
    void play_dtmf_item(CBoxLineDevice& line, const char* digits, std::int16_t* buffer);
    void play_file_item(CBoxLineDevice& line, const char* path, std::int16_t* buffer);
    PlayOutcome play_file_samples(int fd, PlayFileFormat format, unsigned channel,
                                  std::int16_t* buffer, unsigned long* played_bytes);
    // Writes frames frames of channels samples each, retrying as the
    // device asks, until all are taken, the item is stopped or it fails.
    PlayOutcome write_play_frames(const std::int16_t* frames, unsigned long count,
                                  unsigned channels);
    bool play_stopped() const { return play_stop_.load(); }
    // No item plays any more: a stop from now on waits for the next.
    void finish_play_item();
    // The switches that connect a line's audio to the box's playback; 0 or
    // the channel switch's failure.
    int switch_line_to_playback(CBoxLineDevice& line, bool dtmf);
    // Room for one more item (a full queue is logged).
    bool play_queue_has_room();
    std::unique_ptr<platform::Pcm> open_pcm(const std::string& name, platform::PcmStream stream,
                                            int* error);

    CBoxLineDevice line1_;
    CBoxLineDevice line2_;

    mutable std::mutex tag_mutex_;
    std::string box_tag_;  // tag_mutex_: "olva." and the device index

    // Audio. The PCM names belong to the open (search thread). The capture
    // PCM belongs to the capture thread while it runs; the playback PCM is
    // set by the open, written by the play thread while it runs, dropped by
    // a stop and closed by the close, the last two under play_mutex_.
    mutable std::mutex names_mutex_;
    std::string capture_name_{kNoPcmYet};   // names_mutex_
    std::string playback_name_{kNoPcmYet};  // names_mutex_
    std::atomic<int> sound_card_{-1};
    std::unique_ptr<platform::Pcm> capture_;
    std::unique_ptr<platform::Pcm> playback_;
    std::atomic<bool> capture_run_{false};
    std::mutex capture_mutex_;
    std::condition_variable capture_ended_;
    std::thread capture_thread_;           // capture_mutex_
    std::atomic<bool> capture_active_{false};  // the capture thread has not left its loop
    // Playback: the queue under its own mutex, the thread stopped by its
    // own flag, and the item in progress, which a stop ends.
    PlayQueue play_queue_;
    mutable std::mutex play_mutex_;
    std::condition_variable play_ended_;       // the play thread left its loop
    std::thread play_thread_;                  // play_mutex_
    std::atomic<bool> play_run_{false};
    std::atomic<bool> play_active_{false};     // the play thread has not left its loop
    std::atomic<unsigned long> playing_line_{0};  // written under play_mutex_; 0 none
    std::atomic<bool> play_stop_{false};       // written under play_mutex_
    // The two-line models' frames of one 20 ms block; capture thread only.
    std::int16_t demux_buffer_[2 * audio::kLineFrameSamples] = {};

    // DTMF-send settings: written by the open and by API calls, read by
    // the play worker; each one atomic.
    std::atomic<int> tone_time_{DtmfSendSettings{}.tone_time};
    std::atomic<int> silence_time_{DtmfSendSettings{}.silence_time};
    std::atomic<float> dtmf_cof_{DtmfSendSettings{}.dtmf_cof};
    std::atomic<int> dtmf_scale_{DtmfSendSettings{}.dtmf_scale};
    std::atomic<int> speaker_volume_{DtmfSendSettings{}.speaker_volume};

    // Switch shadows of the Tz2402 boxes (box_switches.cpp), changed under
    // switch_mutex_ and sent from there.
    std::mutex switch_mutex_;
    struct Tz2402Gpio {
        std::uint8_t data = 0;
        std::uint8_t data2 = 0;
        std::uint8_t dir = 0;
        std::uint8_t dir2 = 0;
    } tz2402_gpio_;                             // switch_mutex_
    std::uint8_t channel_switch_ = 0;           // switch_mutex_: bit 4 line 1, bit 0 line 2
    std::atomic<std::uint8_t> led_state_{0};    // high nibble line 1, low nibble line 2

    // The GSM conversation. The pump (timer thread), the router (worker)
    // and library calls share it; held only while a pure step decides.
    mutable std::mutex gsm_mutex_;
    gsm::GsmState gsm_;               // gsm_mutex_
    gsm::LineAssembler assembler_;    // the routing thread only (reset by the open)
    std::atomic<int> tz2701_status_reports_{0};
    // Work modes: the extension phone and the earphone link themselves.
    std::atomic<bool> auto_link_slic_{false};
    std::atomic<bool> auto_link_earphone_{false};
    // Set by the Tz2701A status decoder.
    std::atomic<bool> extension_off_hook_{false};
    // The SIM slots the status reports show present (module type 0).
    std::atomic<bool> sim1_present_{false};
    std::atomic<bool> sim2_present_{false};
    // The earphone key acts once per press: armed by a report without it.
    std::atomic<bool> earphone_key_armed_{false};
    // The pump hangs up at its next step.
    std::atomic<bool> hang_up_requested_{false};

    // The next SMS's reference; the delivery type of received UCS2 text.
    std::atomic<std::uint8_t> sms_reference_{0};
    std::atomic<int> recv_msg_type_{1};

    std::mutex end_mutex_;
    std::condition_variable end_done_;
    EndState end_state_ = EndState::kFree;  // end_mutex_
    bool plug_out_pending_ = false;         // end_mutex_
};

// Logs with the box's tag as the record's tag and as the format's leading
// "%s".
#define BOX_LOG(level, format, ...)                                                       \
    do {                                                                                  \
        const std::string box_log_tag_ = box_tag();                                       \
        logger(level, "olva ", box_log_tag_.c_str(), format,                              \
               box_log_tag_.c_str() __VA_OPT__(, ) __VA_ARGS__);                          \
    } while (0)
