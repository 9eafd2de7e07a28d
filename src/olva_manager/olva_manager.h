// The device manager behind the library interface: two box slots, the
// search thread that finds boxes on the USB bus once a second and opens
// them in a free slot, the 20 ms timer thread that steps the boxes, the
// event path from a box's line to the one user callback, and the
// forwarders from line handles to boxes.
//
// A line handle is (slot id << 8) | line id; slot ids are 1 and 2. A slot
// is free while its box's device index is -1.
//
// Tests drive the manager by hand instead of its threads: use_manual_drive
// before the open, then search_pass() and timer_tick().
#pragma once

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "model/olva_types.h"
#include "olva_device/olva_device.h"
#include "olva_manager/stop_signal.h"

// One HID interface on the bus; its path "%04x:%04x:%02x" of bus, device
// address and interface number is the form the HID open takes.
struct hid_device_info {
    std::string path;
    unsigned short vendor_id = 0;
    unsigned short product_id = 0;
    int interface_number = 0;
};

// The HID interfaces (every alternate setting) of the devices on the bus,
// of the given vendor and product when they are not 0. *error, when given,
// is 0 or the libusb error that kept the bus from being read.
std::vector<hid_device_info> hid_enumerate(unsigned short vendor, unsigned short product,
                                           int* error = nullptr);

// The model that discovery gives a device, or OLVA_PRODUCT_NONE.
OLVA_PRODUCT discovered_product(unsigned short vendor, unsigned short product);

class OlvaManager {
public:
    // The box of a slot: events go to the manager under the slot's handles.
    class CUsbBoxDevice final : public OlvaDevice {
    public:
        CUsbBoxDevice() = default;
        ~CUsbBoxDevice() override;

        void set_owner(OlvaManager* owner, int slot_id);
        int slot_id() const { return slot_id_; }
        void fire_event(unsigned long line, int event, unsigned long p1, unsigned long p2,
                        unsigned long p3, unsigned long p4) override;

    protected:
        std::set<int> sound_cards_in_use() const override;

    private:
        std::atomic<OlvaManager*> owner_{nullptr};
        int slot_id_ = 0;  // set once by the manager's constructor
    };

    // What one timer tick did, one bit per slot (bit 0 slot 1).
    struct TimerTick {
        unsigned line_steps = 0;  // boxes given their 100 ms line step
        unsigned gsm_steps = 0;   // boxes given their 20 ms GSM pump step
    };

    static constexpr int kSearchPeriodMs = 1000;
    static constexpr int kTimerPeriodMs = 20;
    static constexpr int kLineStepMs = 100;

    OlvaManager();
    virtual ~OlvaManager();
    OlvaManager(const OlvaManager&) = delete;
    OlvaManager& operator=(const OlvaManager&) = delete;

    // Without threads: the caller drives search_pass() and timer_tick().
    // Process-wide; set before olva_open.
    static void use_manual_drive(bool manual);

    // Stores the callback and starts the search and timer threads. Returns 0.
    long olva_open(olva_event_callback callback);
    // Stops and joins the threads, drops the callback and closes both boxes.
    void olva_close(int mode);

    // One pass of the search thread: ends each open box whose device is no
    // longer on the bus, then opens the boxes found. Returns the number of
    // boxes opened.
    int search_pass();
    // One 20 ms tick of the timer thread.
    TimerTick timer_tick();

    // Opens a found box in the first free slot: 1 when it opened it.
    virtual int handle_found_hid_device(const char* path, OLVA_PRODUCT product);
    bool device_is_opened(const char* path) const;
    // Ends, as pulled out, each open box whose path is not among nodes.
    void end_boxes_gone(const std::vector<hid_device_info>& nodes);

    // Passes an event to the callback, when one is registered.
    void fire_event(unsigned long handle, int event, unsigned long p1, unsigned long p2,
                    unsigned long p3, unsigned long p4);
    // The sound cards of the open boxes other than the slot's.
    std::set<int> sound_cards_except(int slot_id) const;

    const CUsbBoxDevice& slot(int slot_id) const { return slot_id == 2 ? box2_ : box1_; }
    bool threads_running() const;

    // --- forwarders: -3 for handle -1, -2 when no box has it, -5 for an
    // exception (forwarders.cpp); a call that only some products offer
    // gives -1 for a bad handle as for another product ---

