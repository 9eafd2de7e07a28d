// The USB HID side of one box: opening its HID interface by path, output
// reports, synchronous reads (GET_REPORT, or waiting for the next interrupt
// report), the HID read thread that hands reports to the virtual handlers,
// identification, and each model's command set.
//
// Lock order inside a box (a lock may be taken while holding those above it):
//   command mutex (CommandLock), pin-sequence mutex
//   GET_REPORT channel mutex
//   record mutex
//   queue mutex
// No handler runs under any of them: the completion queues each report for
// the report worker (report_worker.h), which runs the handlers.
// A holder of the command mutex may wait for a box's answer, which only the
// read thread's event handling reaps; so the read thread never waits for
// the command mutex (its status request is left to the holder instead).
// The GPIO mutex is held for one report only and never with another. The
// close mutex and the use mutex are held only to read or change their state.
// A record use never blocks (it is refused once the close has begun); the
// close waits for the uses to end while holding no lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <latch>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gsm/gsm_state.h"
#include "gsm/hid_cmd_op.h"
#include "model/model_traits.h"
#include "model/olva_product.h"
#include "usb_hid/report_worker.h"
#include "usb_hid/tz2401_report.h"
#include "usb_hid/tz2701_bridge_reports.h"
#include "usb_hid/usb_backend.h"

// An interrupt report kept for a synchronous reader.
struct hid_input_report {
    std::vector<std::uint8_t> data;
    std::uint64_t number = 0;  // counts the reports of a record from 1
};

// The open HID interface of one box (new_hid_device, free_hid_device).
struct hid_device_ {
    std::unique_ptr<usb::DeviceHandle> handle;  // null once closed
    int input_endpoint = 0;                     // first interrupt IN endpoint, 0 if none
    int output_endpoint = 0;                    // first interrupt OUT endpoint, 0 if none
    int input_packet_size = 0;
    int interface = 0;                          // the claimed interface
    std::atomic<int> blocking{1};               // 1 sync mode, 0 event mode
    std::latch started{1};                      // the read thread's transfer runs, or it gave up
    std::atomic<bool> shutdown_thread{false};   // tells the read thread to stop
    std::atomic<bool> cancelled{false};         // the transfer was cancelled or is dead
    std::atomic<bool> no_device{false};         // the transfer ended because the box is gone
    std::atomic<bool> closing{false};           // hid_close has begun: no new uses
    std::atomic<bool> loop_ended{false};        // the read loop has ended: no resubmission

    // Guards the members below.
    std::mutex mutex;
    std::condition_variable condition;  // a report arrived, or the stream ended
    std::unique_ptr<usb::InterruptInTransfer> transfer;  // the read thread's, null if none
    bool pending_primed = false;        // an interrupt read runs for synchronous readers
    std::deque<hid_input_report> pending;
    std::uint64_t report_count = 0;     // reports put into pending so far
};

hid_device_* new_hid_device();
void free_hid_device(hid_device_* dev);
int hid_set_nonblocking(hid_device_* dev, int nonblock);

namespace olva_test {
struct HidDeviceAccess;
}

class HidDevice {
    friend struct olva_test::HidDeviceAccess;

public:
    HidDevice();
    // Closes the box. A derived class whose handlers use its own members
    // calls hidClose() in its destructor, before those members go.
    virtual ~HidDevice();
    HidDevice(const HidDevice&) = delete;
    HidDevice& operator=(const HidDevice&) = delete;

    // Handlers of the box's reports. The Tz2401 family's run on the report
    // worker, the Tz2501B's on its status poll; no transport lock is held,
    // so they may send reports and raise events.
    virtual void handle_hid_read(const std::uint8_t* data, unsigned long len);
    virtual void handle_Hid_data_Tz2402D(std::uint8_t status);
    virtual void handle_Hid_data_Tz2501B(std::uint8_t bits);
    virtual void handle_Hid_data_Tz2701A(const std::uint8_t* data, unsigned long len);
    // The box is gone (read thread, after the unplugged flag was set).
    virtual void handle_plug_out();
    virtual void fire_hid_event(int event, int param);
    virtual void stop_read_line_voltage();
    virtual void start_read_line_voltage();

    // --- opening and closing (hid_device.cpp, identify_open.cpp) ---

