// The web service: one object, uWebMgr. init_uWeb fixes the directories,
// starts logging, reads "config.ini", binds the listener, opens the device
// library and starts the web thread; close_uWeb undoes it.
//
// Threads: the GUI thread runs init_uWeb and close_uWeb. The web thread runs
// the io_context that owns the listener and every connection: all HTTP and
// WebSocket handlers, the replies and the event sends run there. Library
// threads raise events through ProcCavrelCallBack; handle_event builds the
// text and updates the line slots on the raising thread, then posts the
// send and any follow-up library call to the web thread. The two upload
// threads (upload_worker.h) post their results to the web thread too.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include "database/Database.h"
#include "ukit/olva_line.h"
#include "ukit/origin_policy.h"
#include "ukit/tray_notifier.h"
#include "ukit/upload_queue.h"
#include "ukit/upload_worker.h"
#include "ukit/web_connection.h"
#include "ukit/web_options.h"
#include "ukit/web_server.h"

struct cJSON;

class COlvaMgr final : public web::WebEvents {
public:
    static constexpr int kLineSlots = 8;

    COlvaMgr();
    ~COlvaMgr() override;
    COlvaMgr(const COlvaMgr&) = delete;
    COlvaMgr& operator=(const COlvaMgr&) = delete;

    // 0 when running; 1 when the listener cannot be set up (a message box
    // has told the user).
    int init_uWeb();
    int init_uWeb(const WebOptions& options);
    // Stops the server, then closes the device library. Returns 0; does its
    // work only while the service runs.
    int close_uWeb();

    // The names of the browser commands and the paths of the HTTP routes,
    // in the order they are tried.
    static std::vector<std::string_view> command_names();
    static std::vector<std::string_view> route_paths();

    // The run counter after this start; 0 on the first run.
    int get_system_work_runcount() const { return system_run_count_; }

    // The tray, or null; it must outlive the service's use of it.
    void set_tray(TrayNotifier* tray) { tray_.store(tray); }
    void popup_tip_msg(const std::string& text);

    // One device event, on the thread that raised it.
    void handle_event(unsigned long handle, int event, unsigned long p1, unsigned long p2,
                      unsigned long p3, unsigned long p4);

    // The web thread's check after every 201 polls: a changed wake-up count
    // means the system slept, and the alarms of bound lines are cleared.
    void check_system_sleep();
    // The number in the wake-up count file, -1 when it cannot be read.
    unsigned int uWebReadSystemWakeUpCount() const;

    bool is_running() const { return service_running_.load(); }
    // The work directory (ends in '/'): "olva-log" and the data files.
    const std::string& work_path() const { return work_dir_; }
    // The application directory (ends in '/'): "config.ini", "webroot".
    const std::string& app_path() const { return app_dir_; }
    // The directory of "config.ini" and "olva.ini" (ends in '/').
    const std::string& settings_path() const { return settings_dir_; }
    // "HttpPort" of "config.ini", read by init_uWeb: the port pages are
    // opened at, also when another program holds it.
    int configured_port() const { return HttpPort; }
    // The port the listener is bound to, 0 when there is none.
    unsigned short http_port() const { return bound_port_; }

    // Replies, on the web thread, to one WebSocket connection.
    void send_msg(web::WsConnection& c, const std::string& text);
    void send_notiy_msg(web::WsConnection& c, const char* name, int handle, int result);
    void send_answer_msg(web::WsConnection& c, const char* name, int handle,
                         const std::string& value);
    void send_upload_result(web::WsConnection& c, const std::string& result_json);
    // With keep_only_conncet set, sends the farewell close frame to every
    // WebSocket connection but keep.
    void close_other_socket(const web::WsConnection& keep);

    // "uploadfile.json" in the work directory: the upload jobs not yet done.
    std::string upload_file_path() const { return work_dir_ + "uploadfile.json"; }

private:
    struct Frame {
        web::WsConnection& conn;
        const cJSON* json;
        const char* addr;
    };
    struct CommandRow {
        const char* name;
        void (COlvaMgr::*run)(const Frame&);
    };
    using HttpHandler = web::HttpResponse (COlvaMgr::*)(const web::HttpRequest&);
    struct HttpRoute {
        bool contains;  // the path holds the text anywhere; else it equals it
        const char* path;
        HttpHandler handle;
    };

