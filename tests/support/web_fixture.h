// A running web service over the fake device library, in a temporary
// application directory, with a tray that records what it is asked to show.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/fake_olva.h"
#include "support/fake_paths.h"
#include "support/recording_tray.h"
#include "support/temp_dir.h"
#include "support/web_client.h"
#include "ukit/olva_mgr.h"

namespace olva_test {

// The compact JSON text in cJSON's formatted print: what a reply of the
// HTTP API holding these members in this order must read.
std::string formatted_json(const std::string& compact);

// Whether Python, which we did not write, reads text as strict UTF-8
// (python_reads_utf8), holding one JSON value (python_reads_json); nothing
// when python3 is not installed. dir holds the text's file while it is read.
std::optional<bool> python_reads_utf8(const std::string& text, const TempDir& dir);
std::optional<bool> python_reads_json(const std::string& text, const TempDir& dir);

class WebServiceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes config.ini ("[CONFIG]", HttpPort=0 unless config sets it, then
    // config) and starts the service; the test fails when it does not start.
    void start(const std::string& config = "");
    // start() over TLS with a certificate of its own for "localhost"
    // (tls.pem in the application directory), plus the config lines given;
    // skips the test when the openssl command is missing.
    void start_tls(const std::string& config = "");
    ClientOptions client_options() const;
    // A WebSocket client that has received its greeting.
    std::unique_ptr<WsClient> connect();
    // One HTTP request to the running service.
    HttpResult request(const std::string& target, const std::string& body = "",
                       const std::string& method = "POST") const;
    // Sends {"event":"getinfo"} and returns the next message.
    std::string getinfo(WsClient& client);
    // Everything the service has logged so far.
    std::string log_text() const;
    // Waits until the log holds the text; the web thread writes it.
    bool wait_for_log(const std::string& text) const;
    // Raises an event from a library thread.
    void raise(unsigned long handle, int event, unsigned long p1 = 0, unsigned long p2 = 0,
               unsigned long p3 = 0, unsigned long p4 = 0);

    TempDir temp_;
    std::string app_dir_;  // without a final '/'
    FakePaths paths_;      // the fake library's application directory: app_dir_
    WebOptions options_;
    RecordingTray tray_;
    unsigned short port_ = 0;
};

}  // namespace olva_test
