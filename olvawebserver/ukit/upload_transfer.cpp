#include "ukit/upload_transfer.h"

#include <curl/curl.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>

#include "logger.h"
#include "ukit/upload_result.h"

namespace {

// A server's reply is kept up to this size; a longer one ends the transfer
// as failed, so that no server can fill our memory.
constexpr std::size_t kMaxReplyBytes = 64 * 1024;

constexpr const char* kFileContentType = "application/octet-stream";
// The form's text fields are UTF-8: said in the request's content type, to
// which libcurl adds the boundary.
constexpr const char* kFormContentType = "Content-Type: multipart/form-data; charset=UTF-8";
// Without it libcurl would wait for "100 Continue" before sending the body.
constexpr const char* kNoExpect = "Expect:";

struct CurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
    void operator()(curl_mime* mime) const { curl_mime_free(mime); }
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlPtr = std::unique_ptr<CURL, CurlDeleter>;
using MimePtr = std::unique_ptr<curl_mime, CurlDeleter>;
using HeaderPtr = std::unique_ptr<curl_slist, CurlDeleter>;

struct Reply {
    std::string body;
    bool replied = false;
    bool log_size = false;  // the plain upload logs every piece
};

std::size_t on_reply(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* reply = static_cast<Reply*>(user);
    const std::size_t bytes = size * count;
    if (reply->log_size)
        logger(4, "upload", "", "upload size:%d", static_cast<int>(bytes));
    reply->replied = true;
    if (reply->body.size() + bytes > kMaxReplyBytes) {
        logger(1, "olva upload", "", "upload reply longer than %d bytes", static_cast<int>(kMaxReplyBytes));
        return 0;
    }
    reply->body.append(data, bytes);
    return bytes;
}

// Called by libcurl while the transfer runs, at least about once a second
// while it waits for the server: a set stop flag aborts it.
int on_progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<const std::atomic<bool>*>(user)->load() ? 1 : 0;
}

CurlPtr new_transfer()
{
    static std::once_flag global_init;
    std::call_once(global_init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    return CurlPtr(curl_easy_init());
}

// The settings both uploads share.
void set_common(CURL* curl, const std::string& url, std::chrono::milliseconds timeout,
                curl_slist* headers, curl_mime* form, Reply& reply, const std::atomic<bool>& stop)
{
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_MIMEPOST, form);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, on_reply);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, on_progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &stop);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
}

bool add_text_field(curl_mime* form, const char* name, const std::string& value)
{
    curl_mimepart* part = curl_mime_addpart(form);
    return part && curl_mime_name(part, name) == CURLE_OK &&
           curl_mime_data(part, value.c_str(), CURL_ZERO_TERMINATED) == CURLE_OK;
}

bool add_file_part(curl_mime* form, const std::string& path)
{
    curl_mimepart* part = curl_mime_addpart(form);
    return part && curl_mime_name(part, "file") == CURLE_OK &&
           curl_mime_filedata(part, path.c_str()) == CURLE_OK &&
           curl_mime_type(part, kFileContentType) == CURLE_OK;
}

HeaderPtr headers(std::initializer_list<const char*> lines)
{
    curl_slist* list = nullptr;
    for (const char* line : lines) {
        curl_slist* longer = curl_slist_append(list, line);
        if (!longer) {
            curl_slist_free_all(list);
            return nullptr;
        }
        list = longer;
    }
    return HeaderPtr(list);
}

enum class FileCheck { kOk, kNotOpened, kNoLength };

FileCheck check_file(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return FileCheck::kNotOpened;
    const long length = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
    std::fclose(file);
    return length == -1 ? FileCheck::kNoLength : FileCheck::kOk;
}

}  // namespace

std::string UploadTransfer::UploadFormFile(const std::string& url, const std::string& bucketName,
                                           const std::string& localfilename,
                                           const std::string& objectName,
                                           const std::string& customFiled) const
{
    try {
        return form_upload(url, bucketName, localfilename, objectName, customFiled);
    } catch (const std::exception&) {
        logger(1, "userver", "", " upload except");
        return upload::perform_failed_text(-1);
    }
}

