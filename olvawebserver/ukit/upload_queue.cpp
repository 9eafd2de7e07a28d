#include "ukit/upload_queue.h"

#include <cJSON.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/filesystem.h"
#include "base/logger.h"
#include "ukit/file_rules.h"

namespace {

using JsonPtr = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

constexpr const char* kSetAsideSuffix = ".bad";
constexpr const char* kTemporarySuffix = ".tmp";

const char* member_text(const cJSON* object, const char* name)
{
    const cJSON* item = cJSON_GetObjectItem(object, name);
    return cJSON_IsString(item) ? item->valuestring : nullptr;
}

// The text as a JSON array, or null.
JsonPtr parse_array(std::string_view text)
{
    JsonPtr json(nullptr, &cJSON_Delete);
    if (text.find('\0') != std::string_view::npos)
        return json;
    json.reset(cJSON_ParseWithLength(text.data(), text.size()));
    if (!cJSON_IsArray(json.get()))
        json.reset();
    return json;
}

// The whole jobs of the array; elements that lack a member, or hold one of
// another type, are left out.
std::vector<FileUploadPacket> jobs_of(const cJSON* array)
{
    std::vector<FileUploadPacket> packets;
    const cJSON* element = nullptr;
    cJSON_ArrayForEach(element, array)
    {
        const cJSON* mod = cJSON_GetObjectItem(element, "mod");
        const char* url = member_text(element, "url");
        const char* bucket = member_text(element, "bucketName");
        const char* object = member_text(element, "objectName");
        const char* local = member_text(element, "localfilename");
        if (!cJSON_IsNumber(mod) || !url || !bucket || !object || !local)
            continue;
        packets.push_back(FileUploadPacket{url, bucket, object, local, "", mod->valueint});
    }
    return packets;
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    // Closes it now; false when the close reports an error.
    bool close()
    {
        const int fd = std::exchange(fd_, -1);
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// The whole of the file at path, read as a recording is opened
// (file_rules.h) and no larger than ceiling; nothing, with the reason in
// why, when it is refused, and with why empty when there is no file.
std::optional<std::string> read_bounded_file(const std::string& path, std::size_t ceiling, std::string& why)
{
    why.clear();
    const Descriptor fd(web::open_regular_file(path));
    if (fd.get() < 0) {
        if (errno != ENOENT)
            why = errno == ELOOP ? "a link" : errno == EINVAL ? "not a regular file" : std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) {
        why = std::strerror(errno);
        return std::nullopt;
    }
    const std::string too_large = "larger than " + std::to_string(ceiling) + " bytes";
    if (static_cast<std::uintmax_t>(st.st_size) > ceiling) {
        why = too_large;
        return std::nullopt;
    }
    // Read to its end, which may lie further than its size said.
    std::string text(static_cast<std::size_t>(st.st_size) + 1, '\0');
    std::size_t length = 0;
    for (;;) {
        if (length == text.size())
            text.resize(std::min(text.size() * 2, ceiling + 1));
        const ssize_t got = ::read(fd.get(), text.data() + length, text.size() - length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            why = std::strerror(errno);
            return std::nullopt;
        }
        if (got == 0)
            break;
        length += static_cast<std::size_t>(got);
        if (length > ceiling) {
            why = too_large;
            return std::nullopt;
        }
    }
    text.resize(length);
    return text;
}

// Moves a refused file out of the way, a link as the link itself.
void set_aside(const std::string& path, const std::string& why)
{
    const std::string aside = path + kSetAsideSuffix;
    if (std::rename(path.c_str(), aside.c_str()) == 0)
        logger(1, "userver", "", "   upload file %s refused (%s), set aside as %s", path.c_str(), why.c_str(),
               aside.c_str());
    else
        logger(1, "userver", "", "   upload file %s refused (%s), cannot be set aside: %s", path.c_str(),
               why.c_str(), std::strerror(errno));
}

// A new file at path for writing, made by us alone. Whatever stands there
// already (left by a run killed while writing, or put there by someone
// else: a link, a FIFO, another name of a file) is removed as it is, never
// followed or written into, and the file is made afresh.
int create_afresh(const std::string& path)
{
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    constexpr mode_t kMode = 0600;  // the jobs name the user's recordings
    int fd = ::open(path.c_str(), kFlags, kMode);
    if (fd < 0 && errno == EEXIST && ::unlink(path.c_str()) == 0)
        fd = ::open(path.c_str(), kFlags, kMode);
    return fd;
}

// Writes text to path whole, or not at all: a temporary file beside it is
// made afresh, written, flushed to the disk and renamed over it. False with
// errno set when it cannot.
bool replace_file(const std::string& path, const std::string& text)
{
    const std::string temporary = path + kTemporarySuffix;
    Descriptor fd(create_afresh(temporary));
    if (fd.get() < 0)
        return false;
    bool written = write_all(fd.get(), text);
    written = written && fsync(fd.get()) == 0;
    written = fd.close() && written;
    if (written && std::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    const int error = errno;
    ::unlink(temporary.c_str());
    errno = error;
    return false;
}

}  // namespace

std::string upload_queue_json(const std::deque<FileUploadPacket>& packets)
{
    JsonPtr array(cJSON_CreateArray(), &cJSON_Delete);
    for (const FileUploadPacket& packet : packets) {
        cJSON* object = cJSON_CreateObject();
        cJSON_AddNumberToObject(object, "mod", packet.mod);
        cJSON_AddStringToObject(object, "url", packet.url.c_str());
        cJSON_AddStringToObject(object, "localfilename", packet.localfilename.c_str());
        cJSON_AddStringToObject(object, "bucketName", packet.bucketName.c_str());
        cJSON_AddStringToObject(object, "objectName", packet.objectName.c_str());
        cJSON_AddItemToArray(array.get(), object);
    }
    char* printed = cJSON_Print(array.get());
    std::string text = printed ? printed : "[]";
    cJSON_free(printed);
    return text;
}

std::vector<FileUploadPacket> parse_upload_queue(std::string_view text, std::size_t* elements)
{
    const JsonPtr array = parse_array(text);
    if (elements)
        *elements = array ? static_cast<std::size_t>(cJSON_GetArraySize(array.get())) : 0;
    return array ? jobs_of(array.get()) : std::vector<FileUploadPacket>{};
}

// A job printed alone in the file's format: "[" + its object + "]". In a
// longer array the brackets are shared and each ", " takes their place, so
// the file is never larger than the sum of its jobs' bytes.
std::size_t upload_job_bytes(const FileUploadPacket& packet)
{
    return upload_queue_json({packet}).size();
}

int UploadQueue::read_upload_from_file(const std::string& file)
{
    std::lock_guard lock(mutex_);
    file_ = file;
    bool dropped = false;
    std::vector<FileUploadPacket> jobs = read_jobs(file, dropped);
    packets_.assign(std::make_move_iterator(jobs.begin()), std::make_move_iterator(jobs.end()));
    if (dropped)
        update_upload_to_file();
    return 0;
}

std::vector<FileUploadPacket> UploadQueue::read_jobs(const std::string& file, bool& dropped) const
{
    std::string why;
    const std::optional<std::string> text = read_bounded_file(file, limit_ * kMaxUploadJobBytes, why);
    if (!text) {
        if (!why.empty())
            set_aside(file, why);
        return {};
    }
    // The steps of the load are logged: the bytes read, the array's length,
    // the whole jobs in it, the jobs that pass the upload rule, and the
    // queue's length at the end.
    logger(-1, "userver", "", "   unupload1 file size:%d", static_cast<int>(text->size()));
    const JsonPtr array = parse_array(*text);
    if (!array) {
        set_aside(file, "not a JSON array");
        return {};
    }
    std::vector<FileUploadPacket> packets = jobs_of(array.get());
    const int elements = cJSON_GetArraySize(array.get());
    if (elements == 0)
        return packets;
    logger(-1, "userver", "", "   unupload file size:%d", elements);
    logger(-1, "userver", "", "   unupload2 file size:%d", static_cast<int>(packets.size()));
    dropped = 0 < std::erase_if(packets, [](const FileUploadPacket& packet) {
        if (!web::is_upload_path(packet.localfilename)) {
            logger(1, "userver", "", "   unupload job of %.512s dropped: not a regular .wav or .mp3 file",
                   packet.localfilename.c_str());
            return true;
        }
        if (const std::size_t bytes = upload_job_bytes(packet); bytes > kMaxUploadJobBytes) {
            logger(1, "userver", "", "   unupload job of %.512s dropped: %d bytes, over %d",
                   packet.localfilename.c_str(), static_cast<int>(bytes), static_cast<int>(kMaxUploadJobBytes));
            return true;
        }
        return false;
    });
    logger(-1, "userver", "", "   unupload3 file size:%d", static_cast<int>(packets.size()));
    if (packets.size() > limit_) {
        logger(1, "userver", "", "   unupload file holds %d jobs, only the first %d are kept",
               static_cast<int>(packets.size()), static_cast<int>(limit_));
        packets.resize(limit_);
    }
    logger(-1, "userver", "", "   unupload4 file size:%d", static_cast<int>(packets.size()));
    return packets;
}

std::optional<std::size_t> UploadQueue::push(FileUploadPacket packet, Refusal* refusal)
{
    if (const std::size_t bytes = upload_job_bytes(packet); bytes > kMaxUploadJobBytes) {
        logger(1, "userver", "", "   upload job of %.512s refused: %d bytes, over %d", packet.localfilename.c_str(),
               static_cast<int>(bytes), static_cast<int>(kMaxUploadJobBytes));
        if (refusal)
            *refusal = Refusal::kJobTooLong;
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    if (packets_.size() >= limit_) {
        if (refusal)
            *refusal = Refusal::kQueueFull;
        return std::nullopt;
    }
    packets_.push_back(std::move(packet));
    update_upload_to_file();
    return packets_.size();
}

std::optional<FileUploadPacket> UploadQueue::front() const
{
    std::lock_guard lock(mutex_);
    if (packets_.empty())
        return std::nullopt;
    return packets_.front();
}

void UploadQueue::pop_front()
{
    std::lock_guard lock(mutex_);
    if (packets_.empty())
        return;
    packets_.pop_front();
    update_upload_to_file();
}

std::size_t UploadQueue::size() const
{
    std::lock_guard lock(mutex_);
    return packets_.size();
}

void UploadQueue::clear()
{
    std::lock_guard lock(mutex_);
    packets_.clear();
}

int UploadQueue::update_upload_to_file()
{
    if (file_.empty())
        return -1;
    if (replace_file(file_, upload_queue_json(packets_)))
        return 0;
    logger(1, "userver", "", "   write upload file %s failed: %s", file_.c_str(), std::strerror(errno));
    return -1;
}
