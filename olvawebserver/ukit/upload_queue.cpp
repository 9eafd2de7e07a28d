#include "ukit/upload_queue.h"

#include <cJSON.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include <unistd.h>

#include "base/logger.h"
#include "ukit/file_rules.h"

namespace {

using JsonPtr = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

const char* member_text(const cJSON* object, const char* name)
{
    const cJSON* item = cJSON_GetObjectItem(object, name);
    return cJSON_IsString(item) ? item->valuestring : nullptr;
}

// Writes text to path whole, or not at all: a temporary file beside it is
// written, flushed to the disk and renamed over it.
bool replace_file(const std::string& path, const std::string& text)
{
    const std::string temporary = path + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file)
        return false;
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    written = std::fflush(file) == 0 && written;
    written = fsync(fileno(file)) == 0 && written;
    written = std::fclose(file) == 0 && written;
    if (written && std::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    std::remove(temporary.c_str());
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
    std::vector<FileUploadPacket> packets;
    if (elements)
        *elements = 0;
    if (text.find('\0') != std::string_view::npos)
        return packets;
    JsonPtr json(cJSON_ParseWithLength(text.data(), text.size()), &cJSON_Delete);
    if (!cJSON_IsArray(json.get()))
        return packets;
    if (elements)
        *elements = static_cast<std::size_t>(cJSON_GetArraySize(json.get()));
    const cJSON* element = nullptr;
    cJSON_ArrayForEach(element, json.get())
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

int UploadQueue::read_upload_from_file(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // The steps of the load are logged: the bytes read, the array's length,
    // the whole jobs in it, the jobs that pass the upload rule, and the
    // queue's length at the end.
    if (in.is_open())
        logger(-1, "userver", "", "   unupload1 file size:%d", static_cast<int>(text.size()));
    std::size_t elements = 0;
    std::vector<FileUploadPacket> packets = parse_upload_queue(text, &elements);
    const bool logged = elements > 0;
    std::size_t refused = 0;
    if (logged) {
        logger(-1, "userver", "", "   unupload file size:%d", static_cast<int>(elements));
        logger(-1, "userver", "", "   unupload2 file size:%d", static_cast<int>(packets.size()));
        refused = std::erase_if(packets, [](const FileUploadPacket& packet) {
            if (web::is_upload_path(packet.localfilename))
                return false;
            logger(1, "userver", "", "   unupload job of %.512s dropped: not a regular .wav or .mp3 file",
                   packet.localfilename.c_str());
            return true;
        });
        logger(-1, "userver", "", "   unupload3 file size:%d", static_cast<int>(packets.size()));
    }
    if (packets.size() > limit_) {
        logger(1, "userver", "", "   unupload file holds %d jobs, only the first %d are kept",
               static_cast<int>(packets.size()), static_cast<int>(limit_));
        packets.resize(limit_);
    }
    std::size_t queued = 0;
    {
        std::lock_guard lock(mutex_);
        file_ = file;
        packets_.assign(std::make_move_iterator(packets.begin()), std::make_move_iterator(packets.end()));
        if (refused > 0)
            update_upload_to_file();
        queued = packets_.size();
    }
    if (logged)
        logger(-1, "userver", "", "   unupload4 file size:%d", static_cast<int>(queued));
    return 0;
}

std::optional<std::size_t> UploadQueue::push(FileUploadPacket packet)
{
    std::lock_guard lock(mutex_);
    if (packets_.size() >= limit_)
        return std::nullopt;
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
