// One outbound upload through libcurl: the multipart form of a queued job,
// or the plain file upload. Each runs on its caller's thread and can be
// stopped from another thread through the stop flag, which libcurl's
// progress callback reads while the transfer waits.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <utility>

class UploadFile;

struct UploadTimeouts {
    std::chrono::milliseconds form{30000};   // total time of one form upload
    std::chrono::milliseconds plain{10000};  // total time of one plain upload
};

class UploadTransfer {
public:
    // Result codes of UploadFileEx.
    enum PlainCode {
        kPlainReplied = 0,
        kPlainUrlNull = -1,
        kPlainParamNull = -2,
        kPlainPathNull = -3,
        kPlainOpenFailed = -4,
        kPlainLengthFailed = -5,
        kPlainPerformFailed = -6,
        kPlainNoReply = -7,
        kPlainNoHandle = -8,
        kPlainFormFailed = -9,
    };

    // stop must outlive the object. An https server must show a certificate
    // that the system's store of authorities vouches for, naming the host;
    // ca_file, when given, is the store instead (tests trust an authority of
    // their own through it).
    UploadTransfer(const UploadTimeouts& timeouts, const std::atomic<bool>& stop, std::string ca_file = {})
        : timeouts_(timeouts), stop_(stop), ca_file_(std::move(ca_file))
    {
    }

    // One form upload; the result text for browsers (upload_result.h).
    std::string UploadFormFile(const std::string& url, const std::string& bucketName,
                               const std::string& localfilename, const std::string& objectName,
                               const std::string& customFiled) const;
    // One plain upload of the file at path; a PlainCode.
    int UploadFileEx(const std::string& url, const std::string& paramName,
                     const std::string& path) const;

private:
    std::string form_upload(const std::string& url, const std::string& bucketName,
                            const std::string& localfilename, const std::string& objectName,
                            const std::string& customFiled) const;
    int plain_upload(const std::string& url, UploadFile& file) const;

    UploadTimeouts timeouts_;
    const std::atomic<bool>& stop_;
    std::string ca_file_;
};