    // web::WebEvents, on the web thread.
    bool on_ws_upgrade(const web::HttpRequest& req) override;
    web::HttpResponse on_http_request(const web::HttpRequest& req) override;
    const std::string& frame_ancestors() const override;
    void on_ws_open(const std::shared_ptr<web::WsConnection>& c) override;
    void on_ws_frame(const std::shared_ptr<web::WsConnection>& c, std::string_view payload) override;
    void on_ws_close(const std::shared_ptr<web::WsConnection>& c) override;

    // Whether the page behind the request may drive the service; a refused
    // origin is logged the first time only. On the web thread.
    bool origin_allowed(const web::HttpRequest& req);
    void fix_directories(const WebOptions& options);
    void read_config();
    void count_run();
    bool start_listener();
    void WebServer_handle_thread_read();
    void post_to_web(std::function<void()> work);
    // On the GUI thread, while the web thread runs: every WebSocket client
    // gets a close frame 1001, then the listener closes; waits until the
    // clients have answered, kFarewellTimeout at most.
    void bid_farewell();
    // On the web thread: tells bid_farewell when no client is left.
    void note_if_all_left();
    // Sends text to every open WebSocket connection; on the web thread.
    void broadcast(const std::string& text);
    // The open connection c, to answer it later; on the web thread.
    std::weak_ptr<web::WsConnection> shared_connection(const web::WsConnection& c) const;

    // Called with slots_mutex_ held.
    COlvaLine* get_line_by_handle(unsigned long handle);
    // The slot bound to handle, else the first free one; with slots_mutex_ held.
    COlvaLine* line_or_free(unsigned long handle);

    // The HTTP API, on the web thread. A request whose path no route takes
    // is served from the web root.
    static std::span<const HttpRoute> http_routes();
    web::HttpResponse route_http_request(const web::HttpRequest& req);
    web::HttpResponse AddRecord(const web::HttpRequest& req);
    web::HttpResponse GetRecord(const web::HttpRequest& req);
    web::HttpResponse GetRecordCount(const web::HttpRequest& req);
    web::HttpResponse DeleteRecord(const web::HttpRequest& req);
    web::HttpResponse GetConfigParam(const web::HttpRequest& req);
    web::HttpResponse SetBaseConfigParam(const web::HttpRequest& req);
    web::HttpResponse SetVoltageConfigParam(const web::HttpRequest& req);
    web::HttpResponse SetDialConfigParam(const web::HttpRequest& req);
    web::HttpResponse GetLog(const web::HttpRequest& req);
    web::HttpResponse PlayAudioFile(const web::HttpRequest& req);
    web::HttpResponse DownloadAudioFile(const web::HttpRequest& req);
    web::HttpResponse DownloadLogFile(const web::HttpRequest& req);
    // The recording named by the request's "filename", or 404.
    web::HttpResponse serve_audio_file(const web::HttpRequest& req, bool log_play);
    // The handle of the first line slot in use, or COlvaLine::kFree.
    unsigned long first_line_in_use();

    void handle_recv_event(web::WsConnection& c, std::string_view payload);
    static std::span<const CommandRow> commands();
    std::string getinfo_text();
    // A command that passes its handle to one library call and sends a
    // notify when the result is not 0; label completes its log line.
    void line_command(const Frame& f, const char* name, const char* label,
                      int (*call)(unsigned long));
    void cmd_getinfo(const Frame& f);
    void cmd_getsysteminfo(const Frame& f);
    void cmd_uwebclose(const Frame& f);
    void cmd_ignored(const Frame& f);
    void cmd_record_file(const Frame& f);
    void cmd_stop_record(const Frame& f);
    void cmd_send_dtmf(const Frame& f);
    void cmd_play_file(const Frame& f);
    void cmd_stop_play(const Frame& f);
    void cmd_start_read_line_voltage(const Frame& f);
    void cmd_soft_hook_off(const Frame& f);
    void cmd_soft_hook_on(const Frame& f);
    void cmd_stop_read_line_voltage(const Frame& f);
    void cmd_get_device_version(const Frame& f);
    void cmd_get_product_id(const Frame& f);
    void cmd_get_usernum(const Frame& f);
    void cmd_judge_file_size(const Frame& f);
    void cmd_delete_file(const Frame& f);
    void cmd_upload_file(const Frame& f);
    void cmd_sendcmd(const Frame& f);
    // GSM calls and module controls (olva_mgr_gsm_commands.cpp).
    void cmd_set_talk_link(const Frame& f);
    void cmd_set_record_enable(const Frame& f);
    void cmd_makecall(const Frame& f);
    void cmd_reject_call(const Frame& f);
    void cmd_makecall_slic(const Frame& f);
    void cmd_select_simcard(const Frame& f);
    void cmd_gsm_power(const Frame& f);
    void cmd_gsm_boot(const Frame& f);
    void cmd_upload_file_ex(const Frame& f);
    void cmd_upload_form_file(const Frame& f);
    // Answers an "UploadFormFile" that is not queued with the failure text
    // of message (upload_result.h), and logs it.
    void refuse_form_upload(const Frame& f, const char* message);
    // SMS (olva_mgr_sms_commands.cpp).
    void cmd_msgsize(const Frame& f);
    void cmd_sendmsg(const Frame& f);
    void cmd_query_sms(const Frame& f);
    void cmd_delete_sms(const Frame& f);