    // The directory that holds "olva.ini"; set by the owner before hid_open.
    void set_app_dir(const std::string& dir);
    // Opens the box at path ("%04x:%04x:%02x" of bus, address and HID
    // interface) in slot index as model product, starts the read thread of
    // the Tz2401 family and identifies the box. False: not opened.
    bool hid_open(const char* path, unsigned long index, OLVA_PRODUCT product);
    // Switches an identified box to its running mode (after its lines open).
    void create_thread();
    // Closes the record and stops and joins the read thread (not when called
    // on the read thread itself; that one is joined by the next close, open
    // or the destructor). Harmless when closed.
    void hidClose();
    // Marks the box closing: writers that test the flag send nothing.
    void hid_closeEx();

    // --- reports (hid_io.cpp) ---

    bool sync_write(const std::uint8_t* data, unsigned long len);
    // GET_REPORT of exactly len bytes (input report, id 0). When the
    // transfer failed, its libusb error goes to *error (if given).
    bool sync_read(std::uint8_t* data, unsigned long len, int* error = nullptr);
    int olva_get_device_versionnum(float& version);

    // --- Tz2401 family command reports (tz2401_commands.cpp) ---

    bool Tz2401_write_cmd(std::uint8_t id, std::uint8_t cmd, std::uint8_t p1, std::uint8_t p2);
    bool Tz2401_sync_write(const std::uint8_t* data, unsigned long len);
    long Tz2401_sync_read(std::uint8_t* buf, unsigned long len);
    bool Tz2401_read_param(std::uint8_t& out, std::uint8_t id, std::uint8_t cmd, std::uint8_t p1,
                           std::uint8_t p2);
    bool read_paramex(std::uint8_t* out, std::uint8_t id, std::uint8_t cmd, std::uint8_t p1,
                      std::uint8_t p2);

    // --- register, GPIO and latch reports (register_gpio.cpp) ---

    bool write_cmd(std::uint8_t cmd, const std::uint8_t* data, int len);
    bool Set_GPIO(std::uint8_t p0, std::uint8_t p1, std::uint8_t p2, std::uint8_t p3);
    bool Set_GPIO(std::uint8_t data, std::uint8_t dir);
    bool Tz2402D_Reg_Setting(std::uint16_t reg, std::uint8_t value);
    bool Tz2402D_Reg_Read(std::uint16_t reg, std::uint8_t& out);
    bool Tz2402D_Set_GPIO(std::uint8_t g1, std::uint8_t g2);
    bool Tz2501B_Set_GPIO(std::uint8_t g1, std::uint8_t g3, std::uint8_t g2);
    bool Tz2402D_GPIO_init(int on);
    bool Tz2501B_GPIO_init();
    bool Tz2402D_Restore_read_gpioaddr();
    void Tz2501B_Restore_read_gpioaddr();
    bool Tz2501_close_mute();
    bool Tz2501B_function_setting(int func, int val);
    bool Tz2501B_function2_setting(int func, int val);

    // --- I2C buses and serial EEPROMs (i2c_eeprom.cpp, i2c_bitbang.cpp) ---

    int eeprom_write(std::uint8_t addr, const std::uint8_t* data, int len);
    bool eeprom_read(std::uint8_t addr, std::uint8_t* out, int len);
    bool I2CSend_bytes(std::uint8_t addr, const std::uint8_t* data, unsigned long len);
    bool I2CRecv_seqbytes(std::uint8_t addr, std::uint8_t* out, unsigned long len);
    bool I2CStart();
    bool I2CStop();
    bool I2C_Send8bit(std::uint8_t byte);
    bool I2C_Recv8bit(std::uint8_t& out);
    bool I2CRevAck();
    bool I2CSendAck();
    bool I2C_Clock();
    bool Tz2402D_Write_2402(std::uint8_t addr, const std::uint8_t* data, int len);
    bool Tz2402D_Read_2402(std::uint8_t addr, std::uint8_t* out, int len);
    // One byte over the Tz2501A's bus: a whole write transaction, or a
    // random read.
    bool I2CSend_byte(std::uint8_t addr, std::uint8_t byte);
    bool I2CRecv_byte(std::uint8_t addr, std::uint8_t& out);
    // Word-wise access [0, 0x80, low, high, command] of the lower 128 bytes
    // (eeprom_words.cpp). True when every word went through.
    bool readEepromex(std::uint8_t addr, std::uint8_t* out, unsigned long len);
    bool writeEepromex(std::uint8_t addr, const std::uint8_t* data, unsigned long len);