    int olva_check_coder(int coder);
    int olva_get_line_state(unsigned long handle);
    int olva_set_volume(unsigned long handle, unsigned volume);
    int olva_set_Speakervolume(unsigned long handle, int volume);
    int olva_play_pause(unsigned long handle);
    int olva_get_device_versionnum(unsigned long handle, float& version);
    // The box's OLVA_PRODUCT value.
    int olva_get_product_name(unsigned long handle);
    int olva_set_send_dtmf_param(unsigned long handle, int tone_time, int silence_time,
                                 float dtmf_cof, int dtmf_scale, int speaker_volume);
    int olva_close_agc(unsigned long handle, int off);
    int olva_record_file(unsigned long handle, const char* path, int coder);
    // -6 in work mode 2.
    int olva_record_stream(unsigned long handle, int coder);
    int olva_stop_record(unsigned long handle);
    int olva_send_dtmf(unsigned long handle, const char* digits);
    int olva_play_file(unsigned long handle, const char* path);
    int olva_stop_play(unsigned long handle);
    int olva_set_busy_info(unsigned long handle, const tagBusyInfo& info);
    // A Tz2401B's thresholds are not read back in this work mode: -6.
    int olva_get_hang_threshold(unsigned long handle);
    int olva_get_hookoff_threshold(unsigned long handle);
    int olva_set_hang_threshold(unsigned long handle, unsigned value);
    int olva_set_hookoff_threshold(unsigned long handle, unsigned value);
    // Voltage reports (event 16) are offered by the Tz2401B only: the start
    // gives -1 on other models; the stop always 0.
    int olva_start_read_line_voltage(unsigned long handle);
    int olva_stop_read_line_voltage(unsigned long handle);
    int olva_soft_hook_off(unsigned long handle);
    int olva_soft_hook_on(unsigned long handle);
    // 0 when the box takes the setting, else -1.
    int olva_set_message_param(unsigned long handle, bool on);
    int olva_open_buzzer(unsigned long handle, bool on);
    // The box's memory at a box address (the library maps the caller's).
    int olva_read_eeprom(unsigned long handle, unsigned addr, unsigned char* data, int len);
    int olva_write_eeprom(unsigned long handle, unsigned addr, const unsigned char* data, int len);
    int olva_get_usernum(unsigned long handle, unsigned char* data, int len);
    // An AT command for a Tz2701A's module (-1 on other models and bad
    // handles).
    int olva_send_gsm_cmd(unsigned long handle, const char* cmd, int len);
    // SMS on a Tz2701A (-1 on other models and bad handles;
    // sms_forwarders.cpp).
    int olva_send_gsm_msg(unsigned long handle, int type, const char* number, const char* text,
                          int len);
    int olva_set_recv_short_msg_type(unsigned long handle, int type);

    // --- GSM calls, module controls and the extension phone
    // (gsm_forwarders.cpp): the box's operation, -1 on a product without it
    // and for a bad handle ---
    int olva_makecall(unsigned long handle, const char* number);
    int olva_reject_call(unsigned long handle);
    int olva_set_talk_link(unsigned long handle, int type, int on);
    int olva_set_record_switch(unsigned long handle, int type, int on);
    int olva_makecallSlic(unsigned long handle, int a, int b, const char* number);
    int olva_gsm_power(unsigned long handle, unsigned on);
    int olva_gsm_bootkey(unsigned long handle, unsigned on);
    int olva_select_simcard(unsigned long handle, unsigned sim);
    int olva_fast_select_simcard(unsigned long handle, unsigned sim);
    int olva_feed_slic_polarity(unsigned long handle, int polarity);
    int olva_set_gsm_work_mode(unsigned long handle, int index, int value);

private:
    template <class Operation>
    int with_box(unsigned long handle, Operation operation);
    // with_box for a call that only some products offer (the column
    // offers of their model traits): the handle's product is asked first,
    // so a bad handle fails the gate too (-1).
    template <class Operation>
    int with_offering_box(unsigned long handle, bool ModelTraits::*offers, Operation operation);
    // The threshold getter of the handle's box, after the work-mode gate.
    template <class Getter>
    int threshold_getter(unsigned long handle, Getter getter);
    CUsbBoxDevice* box_of(unsigned long handle);
    CUsbBoxDevice& slot_box(int slot_id) { return slot_id == 2 ? box2_ : box1_; }

    // Runs step every period until the stop signal; a pass that throws is
    // logged with the failed format, given the routine's name and the
    // exception's text.
    template <class Step>
    void run_every(const char* routine, const char* failed, int period_ms, Step step);
    void handle_thread_search();
    void handle_thread_simulative_timer();
    void stop_threads();

    const int work_mode_ = 0;
    CUsbBoxDevice box1_;
    CUsbBoxDevice box2_;
    std::atomic<olva_event_callback> callback_{nullptr};
    std::thread search_thread_;  // started and joined by open and close
    std::thread timer_thread_;   // started and joined by open and close
    StopSignal stop_;            // tells both threads to end
    int timer_ms_ = 0;           // the timer thread (or the manual drive) only
};

// The one manager; null before olva_open and after olva_close.
extern OlvaManager* g_pOlvaMgr;
