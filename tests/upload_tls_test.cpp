// Uploads over https reach only a server whose certificate names the host
// and leads to an authority we trust. The server is Python's ssl module
// (tests/support/form_server.py) showing certificates that the openssl
// command makes here: from an authority of the test's own or self-signed,
// for 127.0.0.1 or for another name. The machine's store of authorities is
// never touched: the trusted case hands the test authority to the upload
// as its store.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/form_server.h"
#include "support/temp_dir.h"
#include "ukit/upload_result.h"
#include "ukit/upload_transfer.h"
#include "ukit/upload_worker.h"

namespace olva_test {
namespace {

using namespace std::chrono_literals;

constexpr int kPeerFailedVerification = 60;  // CURLE_PEER_FAILED_VERIFICATION
constexpr const char* kNewKey = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";

// A certificate and its key, as PEM files of the test directory.
struct ServerIdentity {
    std::string cert;
    std::string key;
};

class UploadTlsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!have_program("python3"))
            GTEST_SKIP() << "the TLS form server needs python3";
        if (!have_program("openssl"))
            GTEST_SKIP() << "the test certificates need the openssl command";
        ASSERT_TRUE(openssl("req -x509 " + std::string(kNewKey) +
                            " -keyout ca.key -out ca.pem -days 2 -subj '/CN=Upload test authority'"));
        writeFile(temp_.file("call.wav"), audio_);
    }

    bool openssl(const std::string& arguments) const
    {
        const std::string command = "cd '" + temp_.path() + "' && openssl " + arguments + " >>openssl.log 2>&1";
        return std::system(command.c_str()) == 0;
    }

    // A certificate for subject_alt_name ("IP:127.0.0.1", "DNS:...") from
    // the test authority.
    ServerIdentity from_authority(const std::string& name, const std::string& subject_alt_name) const
    {
        writeFile(temp_.file(name + ".ext"), "subjectAltName=" + subject_alt_name +
                                                 "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n");
        EXPECT_TRUE(openssl("req " + std::string(kNewKey) + " -keyout " + name + ".key -out " + name +
                            ".csr -subj /CN=upload-server"));
        EXPECT_TRUE(openssl("x509 -req -in " + name + ".csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -out " +
                            name + ".pem -extfile " + name + ".ext"))
            << readFile(temp_.file("openssl.log"));
        return {temp_.file(name + ".pem"), temp_.file(name + ".key")};
    }

    // A certificate for 127.0.0.1 that vouches for itself.
    ServerIdentity self_signed() const
    {
        EXPECT_TRUE(openssl("req -x509 " + std::string(kNewKey) +
                            " -keyout self.key -out self.pem -days 2 -subj /CN=127.0.0.1"
                            " -addext subjectAltName=IP:127.0.0.1"))
            << readFile(temp_.file("openssl.log"));
        return {temp_.file("self.pem"), temp_.file("self.key")};
    }

    // An https form server showing identity; its address, and the folder
    // where it keeps the files it receives.
    struct TlsServer {
        FormServerProcess server;
        std::string url;
        std::string received;
    };
    std::optional<TlsServer> start_server(const std::string& name, const ServerIdentity& identity)
    {
        const std::string received = temp_.file(name + "-received");
        std::filesystem::create_directories(received);
        std::string error;
        std::optional<FormServerProcess> server =
            start_form_server(received, temp_.file(name + ".log"), &error, identity.cert, identity.key);
        EXPECT_TRUE(server) << error;
        if (!server)
            return std::nullopt;
        const std::string url = "https://127.0.0.1:" + server->port + "/up";
        return TlsServer{std::move(*server), url, received};
    }

    static bool received_nothing(const TlsServer& server)
    {
        return std::filesystem::is_empty(server.received);
    }

    TempDir temp_;
    const std::string audio_ = std::string("RIFF\0\0\0\0WAVE", 12) + std::string(4000, 'a');
    std::atomic<bool> stop_{false};
    const UploadTimeouts timeouts_{10s, 10s};
};

// Refused servers: the form upload fails as a failed transfer and the plain
// upload with its perform code, and neither sends the recording.
TEST_F(UploadTlsTest, ServersTheStoreDoesNotVouchForGetNothing)
{
    const std::string authority = temp_.file("ca.pem");
    const struct {
        const char* what;
        ServerIdentity identity;
        std::string store;  // empty: the system's own
    } cases[] = {
        {"self-signed, for this host", self_signed(), ""},
        {"from an authority the system does not know, for this host", from_authority("here", "IP:127.0.0.1"), ""},
        {"from a trusted authority, for another name", from_authority("other", "DNS:uploads.other.test"),
         authority},
        {"from a trusted authority, for another address", from_authority("elsewhere", "IP:127.0.0.2"), authority},
    };
    int server_number = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<TlsServer> server = start_server("server" + std::to_string(++server_number), c.identity);
        ASSERT_TRUE(server);
        const UploadTransfer transfer(timeouts_, stop_, c.store);
        EXPECT_EQ(transfer.UploadFormFile(server->url, "bucket-1", temp_.file("call.wav"), "a.wav", ""),
                  upload::perform_failed_text(kPeerFailedVerification));
        EXPECT_EQ(transfer.UploadFileEx(server->url, "file", temp_.file("call.wav")),
                  UploadTransfer::kPlainPerformFailed);
        EXPECT_TRUE(received_nothing(*server));
    }
}

// A server whose certificate names the host and comes from an authority in
// the store gets the recording whole.
TEST_F(UploadTlsTest, ServerTheStoreVouchesForGetsTheRecording)
{
    std::optional<TlsServer> server = start_server("trusted", from_authority("trusted", "IP:127.0.0.1"));
    ASSERT_TRUE(server);
    const UploadTransfer transfer(timeouts_, stop_, temp_.file("ca.pem"));
    const std::string result = transfer.UploadFormFile(server->url, "bucket-1", temp_.file("call.wav"), "a.wav", "");
    EXPECT_EQ(upload::judge_form_result(result), upload::Verdict::kSuccess) << result;
    EXPECT_EQ(readFile(server->received + "/3.bin"), audio_);
}

// The upload thread, with the system's store, reports a refused server's
// job as failed to the browsers, and the server gets nothing.
TEST_F(UploadTlsTest, QueuedJobToAnUnverifiedServerIsReportedFailed)
{
    std::optional<TlsServer> server = start_server("self", self_signed());
    ASSERT_TRUE(server);
    UploadQueue queue;
    queue.read_upload_from_file(temp_.file("uploadfile.json"));
    std::mutex mutex;
    std::vector<UploadReport> reports;
    UploadWorker worker(queue, timeouts_, [&](const UploadReport& report) {
        std::lock_guard lock(mutex);
        reports.push_back(report);
    });
    queue.push(FileUploadPacket{server->url, "bucket-1", "a.wav", temp_.file("call.wav"), "", 1});
    EXPECT_TRUE(worker.upload_pass());
    std::lock_guard lock(mutex);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].result, upload::perform_failed_text(kPeerFailedVerification));
    EXPECT_EQ(upload::judge_form_result(reports[0].result), upload::Verdict::kFailed);
    EXPECT_EQ(queue.size(), 1u);  // tried again on the next pass, as any failure
    EXPECT_TRUE(received_nothing(*server));
}

}  // namespace
}  // namespace olva_test
