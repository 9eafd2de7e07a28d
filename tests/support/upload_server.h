// A local HTTP server for upload tests: Beast on a loopback port, on a
// thread of its own. It keeps every request it gets, with the parts of a
// multipart/form-data body taken apart by its own parser, and answers as
// the test says: a status and body, or not at all until released.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/web_client.h"

namespace olva_test {

struct FormPart {
    std::string name;
    std::optional<std::string> filename;
    std::string content_type;  // empty when the part has none
    std::string data;
};

struct ReceivedRequest {
    std::string method;
    std::string target;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    // The form, when the content type is multipart/form-data and the body
    // parses as one; else empty.
    std::vector<FormPart> parts;
    // The named part, or null.
    const FormPart* part(const std::string& name) const;
};

struct ServerReply {
    int status = 200;
    std::string body;
    // Answer nothing until release() or the server's end.
    bool hold = false;
};

// Takes apart a multipart/form-data body; nothing when it is not one.
std::optional<std::vector<FormPart>> parse_multipart(const std::string& content_type,
                                                     const std::string& body);

class UploadServer {
public:
    UploadServer();
    ~UploadServer();
    UploadServer(const UploadServer&) = delete;
    UploadServer& operator=(const UploadServer&) = delete;

    unsigned short port() const { return port_; }
    std::string url(const std::string& path = "/upload") const;

    // The answer to every later request.
    void reply_with(ServerReply reply);
    // Answers held requests with the reply now set.
    void release();

    std::vector<ReceivedRequest> requests() const;
    std::size_t request_count() const;
    // Waits until count requests have arrived.
    bool wait_for_requests(std::size_t count, std::chrono::milliseconds timeout = kWait) const;

    struct State;

private:
    std::unique_ptr<State> state_;
    unsigned short port_ = 0;
};

}  // namespace olva_test