std::string UploadTransfer::form_upload(const std::string& url, const std::string& bucketName,
                                        const std::string& localfilename,
                                        const std::string& objectName,
                                        const std::string& customFiled) const
{
    const struct {
        const std::string& value;
        const char* log;
        const char* failure;
    } kRequired[] = {
        {url, "Url is null", upload::kUrlNull},
        {bucketName, "UserId is null", upload::kBucketNull},
        {localfilename, "localfilename is null", upload::kLocalFileNull},
        {objectName, "uploadFilename is null", upload::kObjectNull},
    };
    for (const auto& required : kRequired) {
        if (required.value.empty()) {
            logger(1, "olva upload", "", "%s", required.log);
            return upload::failure_text(required.failure);
        }
    }
    switch (check_file(localfilename)) {
    case FileCheck::kNotOpened:
        logger(1, "olva upload", "", "open upload file %s failed", localfilename.c_str());
        return upload::failure_text(upload::kOpenFailed);
    case FileCheck::kNoLength:
        logger(1, "olva upload", "", "get file %s  size is failed ", localfilename.c_str());
        return upload::failure_text(upload::kSizeFailed);
    case FileCheck::kOk:
        break;
    }

    const CurlPtr curl = new_transfer();
    const MimePtr form(curl ? curl_mime_init(curl.get()) : nullptr);
    const HeaderPtr header_list = headers({kFormContentType, kNoExpect});
    if (!form || !header_list || !add_text_field(form.get(), "bucketName", bucketName) ||
        !add_text_field(form.get(), "localfilename", localfilename) ||
        !add_text_field(form.get(), "objectName", objectName) ||
        !add_file_part(form.get(), localfilename)) {
        logger(1, "olva upload", "", "uploadform cannot be built");
        return upload::perform_failed_text(CURLE_FAILED_INIT);
    }
    Reply reply;
    set_common(curl.get(), url, timeouts_.form, header_list.get(), form.get(), reply, stop_);
    if (url.find("https") != std::string::npos) {
        // Upload servers often show certificates of their own making.
        curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(curl.get(), CURLOPT_SSL_VERIFYHOST, 0L);
    }
    const CURLcode res = curl_easy_perform(curl.get());
    if (res != CURLE_OK) {
        logger(1, "olva upload", "", "uploadform perform failed,%d: %s", res, curl_easy_strerror(res));
        return upload::perform_failed_text(res);
    }
    long status = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
    logger(4, "olva upload", "", "upload response code0(%d) ", static_cast<int>(status));
    if (!reply.replied)
        logger(4, "olva upload", "", "upload no response data, response code(%d) ", static_cast<int>(status));
    else if (reply.body.size() <= 1)
        logger(4, "olva upload", "", "upload response code(%d) ", static_cast<int>(status));
    return upload::form_reply_result(reply.replied, reply.body, status, customFiled);
}

int UploadTransfer::UploadFileEx(const std::string& url, const std::string& paramName,
                                 const std::string& path) const
{
    try {
        if (url.empty()) {
            logger(1, "olva upload", "", "Url is null");
            return kPlainUrlNull;
        }
        if (paramName.empty()) {
            logger(1, "olva upload", "", "paramName is null");
            return kPlainParamNull;
        }
        if (path.empty()) {
            logger(1, "olva upload", "", "paramName is null");
            return kPlainPathNull;
        }
        switch (check_file(path)) {
        case FileCheck::kNotOpened:
            logger(1, "olva upload", "", "paramName is null");
            return kPlainOpenFailed;
        case FileCheck::kNoLength:
            logger(1, "olva upload", "", "file len is -1");
            return kPlainLengthFailed;
        case FileCheck::kOk:
            break;
        }
        return plain_upload(url, path);
    } catch (const std::exception&) {
        logger(1, "userver", "", " upload except");
        return kPlainPerformFailed;
    }
}

int UploadTransfer::plain_upload(const std::string& url, const std::string& path) const
{
    const CurlPtr curl = new_transfer();
    if (!curl) {
        logger(1, "olva upload", "", " create curl failed");
        return kPlainNoHandle;
    }
    // The parameter name is checked but not sent: plain post fields and a
    // form cannot share one transfer, and servers take this upload's form.
    const MimePtr form(curl_mime_init(curl.get()));
    const HeaderPtr header_list = headers({kNoExpect});
    if (!form || !header_list || !add_file_part(form.get(), path)) {
        logger(1, "olva upload", "", "formpost is  NULL");
        return kPlainFormFailed;
    }
    Reply reply;
    reply.log_size = true;
    set_common(curl.get(), url, timeouts_.plain, header_list.get(), form.get(), reply, stop_);
    const CURLcode res = curl_easy_perform(curl.get());
    if (res != CURLE_OK) {
        logger(1, "olva upload", "", " perform failed, res;%d", res);
        return kPlainPerformFailed;
    }
    return reply.replied ? kPlainReplied : kPlainNoReply;
}
