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
#include <string>
#include <thread>

#include "CLineDevice/CLineDevice.h"
#include "olva_device/demux.h"
#include "olva_device/dtmf_send_settings.h"
#include "olva_device/playback_queue.h"
#include "platform/pcm.h"
#include "usb_hid/hid_device.h"

class OlvaDevice : public HidDevice {
public:
    // A line of this box: its hardware operations and events go to the box.
    class CBoxLineDevice : public CLineDevice {
    public:
        void set_box(OlvaDevice* box) { box_ = box; }
        void set_mic_volume(int volume) override;
        void set_speaker_volume(int volume) override;
        // Queued on the box for this line's channel.
        void play_dtmf(unsigned long line, char* digits) override;
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

    // --- timer steps (box_timer.cpp) ---

    // The 100 ms line step: the manager's timer thread for every box but
    // the Tz2401B, whose status reports run it on the HID read thread.
    void handle_timer(unsigned long ms);
    // The 20 ms step of a Tz2701A's GSM command pump.
    void Tz2701_write_hid_cmd_timer(unsigned long ms);

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

protected:
    // The sound cards the other boxes use: never given to this one.
    virtual std::set<int> sound_cards_in_use() const;
    // One frame for a line; tests watch the frames here.
    virtual void handle_line_frame(CBoxLineDevice& line, char* frame, unsigned long len);
    // Stops the box's threads and closes it; the most derived destructor
    // calls it, while the event path still stands.
    void shutdown();

    CBoxLineDevice* line_by_id(unsigned long id);

private:
    enum class EndState { kFree, kOpen, kEnding };

    // The end of an open life: true for the one caller that runs it.
    bool claim_end();
    void finish_end();
    // Waits until no end runs on another thread.
    void wait_for_end();

    // Sends a Tz2401B threshold command with the value's threshold word.
    int set_line_threshold(std::uint8_t cmd, int value, const char* what);
    void load_dtmf_send_settings();
    void set_tz2501b_start_latches();
    void open_lines(OLVA_PRODUCT model);
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

    std::mutex end_mutex_;
    std::condition_variable end_done_;
    EndState end_state_ = EndState::kFree;  // end_mutex_
};

// Logs with the box's tag as the record's tag and as the format's leading
// "%s".
#define BOX_LOG(level, format, ...)                                                       \
    do {                                                                                  \
        const std::string box_log_tag_ = box_tag();                                       \
        logger(level, "olva ", box_log_tag_.c_str(), format,                              \
               box_log_tag_.c_str() __VA_OPT__(, ) __VA_ARGS__);                          \
    } while (0)