    // --- maintenance reports (maintenance_reports.cpp) ---

    // 17-byte boxes: switches GET_REPORT to answer code, then reads len bytes.
    bool read_param(std::uint8_t code, std::uint8_t* out, int len);
    void init_ledState();
    bool Tz2402D_GPIO_read();
    // The cm6308 codec's microphone gain on the 17-byte boxes.
    void cm6308_set_micvolume(int micvolume);
    // Tz2701A: the buzzer query (1 when the query went out) and the bridge's
    // echo test (the result of its test message).
    int Tz2701_get_buzzer();
    int Tz2701_echo_test();

    // --- Tz2701A controller memory (tz2701_eeprom.cpp) ---

    // Up to 4 bytes at device hi, offset lo: 1 when read, else 0.
    int Tz2701_read_eeprom(std::uint8_t hi, std::uint8_t lo, std::uint8_t* dst, int len);
    // Up to 4 bytes; a shorter piece keeps the stored bytes beside it.
    bool Tz2701_write_eeprom(std::uint8_t dev, std::uint8_t addr, const std::uint8_t* data,
                             int len);
    void Tz2701_erase_eeprom(std::uint8_t unit);

    // --- stored user number (stored_user_number.cpp) ---

    static constexpr int kUserNumberSize = 16;
    static constexpr int kUserAreaSize = 128;
    // Tz2701A: the first of the three guarded copies that passes its check
    // goes to the user-number area. False: none did, the area is cleared.
    bool Tz2701_read_user();
    // Tz2701A: Tz2701_read_user on the report worker, so that the timer
    // thread that asks for it is not held up by the box's answers. False
    // when the worker takes no task (stopped, or enough waiting).
    bool Tz2701_read_user_on_worker();
    // Tz2701A: writes the three copies; true when at least one was written
    // whole.
    bool Tz2701_write_user(const std::uint8_t* data, int len);
    // Tz2402D and Tz2501B: the 16 bytes behind the USB chip (device 0x52).
    bool Tz2402D_ReadUser(std::uint8_t* out);
    bool Tz2402D_WriteUser(const std::uint8_t* data);
    // The user-number area: what a box read at open.
    bool user_number_valid() const;
    // Copies len bytes at addr of the area; false when no valid number is
    // kept or the range leaves the area.
    bool read_user_area(unsigned addr, std::uint8_t* out, int len) const;

    // --- Tz2701A (tz2701_setup.cpp) ---

    // The status request of the read loop; its answer reaches
    // handle_Hid_data_Tz2701A. Never waits for the command mutex: while a
    // command holds it the request is owed, and the holder sends it when its
    // command is done. Returns 0.
    int Tz2701_read_state();
    // The SIM slot the type reply names (bytes 3 to 5 of it).
    void set_simcard_state(std::uint8_t standalone, std::uint8_t sim_a, std::uint8_t sim_b);

    // --- Tz2701A bridge (tz2701_bridge.cpp): 1 sent, 0 not ---

    // Refused unless the box is an open Tz2701A; 3 tries.
    int Tz2701_i2c_one_cycle_write(std::uint8_t a1, std::uint8_t a2, std::uint8_t a3,
                                   std::uint8_t a4, std::uint8_t a5, std::uint8_t a6);
    // Each half sent once more when it fails.
    int Tz2701_i2c_two_cycle_write(std::uint8_t v,
                                   const std::uint8_t payload[tz2701::kMessageSize]);
    int Tz2701_i2c_write_read(std::uint8_t sub, std::uint8_t x1, std::uint8_t x2, std::uint8_t x3,
                              std::uint8_t x4);
    // A message in 6-byte chunks under the command mutex (the pump's path).
    int Tz2701_Send_HidCmd(const std::uint8_t* data, int len);
    // A message in 4-byte chunks at once, past the queues.
    int Tz2701_Send_MsgToGsm_noqueue(const std::uint8_t* data, int len);
    // "ATH\r" to the module at once.
    int Tz2701_hangup();

    // --- Tz2701A queues (tz2701_queue.cpp): 1 queued, 0 refused ---

    // Limits of the queues; a full queue refuses the new entry.
    static constexpr std::size_t kMaxQueuedCommands = 256;
    static constexpr std::size_t kMaxQueuedSmsParts = 64;

