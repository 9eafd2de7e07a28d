#include "ukit/upload_worker.h"

#include <chrono>

#include "base/logger.h"
#include "ukit/upload_result.h"

namespace {

// The upload thread's pause between two passes.
constexpr auto kPassPause = std::chrono::milliseconds(20);

}  // namespace

UploadWorker::UploadWorker(UploadQueue& queue, const UploadTimeouts& timeouts, Reporter report)
    : queue_(queue), report_(std::move(report)), transfer_(timeouts, stop_)
{
}

UploadWorker::~UploadWorker()
{
    stop();
}

void UploadWorker::start()
{
    if (thread_.joinable())
        return;
    stop_.store(false);
    thread_ = std::thread(&UploadWorker::UploadFormHandleThread, this);
}

void UploadWorker::stop()
{
    {
        std::lock_guard lock(sleep_mutex_);
        stop_.store(true);
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void UploadWorker::UploadFormHandleThread()
{
    logger(-1, "userver", "", "  start upload thread ... ");
    attempts_ = 0;
    while (!stop_.load()) {
        upload_pass();
        std::unique_lock lock(sleep_mutex_);
        wake_.wait_for(lock, kPassPause, [this] { return stop_.load(); });
    }
    logger(-1, "userver", "", "   upload thread  end ");
}

bool UploadWorker::upload_pass()
{
    const std::optional<FileUploadPacket> job = queue_.front();
    if (!job)
        return false;
    UploadReport report;
    const bool succeeded = job->mod == 1 ? try_form(*job, report) : try_plain(*job, report);
    // A try cut short by stopping says nothing about the job: it stays
    // queued, on disk too, and is tried afresh after the next start.
    if (stop_.load())
        return false;
    attempts_ = succeeded ? 0 : attempts_ + 1;
    if (report.form) {
        logger(-1, "olva server", "", "UploadFormFile count(%d) result:%s, queue size(%d)", attempts_,
               report.result.c_str(), static_cast<int>(queue_.size()));
    } else {
        logger(-1, "olva server", "", "uploadcount(%d) UploadFileEx result=%d", attempts_, report.code);
    }
    report_(report);
    if (attempts_ == 0) {
        queue_.pop_front();
    } else if (attempts_ >= kMaxUploadAttempts) {
        logger(-1, "olva server", "", "UploadFormFile count(%d) queue size(%d)", kMaxUploadAttempts,
               static_cast<int>(queue_.size()));
        queue_.pop_front();
        attempts_ = 0;
    }
    return true;
}

bool UploadWorker::try_form(const FileUploadPacket& job, UploadReport& report)
{
    report.form = true;
    report.result = transfer_.UploadFormFile(job.url, job.bucketName, job.localfilename,
                                             job.objectName, job.customFiled);
    logger(-1, "olva server", "", "UploadFormFile err count(%d), recv return len(%d),(%s) ", attempts_,
           static_cast<int>(report.result.size()), report.result.c_str());
    switch (upload::judge_form_result(report.result)) {
    case upload::Verdict::kSuccess:
        return true;
    case upload::Verdict::kBadCode:
        logger(-1, "olva server", "", "UploadFormFile err count(%d), recv return code is not right",
               attempts_ + 1);
        return false;
    case upload::Verdict::kBadFormat:
        logger(1, "userver", "", "UploadFormFile count(%d), recv error format", attempts_ + 1);
        return false;
    case upload::Verdict::kFailed:
        return false;
    }
    return false;
}

bool UploadWorker::try_plain(const FileUploadPacket& job, UploadReport& report)
{
    report.form = false;
    report.code = transfer_.UploadFileEx(job.url, job.bucketName, job.localfilename);
    return report.code == UploadTransfer::kPlainReplied;
}

PlainUploadThread::PlainUploadThread(const UploadTimeouts& timeouts) : transfer_(timeouts, stop_) {}

PlainUploadThread::~PlainUploadThread()
{
    stop();
}

void PlainUploadThread::start()
{
    if (thread_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        stop_.store(false);
        running_ = true;
    }
    thread_ = std::thread(&PlainUploadThread::run, this);
}

void PlainUploadThread::stop()
{
    {
        std::lock_guard lock(mutex_);
        stop_.store(true);
        running_ = false;
        waiting_.clear();
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

bool PlainUploadThread::submit(std::string url, std::string paramName, std::string path, Done done)
{
    {
        std::lock_guard lock(mutex_);
        if (!running_ || waiting_.size() >= kMaxWaitingPlainUploads)
            return false;
        waiting_.push_back(Request{std::move(url), std::move(paramName), std::move(path), std::move(done)});
    }
    wake_.notify_one();
    return true;
}

void PlainUploadThread::run()
{
    for (;;) {
        Request request;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stop_.load() || !waiting_.empty(); });
            if (stop_.load())
                return;
            request = std::move(waiting_.front());
            waiting_.pop_front();
        }
        const int code = transfer_.UploadFileEx(request.url, request.paramName, request.path);
        if (stop_.load())
            return;
        request.done(code);
    }
}
