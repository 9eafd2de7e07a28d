// The upload queue: jobs that browsers hand in, worked front to back by the
// upload thread, and kept on disk in "uploadfile.json" so that they survive
// a restart or a kill. The file always holds every job not yet finished: a
// job leaves it only after its result is known, and every rewrite goes to a
// temporary file that is then renamed over the old one.
//
// The file is handled as carefully as the recordings: it is read only when
// it is a regular file itself (no link followed, no FIFO or device opened)
// and no larger than its ceiling; anything else there is set aside as
// "uploadfile.json.bad" and the queue starts empty. The temporary file is
// always made afresh, never one found in its place.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct FileUploadPacket {
    std::string url;
    std::string bucketName;
    std::string objectName;
    std::string localfilename;
    std::string customFiled;  // not saved: empty for jobs loaded from disk
    int mod = 1;              // 1: form upload; else plain file upload

    bool operator==(const FileUploadPacket&) const = default;
};

// The file's text: a formatted JSON array, one object per packet in queue
// order with "mod", "url", "localfilename", "bucketName", "objectName".
std::string upload_queue_json(const std::deque<FileUploadPacket>& packets);
// The packets of such a text; elements that lack a member, or hold one of
// another type, are left out. Nothing when the text is not a JSON array.
// elements, when given, gets the array's length, every element counted.
std::vector<FileUploadPacket> parse_upload_queue(std::string_view text, std::size_t* elements = nullptr);
// The bytes the job takes in the file.
std::size_t upload_job_bytes(const FileUploadPacket& packet);

class UploadQueue {
public:
    // Beyond this many waiting jobs a new one is refused (the browser is
    // told at once), so that a runaway page cannot grow memory and the
    // file without end.
    static constexpr std::size_t kMaxQueuedUploads = 1000;

    // A job takes at most this many bytes of the file, as printed there:
    // room for a long address, a path of the longest length and its names.
    // A longer job is refused, so that the file has a ceiling.
    static constexpr std::size_t kMaxUploadJobBytes = 16 * 1024;
    // The file of a full queue of the longest jobs is no larger.
    static constexpr std::size_t kMaxUploadFileBytes = kMaxQueuedUploads * kMaxUploadJobBytes;

    // Why push() refused a job.
    enum class Refusal { kQueueFull, kJobTooLong };

    explicit UploadQueue(std::size_t limit = kMaxQueuedUploads) : limit_(limit) {}

    // Forgets the jobs in memory and reads the jobs kept in file (its
    // directory must exist). A file that is not a regular file itself, is
    // larger than limit x kMaxUploadJobBytes or is not a JSON array is
    // logged and renamed to file + ".bad", and the queue stays empty. A job
    // whose file an upload may not send (file_rules.h), or over
    // kMaxUploadJobBytes, is dropped, and the file rewritten without it.
    // Returns 0.
    int read_upload_from_file(const std::string& file);
    // Appends the job and rewrites the file; the queue length after it, or
    // nothing (why in refusal, when given) when the queue is full or the
    // job over kMaxUploadJobBytes (logged).
    std::optional<std::size_t> push(FileUploadPacket packet, Refusal* refusal = nullptr);
    // A copy of the front job; it stays queued.
    std::optional<FileUploadPacket> front() const;
    // Removes the front job and rewrites the file.
    void pop_front();
    std::size_t size() const;
    // Forgets the jobs in memory; the file keeps them.
    void clear();

private:
    // The jobs of file, none when it is missing or refused (then set
    // aside); dropped tells whether jobs were left out by the rules above.
    // Called with mutex_ held.
    std::vector<FileUploadPacket> read_jobs(const std::string& file, bool& dropped) const;
    // Writes the queue to the file; 0, or -1 (logged) when it cannot.
    // Called with mutex_ held.
    int update_upload_to_file();

    const std::size_t limit_;
    mutable std::mutex mutex_;  // guards everything below and the file
    std::string file_;
    std::deque<FileUploadPacket> packets_;
};
