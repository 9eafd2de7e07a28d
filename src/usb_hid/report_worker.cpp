#include "usb_hid/report_worker.h"

#include <algorithm>
#include <cstring>
#include <system_error>

ReportWorker::~ReportWorker()
{
    stop();
    // Only a worker that destroyed its own box still holds its thread here.
    if (thread_.joinable())
        thread_.detach();
}

bool ReportWorker::start(Handler handler, Log log)
{
    stop();
    std::lock_guard<std::mutex> guard(join_mutex_);
    join();
    handler_ = std::move(handler);
    log_ = std::move(log);
    dropped_.store(0);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        in_hand_.fetch_sub(queue_.size() + tasks_.size());
        queue_.clear();
        tasks_.clear();
        stop_requested_ = false;
        accepting_ = true;
    }
    try {
        thread_ = std::thread(&ReportWorker::run, this);
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> lock(mutex_);
        accepting_ = false;
        return false;
    }
    return true;
}

void ReportWorker::post(const std::uint8_t* data, unsigned long len)
{
    if (!data || len == 0)
        return;
    Report report;
    report.len = std::min<unsigned long>(len, kMaxReportBytes);
    std::memcpy(report.bytes.data(), data, report.len);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!accepting_)
            return;
        if (queue_.size() >= kMaxQueuedReports) {
            queue_.pop_front();
            dropped_.fetch_add(1);
        } else {
            in_hand_.fetch_add(1);
        }
        queue_.push_back(report);
    }
    changed_.notify_one();
}

bool ReportWorker::post_task(Task task)
{
    if (!task)
        return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!accepting_ || tasks_.size() >= kMaxQueuedTasks)
            return false;
        in_hand_.fetch_add(1);
        tasks_.push_back(std::move(task));
    }
    changed_.notify_one();
    return true;
}

void ReportWorker::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        accepting_ = false;
        stop_requested_ = true;
        // A task is work for a box that is still in use: not after a stop.
        in_hand_.fetch_sub(tasks_.size());
        tasks_.clear();
    }
    changed_.notify_one();
    if (on_worker_thread())
        return;
    std::lock_guard<std::mutex> guard(join_mutex_);
    join();
}

void ReportWorker::join()
{
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

void ReportWorker::run()
{
    worker_id_.store(std::this_thread::get_id());
    std::uint64_t dropped_logged = 0;
    for (;;) {
        Report report;
        Task task;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] {
                return stop_requested_ || !queue_.empty() || !tasks_.empty();
            });
            if (!tasks_.empty()) {
                task = std::move(tasks_.front());
                tasks_.pop_front();
            } else if (queue_.empty()) {
                break;
            } else {
                report = queue_.front();
                queue_.pop_front();
            }
        }
        if (task) {
            try {
                task();
            } catch (...) {
                if (log_)
                    log_("task failed with an exception, tasks failed:", 1);
            }
            in_hand_.fetch_sub(1);
            continue;
        }
        if (const std::uint64_t dropped = dropped_.load(); dropped != dropped_logged) {
            if (log_)
                log_("reports dropped, the report queue was full:", dropped - dropped_logged);
            dropped_logged = dropped;
        }
        handler_(report.bytes.data(), report.len);
        in_hand_.fetch_sub(1);
    }
    worker_id_.store(std::thread::id{});
}