    // Mode 0 a device command, 1 an AT text that awaits its reply, 2 the
    // same marked as waited for. At most 1024 bytes.
    int Tz2701_Send_MsgToGsm(const std::uint8_t* data, int len, int mode);
    int Tz2701_Send_at(const std::string& text);
    // One SMS part's PDU hex text (at most 1023 bytes); the first argument
    // is not used.
    int Tz2701_Send_shortMsg(int unused, int index, int count, const char* pdu, int len);
    // The PDUs of one whole message, in order, all or none: a message is
    // never queued without some of its parts.
    int Tz2701_Send_shortMsgParts(int index, const std::vector<std::string>& pdus);
    // A device command: one byte (argument -1) or code and argument.
    int Tz2701_device_cmd(std::uint8_t code, int argument);
    int Tz2701_answer();
    int Tz2701_reject_callin();
    int Tz2701_getsignalsize();
    int Tz2701_getsimreg();
    // The module plays DTMF keys (0-9, *, #, A-D) to the far end; other
    // characters are refused.
    int Tz2701_send_dtmf(const char* digits);
    // code: one of the talk paths (gsm/device_commands.h).
    int Tz2701_set_talk_path(std::uint8_t code, int on);
    int Tz2701_set_Gsm_SignalStrength(int rssi);
    int Tz2701_Slic_Ring(int on);
    // Module controls: the SIM slot (0 or 1), power on (1) or off, the
    // power key pressed (1) or released, the extension line's polarity
    // positive (1) or negative, and the box back in USB mode.
    int Tz2701_SIMSelect(int slot);
    int Tz2701_set_GsmPower(int on);
    int Tz2701_set_GsmPower_PressKey(int press);
    int Tz2701_feed_slic(int positive);
    int Tz2701_set_Gsm_usb_mode();
    // A GPIO setting as a raw report; an open Tz2701A only.
    int Tz2701_gpio_set(int gpio, int value);
    // The buzzer (on, then five bytes of its setting) as a raw report; an
    // open Tz2701A only.
    int Tz2701_control_buzzer(std::uint8_t on, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3,
                              std::uint8_t b4, std::uint8_t b5);
    std::unique_ptr<hid_cmd_op> take_command();
    std::unique_ptr<hid_cmd_op> take_sms();
    // The parts of message index still queued go; other messages stay.
    void drop_sms_parts(int index);
    std::size_t queued_sms_parts() const;
    void clear_queues();
    std::size_t queued_commands() const;

    // --- state ---

    bool is_open() const;
    long device_index() const { return device_index_.load(); }
    std::string tag() const;
    std::string path() const;
    int model() const { return model_.load(); }
    std::uint8_t version1() const { return version1_.load(); }
    std::uint8_t version2() const { return version2_.load(); }
    std::uint8_t device_type() const { return device_type_.load(); }
    bool line_voltage_reading() const { return line_voltage_reading_.load(); }
    // True from the start of the read thread's routine until it returns.
    bool read_thread_active() const { return read_thread_active_.load(); }

    // The GSM module's audio levels on a Tz2701A. A constant: any thread
    // reads them without a lock.
    using GsmLevels = gsm::Levels;
    static constexpr GsmLevels kTz2701GsmLevels = {
        .speaker_2g = 40,
        .mic_2g = 5,
        .tone_detection = 1,
        .speaker_4g = 3,
        .mic_gain_4g = {8000, 8000},
        .speaker_ec200 = 4,
        .mic_gain_ec200 = {35000, 35000},
    };
    // The working SIM slot, 0 or 1; -1 while unset.
    int active_sim() const { return active_sim_.load(); }

protected:
    // A use of the open record: while one lasts, the record is not freed.
    class RecordUse {
    public:
        explicit RecordUse(const HidDevice& box);
        ~RecordUse();
        RecordUse(const RecordUse&) = delete;
        RecordUse& operator=(const RecordUse&) = delete;
        hid_device_* get() const { return dev_; }
        explicit operator bool() const { return dev_ != nullptr; }

    private:
        const HidDevice& box_;
        hid_device_* dev_;
    };

    // The synchronous-read reply time-out of the Tz2401 family.
    static constexpr int kReplyTimeoutMs = 1000;

    // The command mutex for one command report, message or request/reply
    // pair. A Tz2701A status request that fell due meanwhile goes out
    // before the mutex is let go.
    class CommandLock {
    public:
        explicit CommandLock(HidDevice& box) : box_(box), lock_(box.cmd_mutex_) {}
        ~CommandLock() { box_.send_owed_status_request(); }
        CommandLock(const CommandLock&) = delete;
        CommandLock& operator=(const CommandLock&) = delete;

