// The two upload threads. The upload thread works the queue: every 20 ms
// it tries the front job once, reports the result, and removes the job
// after a success or after its fifth failure in a row. The plain upload
// thread runs the plain uploads that browsers wait for, one at a time, so
// that the web thread never waits for a server.
//
// Both stop by their flag, which also aborts a transfer in progress, and
// are joined by their owner. Results are handed to the owner's callbacks on
// the upload threads, with no lock held.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "ukit/upload_queue.h"
#include "ukit/upload_transfer.h"

// What one try of a queued job gave: the result text of a form upload, or
// the code of a plain one.
struct UploadReport {
    bool form = true;
    std::string result;  // form: the JSON text for browsers
    int code = 0;        // plain: an UploadTransfer::PlainCode
};

class UploadWorker {
public:
    static constexpr int kMaxUploadAttempts = 5;
    using Reporter = std::function<void(const UploadReport&)>;

    UploadWorker(UploadQueue& queue, const UploadTimeouts& timeouts, Reporter report);
    ~UploadWorker();
    UploadWorker(const UploadWorker&) = delete;
    UploadWorker& operator=(const UploadWorker&) = delete;

    void start();
    // Sets the stop flag (aborting a transfer in progress) and joins.
    void stop();

    // One pass: tries the front job once. False when the queue was empty or
    // the try was stopped; a stopped try counts for nothing and the job
    // stays queued.
    bool upload_pass();

private:
    void UploadFormHandleThread();
    // The try's result, and whether it succeeded.
    bool try_form(const FileUploadPacket& job, UploadReport& report);
    bool try_plain(const FileUploadPacket& job, UploadReport& report);

    UploadQueue& queue_;
    Reporter report_;
    std::atomic<bool> stop_{false};
    UploadTransfer transfer_;
    int attempts_ = 0;  // failed tries of the front job; the upload thread's own
    std::mutex sleep_mutex_;  // with wake_, lets stop() cut the 20 ms sleep short
    std::condition_variable wake_;
    std::thread thread_;
};

class PlainUploadThread {
public:
    // Plain uploads waiting beyond the one in progress; a further one is
    // refused at once, so that no page can pile up work without end.
    static constexpr std::size_t kMaxWaitingPlainUploads = 16;
    // Gets the UploadTransfer::PlainCode, on the plain upload thread.
    using Done = std::function<void(int code)>;

    explicit PlainUploadThread(const UploadTimeouts& timeouts);
    ~PlainUploadThread();
    PlainUploadThread(const PlainUploadThread&) = delete;
    PlainUploadThread& operator=(const PlainUploadThread&) = delete;

    void start();
    // Aborts the upload in progress, forgets the waiting ones (their Done
    // is not called) and joins.
    void stop();
    // False when kMaxWaitingPlainUploads are waiting or the thread is not
    // running.
    bool submit(std::string url, std::string paramName, std::string path, Done done);

private:
    struct Request {
        std::string url;
        std::string paramName;
        std::string path;
        Done done;
    };
    void run();

    std::atomic<bool> stop_{false};
    UploadTransfer transfer_;
    std::mutex mutex_;  // guards waiting_ and running_
    std::condition_variable wake_;
    std::deque<Request> waiting_;
    bool running_ = false;
    std::thread thread_;
};
