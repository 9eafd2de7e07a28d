#include "ukit/upload_transfer.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>

#include <sys/stat.h>
#include <unistd.h>

#include "base/logger.h"
#include "ukit/file_rules.h"
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
// Uploads go to web servers only, redirects included: a page must not have
// a file read back (file://) or raw bytes written to a local service
// (gopher://, dict://, telnet://...).
constexpr const char* kUploadProtocols = "http,https";

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
    char error[CURL_ERROR_SIZE] = "";  // why the transfer failed, in libcurl's words
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

// libcurl's own account of a failed transfer (a certificate that names
// another host, say), else the code's general text.
const char* failure_reason(const Reply& reply, CURLcode res)
{
    return reply.error[0] != '\0' ? reply.error : curl_easy_strerror(res);
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

// The settings both uploads share; the libcurl code of a protocol limit
// that cannot be set, when the transfer must not run.
CURLcode set_common(CURL* curl, const std::string& url, std::chrono::milliseconds timeout,
                    const std::string& ca_file, curl_slist* headers, curl_mime* form, Reply& reply,
                    const std::atomic<bool>& stop)
{
    for (const CURLoption limit : {CURLOPT_PROTOCOLS_STR, CURLOPT_REDIR_PROTOCOLS_STR}) {
        const CURLcode res = curl_easy_setopt(curl, limit, kUploadProtocols);
        if (res != CURLE_OK) {
            logger(1, "olva upload", "", "upload protocols cannot be limited to %s: %s", kUploadProtocols,
                   curl_easy_strerror(res));
            return res;
        }
    }
    // Recordings of private calls go only to the server the address names:
    // its certificate must lead to an authority of the system's store (or
    // of ca_file) and name the host.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!ca_file.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, ca_file.c_str());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, reply.error);
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
    return CURLE_OK;
}

bool add_text_field(curl_mime* form, const char* name, const std::string& value)
{
    curl_mimepart* part = curl_mime_addpart(form);
    return part && curl_mime_name(part, name) == CURLE_OK &&
           curl_mime_data(part, value.c_str(), CURL_ZERO_TERMINATED) == CURLE_OK;
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

}  // namespace

// The local file of an upload, opened by the upload rule (file_rules.h) and
// read by libcurl through the descriptor, so that the file sent is the one
// checked, whatever is put at its path meanwhile.
class UploadFile {
public:
    enum class Status { kOk, kNotOpened, kNoLength };

    explicit UploadFile(const std::string& path) : path_(path), fd_(web::open_upload_file(path))
    {
        struct stat st {};
        if (fd_ < 0) {
            status_ = Status::kNotOpened;
            why_ = errno == EINVAL ? "not a regular .wav or .mp3 file" : std::strerror(errno);
        } else if (fstat(fd_, &st) != 0) {
            status_ = Status::kNoLength;
            why_ = std::strerror(errno);
        } else {
            size_ = st.st_size;
        }
    }
    ~UploadFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    UploadFile(const UploadFile&) = delete;
    UploadFile& operator=(const UploadFile&) = delete;

    Status status() const { return status_; }
    const char* why() const { return why_; }

    // The part "file", named after the file as libcurl names a file part.
    bool add_part(curl_mime* form)
    {
        const std::size_t slash = path_.rfind('/');
        const std::string name = slash == std::string::npos ? path_ : path_.substr(slash + 1);
        curl_mimepart* part = curl_mime_addpart(form);
        return part && curl_mime_name(part, "file") == CURLE_OK &&
               curl_mime_data_cb(part, size_, &UploadFile::read, &UploadFile::seek, nullptr, this) == CURLE_OK &&
               curl_mime_filename(part, name.c_str()) == CURLE_OK &&
               curl_mime_type(part, kFileContentType) == CURLE_OK;
    }

private:
    static std::size_t read(char* buffer, std::size_t size, std::size_t count, void* user)
    {
        auto* file = static_cast<UploadFile*>(user);
        const ssize_t got = ::read(file->fd_, buffer, size * count);
        if (got < 0) {
            logger(1, "olva upload", "", "read upload file %s failed: %s", file->path_.c_str(), std::strerror(errno));
            return CURL_READFUNC_ABORT;
        }
        return static_cast<std::size_t>(got);
    }
    // libcurl rewinds the part when it sends the body again.
    static int seek(void* user, curl_off_t offset, int origin)
    {
        auto* file = static_cast<UploadFile*>(user);
        return lseek(file->fd_, static_cast<off_t>(offset), origin) < 0 ? CURL_SEEKFUNC_FAIL : CURL_SEEKFUNC_OK;
    }

    std::string path_;
    int fd_;
    curl_off_t size_ = 0;
    Status status_ = Status::kOk;
    const char* why_ = "";
};

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
    UploadFile file(localfilename);
    switch (file.status()) {
    case UploadFile::Status::kNotOpened:
        logger(1, "olva upload", "", "open upload file %s failed: %s", localfilename.c_str(), file.why());
        return upload::failure_text(upload::kOpenFailed);
    case UploadFile::Status::kNoLength:
        logger(1, "olva upload", "", "get file %s  size is failed ", localfilename.c_str());
        return upload::failure_text(upload::kSizeFailed);
    case UploadFile::Status::kOk:
        break;
    }

    const CurlPtr curl = new_transfer();
    const MimePtr form(curl ? curl_mime_init(curl.get()) : nullptr);
    const HeaderPtr header_list = headers({kFormContentType, kNoExpect});
    if (!form || !header_list || !add_text_field(form.get(), "bucketName", bucketName) ||
        !add_text_field(form.get(), "localfilename", localfilename) ||
        !add_text_field(form.get(), "objectName", objectName) || !file.add_part(form.get())) {
        logger(1, "olva upload", "", "uploadform cannot be built");
        return upload::perform_failed_text(CURLE_FAILED_INIT);
    }
    Reply reply;
    if (const CURLcode res =
            set_common(curl.get(), url, timeouts_.form, ca_file_, header_list.get(), form.get(), reply, stop_);
        res != CURLE_OK)
        return upload::perform_failed_text(res);
    const CURLcode res = curl_easy_perform(curl.get());
    if (res != CURLE_OK) {
        logger(1, "olva upload", "", "uploadform perform failed,%d: %s", res, failure_reason(reply, res));
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
        UploadFile file(path);
        switch (file.status()) {
        case UploadFile::Status::kNotOpened:
            logger(1, "olva upload", "", "paramName is null");
            logger(1, "olva upload", "", "open upload file %s failed: %s", path.c_str(), file.why());
            return kPlainOpenFailed;
        case UploadFile::Status::kNoLength:
            logger(1, "olva upload", "", "file len is -1");
            return kPlainLengthFailed;
        case UploadFile::Status::kOk:
            break;
        }
        return plain_upload(url, file);
    } catch (const std::exception&) {
        logger(1, "userver", "", " upload except");
        return kPlainPerformFailed;
    }
}

int UploadTransfer::plain_upload(const std::string& url, UploadFile& file) const
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
    if (!form || !header_list || !file.add_part(form.get())) {
        logger(1, "olva upload", "", "formpost is  NULL");
        return kPlainFormFailed;
    }
    Reply reply;
    reply.log_size = true;
    if (set_common(curl.get(), url, timeouts_.plain, ca_file_, header_list.get(), form.get(), reply, stop_) != CURLE_OK)
        return kPlainPerformFailed;
    const CURLcode res = curl_easy_perform(curl.get());
    if (res != CURLE_OK) {
        logger(1, "olva upload", "", " perform failed, res;%d: %s", res, failure_reason(reply, res));
        return kPlainPerformFailed;
    }
    return reply.replied ? kPlainReplied : kPlainNoReply;
}