    private:
        HidDevice& box_;
        std::lock_guard<std::mutex> lock_;
    };

    // Formats one log record with this box's tag (module "olva ").
    void hid_log(int level, const char* format, ...) const __attribute__((format(printf, 3, 4)));

    // Record operations (hid_device.cpp, hid_io.cpp). The caller holds a
    // RecordUse.
    hid_device_* hid_open_path(const char* path);
    int hid_write(hid_device_* dev, const std::uint8_t* data, unsigned long len);
    // Marks the point after which a synchronous reader takes reports.
    std::uint64_t hid_arm_read(hid_device_* dev);
    // The first report after the arm token (at most len bytes copied):
    // bytes, 0 on time-out, -1 when no stream runs or it ended.
    int hid_read_timeout(hid_device_* dev, std::uint64_t token, std::uint8_t* data,
                         unsigned long len, int ms);
    // The same, armed at the call.
    int hid_read_timeout(hid_device_* dev, std::uint8_t* data, unsigned long len, int ms);
    void readHid_callback(hid_device_* dev, usb::TransferStatus status, const std::uint8_t* data,
                          int length);
    // The interrupt stream has ended for good: with device_gone the read
    // loop ends the box as pulled out, otherwise it stops as on a close.
    void end_stream(hid_device_* dev, bool device_gone);
    // Keeps a report for a synchronous reader (the record mutex held).
    void push_pending_locked(hid_device_* dev, const std::uint8_t* data, std::size_t len);
    void read_callback(hid_device_* dev, usb::TransferStatus status, const std::uint8_t* data,
                       int length);
    // One report on the report worker: to the model's handler.
    void dispatch_report(const std::uint8_t* data, unsigned long len);
    void hid_close(hid_device_* dev);
    // GET_REPORT (input report, id 0): bytes read or a libusb error.
    int get_report(std::uint8_t* data, unsigned long len);
    // Logs a failed GET_REPORT (and clears a stall); raise_event also
    // raises the USB error event for errors other than stall and time-out.
    void log_get_report_error(const char* routine, int result, bool raise_event);
    // Sets sync (0) or event (1) mode of the open record.
    void set_nonblocking(int nonblock);

    // Identification (identify_open.cpp).
    bool hid_handle_open();
    bool Tz2401_identify();
    void Tz2401_load_thresholds();
    bool Tz2501B_check_eeprom();
    // An "olva.ini" integer of section "device"; a missing key is written
    // back with its default.
    int read_device_setting(const char* key, int default_value);
    // The Tz2701A set-up after identification (tz2701_setup.cpp).
    void Tz2701_setup();
    // The bridge's status request and its type reply, in sync mode.
    bool Tz2701_read_type(std::uint8_t reply[tz2401::kReportSize]);
    bool Tz2701_may_write() const;
    // The status request, if one is owed (the command mutex held).
    void send_owed_status_request();
    bool has_tz2701_bridge() const
    {
        return model_traits(model_.load()).input == InputReports::kTz2701Bridge;
    }
    int push_entry(std::unique_ptr<hid_cmd_op> entry, bool sms);
    // One raw report on the command queue; an open Tz2701A only.
    int Tz2701_push_raw(const std::uint8_t (&report)[tz2401::kReportSize]);

    // Read threads (hid_read_threads.cpp).
    // Starts the read thread: the event loop of the Tz2401 family, or the
    // Tz2501B status poll. False when no thread could be started.
    bool start_read_thread(hid_device_* dev, bool event_loop);
    void HidReadThread(hid_device_* dev, bool event_loop);
    void Tz2701_handle_thread_read(hid_device_* dev);
    void Tz2501B_handle_thread_read();
    // True while the record is open and its close has not begun.
    bool record_usable() const;
    // Joins a started read thread, unless it is the caller's own.
    void join_read_thread();

    // A request report of the Tz2401 family and the first report after it:
    // bytes, 0 on time-out, -1 when no stream runs, kRequestNotSent when
    // the request could not be written.
    static constexpr long kRequestNotSent = -2;
    long Tz2401_request(std::uint8_t id, std::uint8_t cmd, std::uint8_t p1, std::uint8_t p2,
                        std::uint8_t* reply, unsigned long len);
    // Tz2401_request with an 8-byte reply; a missing reply is logged for
    // routine. True when a reply came.
    bool Tz2401_exchange(std::uint8_t id, std::uint8_t cmd, std::uint8_t p1, std::uint8_t p2,
                         std::uint8_t reply[tz2401::kReportSize], const char* routine);

