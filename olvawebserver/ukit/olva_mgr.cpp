#include "ukit/olva_mgr.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/asio/post.hpp>

#include "base/logger.h"
#include "base/platform/paths.h"
#include "base/platform/settings_dir.h"
#include "cavrel_olva.h"
#include "ukit/version.h"
#include "ukit/web_poller.h"

COlvaMgr uWebMgr;

namespace {

constexpr const char* kDashes =
    "------------------------------------------------------------------------";
// The web thread's loop: 10 ms of network work, then a pause of 10 ms that
// posted work ends early; the wake-up count is read again after this many
// polls plus one, about every 4 s.
constexpr web::WebPoller::Timing kWebPolls{std::chrono::milliseconds(10), std::chrono::milliseconds(10), 200};
constexpr int kMaxWakeCountLine = 254;

// Browsers, their keep-alive connections, boxes and files together may need
// more descriptors than the usual soft limit of 1024; the hard limit is ours
// to take.
void raise_descriptor_limit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
        return;
    const rlim_t soft = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
        logger(2, "userver", "", " descriptor limit stays at %llu", static_cast<unsigned long long>(soft));
    else
        logger(-1, "userver", "", " descriptor limit raised from %llu to %llu",
               static_cast<unsigned long long>(soft), static_cast<unsigned long long>(limit.rlim_max));
}

}  // namespace

COlvaMgr::COlvaMgr() = default;

COlvaMgr::~COlvaMgr()
{
    close_uWeb();
}

int COlvaMgr::init_uWeb()
{
    return init_uWeb(default_web_options());
}

int COlvaMgr::init_uWeb(const WebOptions& options)
{
    if (service_running_.load())
        return 0;
    // An earlier start in this process may have counted a run; this one
    // counts only once it runs.
    system_run_count_ = 0;
    fix_directories(options);
    logger_init(work_dir_.c_str(), "olva");
    loger_clear();
    app_dir_ += "/";

    logger(-1, "userver", "", "%s", kDashes);
    logger(-1, "userver", "", "-- olva websockect server built on %s %s, version:%s,record path:%s",
           __DATE__, __TIME__, kOlvaVersion, work_dir_.c_str());
    logger(-1, "userver", "", "------------------------------------------app work path:%s",
           app_dir_.c_str());
    logger(-1, "userver", "", "%s", kDashes);

    raise_descriptor_limit();
    seed_settings();
    read_config();
    for (COlvaLine& line : lines_)
        line.handl_plug_out();
    if (!start_listener())
        return 1;

    olva_open_logfileEx(work_dir_.c_str());
    if (olva_open(ProcCavrelCallBack) != 0)
        logger(1, "userver", "", "  start open usb device failed");
    else
        logger(-1, "userver", "", " start open usb device ...");

    // A database that cannot be opened is logged; the records stay
    // unavailable and everything else runs.
    database_.OpenDbase(work_dir_.c_str());

    leaving_ = false;
    service_running_.store(true);
    work_ = std::make_unique<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>(
        ioc_->get_executor());
    // The saved jobs are loaded before the web thread can add new ones.
    start_uploads(options.upload_timeouts);
    web_thread_ = std::thread(&COlvaMgr::WebServer_handle_thread_read, this);
    count_run();
    return 0;
}

void COlvaMgr::fix_directories(const WebOptions& options)
{
    work_dir_.clear();
    app_dir_.clear();
    if (!options.exe_dir.empty()) {
        work_dir_ = options.exe_dir;
        // Relative names (the web root, "tip.wav", the TLS files) are found
        // beside the executable.
        if (chdir(work_dir_.c_str()) != 0)
            std::perror("chdir");
    }
    app_dir_ = work_dir_;
    std::printf("work path:%s\n", work_dir_.c_str());
    if (platform::isInstalledDirectory(app_dir_)) {
        work_dir_ = platform::userWorkDirectory(options.home_dir) + "/";
        std::printf("current user dir:%s\n", options.login.c_str());
        mkdir(work_dir_.c_str(), 0777);
    } else {
        work_dir_ += "/";
    }
    settings_dir_ = platform::chooseSettingsDirectory(app_dir_, platform::directoryOf(work_dir_),
                                                      options.app_dir_writable) +
                    "/";
    wakeup_count_path_ = options.wakeup_count_path;
}