    // The upload threads, started by init_uWeb after the saved jobs are
    // loaded and stopped by close_uWeb before the web thread.
    void start_uploads(const UploadTimeouts& timeouts);
    void stop_uploads();
    // One try's result to every browser; posted to the web thread.
    void report_upload(const UploadReport& report);

    std::string config_path() const { return settings_dir_ + "config.ini"; }
    std::string olva_ini_path() const { return settings_dir_ + "olva.ini"; }
    // Copies the INI files installed beside the program into the settings
    // directory when that is elsewhere and holds none yet.
    void seed_settings() const;
    // A key of "config.ini" section "CONFIG"; a missing one (or -1) takes
    // fallback, which is written back.
    int read_config_int(const char* key, int fallback) const;
    // 0 written, -1 failed.
    int write_config_int(const char* key, int value) const;

    // Set by init_uWeb before the web thread starts; read only afterwards.
    std::string work_dir_;
    std::string app_dir_;
    // Ends in '/': "config.ini" and "olva.ini", the application directory
    // unless that cannot be written.
    std::string settings_dir_;
    std::string wakeup_count_path_;
    int HttpPort = 0;
    int enable_ring_buzzer = 0;
    int keep_only_conncet = 1;
    int Autorun = 1;
    int pop_state_tip = 1;
    int ssl = 0;
    int enable_open_url = 0;
    std::string url;
    std::string ssl_cert_filename;
    std::string ssl_key_filename;
    web::OriginPolicy origins_;  // its refusals are remembered on the web thread
    int system_run_count_ = 0;
    unsigned short bound_port_ = 0;

    std::atomic<bool> service_running_{false};  // the web thread's loop condition
    std::atomic<TrayNotifier*> tray_{nullptr};
    std::atomic<unsigned int> last_wakeup_count_{0};

    // Guards finding and binding a slot, so that two event threads never
    // take the same free slot; the fields themselves are atomic.
    std::mutex slots_mutex_;
    COlvaLine lines_[kLineSlots];

    // The network manager: set up by init_uWeb, used only by the web thread
    // while it runs, freed by close_uWeb after the library is closed (until
    // then library threads may post to it).
    std::unique_ptr<boost::asio::io_context> ioc_;
    std::unique_ptr<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> work_;
    std::unique_ptr<web::WebServer> server_;
    std::vector<std::shared_ptr<web::WsConnection>> ws_connections_;  // open, oldest first
    bool leaving_ = false;  // the farewell has begun; web thread only, set again by init_uWeb
    // Guards all_left_, which the web thread sets for bid_farewell.
    std::mutex farewell_mutex_;
    std::condition_variable farewell_done_;
    bool all_left_ = false;
    std::thread web_thread_;
    // Opened by init_uWeb before the web thread starts, used by the web
    // thread only, closed by close_uWeb after it has stopped.
    Database database_;

    // Shared by the web thread (which adds jobs) and the upload thread;
    // guarded inside.
    UploadQueue upload_queue_;
    // Made by init_uWeb and stopped by close_uWeb, on the GUI thread.
    std::unique_ptr<UploadWorker> upload_worker_;
    std::unique_ptr<PlainUploadThread> plain_uploads_;
};

extern COlvaMgr uWebMgr;

// The callback given to olva_open: hands each event to uWebMgr.
void ProcCavrelCallBack(unsigned long handle, int event, unsigned long p1, unsigned long p2,
                        unsigned long p3, unsigned long p4);