    // Tz2701A: the first answer to a request after token, skipping GSM bytes
    // and status reports (tz2701_bridge.cpp). Bytes, 0 on time-out,
    // -1 when no stream runs.
    int Tz2701_read_reply(hid_device_* dev, std::uint64_t token,
                          std::uint8_t reply[tz2401::kReportSize]);

    // Pin helpers (register_gpio.cpp, i2c_bitbang.cpp).
    bool send_register_address(std::uint16_t reg);
    bool send_tz2501b_pins();
    bool send_tz2501a_pins(std::uint8_t g1, std::uint8_t g2);
    // One SDA sample: false when the GET_REPORT failed; valid tells a
    // sample the box vouches for.
    bool sample_sda(bool& sda, bool& valid);
    bool latch_setting(int func, int val, bool second_latch);
    void restore_pins_after_register_work();
    // The Tz2501B's function latches: register work shares its pins with
    // them (on other boxes with the Tz2402D's GPIO), and latch reports mean
    // nothing to the other models' chips.
    bool has_tz2501b_latches() const
    {
        return model_traits(model_.load()).switches == Switches::kTz2501bLatches;
    }

    // --- members ---

    std::string app_dir_;  // search thread only (the owner's open)

    mutable std::mutex text_mutex_;  // guards tag_ and path_
    std::string tag_;                // "hid." followed by the device index
    std::string path_;

    std::atomic<long> device_index_{-1};
    std::atomic<int> model_{OLVA_PRODUCT_NONE};
    std::atomic<std::uint8_t> version1_{0};
    std::atomic<std::uint8_t> version2_{0};
    std::atomic<std::uint8_t> device_type_{0};
    std::atomic<bool> line_voltage_reading_{false};
    std::atomic<bool> unplugged_{false};  // set by the owner's close with a mode
    std::atomic<bool> closing_{false};    // set by hid_closeEx
    std::atomic<int> active_sim_{0};

    // Pin shadows: the pins as last set, so that the next report starts
    // from them. Changed under the pin-sequence mutex by the composing
    // operations.
    std::atomic<std::uint8_t> g1_{0};
    std::atomic<std::uint8_t> g2_{0};
    std::atomic<std::uint8_t> g3_{0};
    std::atomic<std::uint8_t> buzzer_{0};

    // Record and its users. The record pointer changes only under
    // use_mutex_ and only when no use lasts.
    mutable std::mutex use_mutex_;
    mutable std::condition_variable use_ended_;
    hid_device_* dev_ = nullptr;  // use_mutex_
    mutable int record_users_ = 0;  // use_mutex_

    // Close state: one close at a time; a second closer waits for the first.
    std::mutex close_mutex_;
    std::condition_variable close_done_;
    bool close_running_ = false;  // close_mutex_
    std::thread read_thread_;     // close_mutex_
    std::atomic<std::thread::id> read_thread_id_{};
    std::atomic<bool> read_thread_active_{false};
    // Takes the Tz2401 family's interrupt reports from the completion to
    // their handlers; started with the read thread, stopped by the close.
    ReportWorker report_worker_;

    int reply_timeout_ms_ = kReplyTimeoutMs;

    std::mutex cmd_mutex_;                 // CommandLock only
    std::atomic<bool> status_owed_{false}; // a status request waits for cmd_mutex_
    mutable std::mutex queue_mutex_;       // the two queues
    std::mutex gpio_mutex_;                // one GPIO report
    // One latch or register sequence with its restore; taken before channel_mutex_.
    std::recursive_mutex pins_mutex_;
    std::mutex channel_mutex_;             // Tz2501B: one status poll or register read
    std::deque<std::unique_ptr<hid_cmd_op>> cmd_queue_;  // queue_mutex_
    std::deque<std::unique_ptr<hid_cmd_op>> sms_queue_;  // queue_mutex_

    // The user number read at open (search thread) or after the GSM
    // start-up, read by library calls.
    void store_user_number(const std::uint8_t* bytes, int len);
    void clear_user_number();
    mutable std::mutex user_mutex_;
    std::uint8_t user_area_[kUserAreaSize] = {};  // user_mutex_
    bool user_valid_ = false;                     // user_mutex_
};
