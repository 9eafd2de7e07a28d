// A process that the upload queue tests kill with SIGKILL at a moment of
// their choosing, to show that "uploadfile.json" survives it.
//   upload_queue_child churn FILE        rewrites FILE for ever: push one
//                                        job, take the front one off
//   upload_queue_child upload FILE       works the jobs of FILE, with no
//                                        end, as the upload thread does
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "ukit/upload_queue.h"
#include "ukit/upload_worker.h"

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const std::string mode = argv[1];
    UploadQueue queue;
    queue.read_upload_from_file(argv[2]);
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
