// A process that the upload queue tests kill with SIGKILL at a moment of
// their choosing, to show that "uploadfile.json" survives it, or watch with
// a time-out while it loads a file planted in its place.
//   upload_queue_child churn FILE        rewrites FILE for ever: push one
//                                        job, take the front one off
//   upload_queue_child upload FILE       works the jobs of FILE, with no
//                                        end, as the upload thread does
//   upload_queue_child load FILE         loads FILE, in at most
//                                        kLoadMemoryLimit of memory; the
//                                        exit status is the queue's length
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "ukit/upload_queue.h"
#include "ukit/upload_worker.h"

namespace {

// A load that reads a huge file or a device to its end fails here, not by
// taking the machine's memory. A sanitizer maps vast shadow memory, so its
// builds go without the limit.
constexpr rlim_t kLoadMemoryLimit = rlim_t{1} << 31;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const std::string mode = argv[1];
    if (mode == "load" && !kSanitized) {
        const rlimit limit{kLoadMemoryLimit, kLoadMemoryLimit};
        if (setrlimit(RLIMIT_AS, &limit) != 0)
            return 2;
    }
    UploadQueue queue;
    queue.read_upload_from_file(argv[2]);
    if (mode == "load")
        return static_cast<int>(std::min<std::size_t>(queue.size(), 100));
    if (mode == "churn") {
        for (int i = 1;; ++i) {
            queue.push(FileUploadPacket{"http://127.0.0.1:9/upload", "bucket",
                                        "object-" + std::to_string(i), "/tmp/a.wav", "", 1});
            queue.pop_front();
        }
    }
    if (mode == "upload") {
        UploadWorker worker(queue, UploadTimeouts{}, [](const UploadReport&) {});
        worker.start();
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    }
    return 2;
}