bool COlvaMgr::start_listener()
{
    // The old server's sockets belong to the old io_context: server first.
    server_.reset();
    ioc_ = std::make_unique<boost::asio::io_context>();
    server_ = std::make_unique<web::WebServer>(*ioc_, *this);
    bound_port_ = 0;

    const auto beside_app = [this](const std::string& name) {
        return name.starts_with('/') ? name : app_dir_ + name;
    };
    std::string error;
    bool listening = false;
    if (HttpPort < 0 || HttpPort > 65535) {
        error = "port out of range";
    } else if (ssl) {
        const web::TlsFiles files{beside_app(ssl_cert_filename), beside_app(ssl_key_filename)};
        listening = server_->listen(static_cast<unsigned short>(HttpPort), &files, error);
    } else {
        listening = server_->listen(static_cast<unsigned short>(HttpPort), nullptr, error);
    }
    if (!listening) {
        if (ssl) {
            logger(1, "userver", "", "Failed to create listener: %s", error.c_str());
        } else {
            logger(1, "userver", "", "Failed to create listener");
            logger(1, "userver", "", " 127.0.0.1:%d: %s", HttpPort, error.c_str());
        }
        if (TrayNotifier* tray = tray_.load()) {
            char text[256];
            std::snprintf(text, sizeof text,
                          "不能打开网络端口%d,运行失败;\r\n如果软件已经运行了，不能重复打开", HttpPort);
            tray->ShowMessageBox(text, "USB电话盒子Kit");
        }
        return false;
    }
    bound_port_ = server_->port();
    logger(-1, "userver", "", "bind port:%d", HttpPort);
    return true;
}

int COlvaMgr::close_uWeb()
{
    if (!service_running_.load())
        return 0;
    bid_farewell();
    service_running_.store(false);
    // The upload threads post their results to the web thread: they stop
    // first. A transfer in progress is aborted, its job kept.
    stop_uploads();
    if (web_thread_.joinable())
        web_thread_.join();

    logger(-1, "userver", "", " start close usb device ...");
    olva_close();
    olva_close_logfile();
    // No library thread posts any more: the network manager can go.
    ws_connections_.clear();
    server_.reset();
    work_.reset();
    ioc_.reset();
    bound_port_ = 0;
    database_.CloseDbase();
    logger(-1, "userver", "", " start close usb device end");
    return 0;
}

void COlvaMgr::WebServer_handle_thread_read()
{
    last_wakeup_count_.store(uWebReadSystemWakeUpCount());
    web::WebPoller(*ioc_, kWebPolls, [this] { check_system_sleep(); }).run(service_running_);
}

void COlvaMgr::post_to_web(std::function<void()> work)
{
    // ioc_ is set before olva_open and reset after olva_close, so it stays
    // put while library threads can call here.
    if (ioc_)
        boost::asio::post(*ioc_, std::move(work));
}

unsigned int COlvaMgr::uWebReadSystemWakeUpCount() const
{
    std::FILE* file = std::fopen(wakeup_count_path_.c_str(), "r");
    if (!file)
        return static_cast<unsigned int>(-1);
    char line[kMaxWakeCountLine + 1] = {};
    const bool read = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    if (!read)
        return static_cast<unsigned int>(-1);
    return static_cast<unsigned int>(std::strtoul(line, nullptr, 10));
}

void COlvaMgr::check_system_sleep()
{
    const unsigned int now = uWebReadSystemWakeUpCount();
    const unsigned int last = last_wakeup_count_.exchange(now);
    if (now == last)
        return;
    logger(1, "userver", "", " dect cpu sleep last wakecount(%d)-> current wake count(%d) ",
           static_cast<int>(last), static_cast<int>(now));
    std::lock_guard lock(slots_mutex_);
    for (COlvaLine& line : lines_) {
        if (line.line_handel() != COlvaLine::kFree) {
            line.set_device_alarm(0, 0);
            line.set_device_playalarm(0, 0);
        }
    }
}

void COlvaMgr::popup_tip_msg(const std::string& text)
{
    if (TrayNotifier* tray = tray_.load())
        tray->ShowBalloon("提示", text, 10, 1);
}

COlvaLine* COlvaMgr::get_line_by_handle(unsigned long handle)
{
    for (COlvaLine& line : lines_) {
        if (line.line_handel() == handle)
            return &line;
    }
    return nullptr;
}

COlvaLine* COlvaMgr::line_or_free(unsigned long handle)
{
    COlvaLine* line = get_line_by_handle(handle);
    return line ? line : get_line_by_handle(COlvaLine::kFree);
}
