// The uploads through libcurl against a local Beast server that takes the
// requests apart itself: the form and the plain upload as servers receive
// them, the time-out, the stop that aborts a hanging transfer, and the
// upload thread's retries.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/busy_port.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/upload_server.h"
#include "ukit/upload_result.h"
#include "ukit/upload_transfer.h"
#include "ukit/upload_worker.h"

namespace olva_test {
namespace {

using namespace std::chrono_literals;

// Bytes a text field could not carry unchanged: NUL, CR LF, high bytes.
const std::string kAudio = std::string("RIFF\0\0\r\n\xff\xfe", 10) + std::string(70000, 'a');

class UploadTransferTest : public ::testing::Test {
protected:
    void SetUp() override { writeFile(audio_, kAudio); }

    std::string form(const std::string& url, const std::string& custom = "")
    {
        return transfer_.UploadFormFile(url, "bucket-1", audio_, "calls/2024/a.wav", custom);
    }

    TempDir temp_;
    std::string audio_ = temp_.file("录音 1.wav");
    UploadServer server_;
    std::atomic<bool> stop_{false};
    UploadTimeouts timeouts_{2000ms, 2000ms};
    UploadTransfer transfer_{timeouts_, stop_};
};

TEST_F(UploadTransferTest, FormReachesTheServerAsItsFieldsAndFile)
{
    server_.reply_with({200, R"({"code":"success","id":"x1"})"});
    EXPECT_EQ(form(server_.url("/up?x=1")), R"({"code":"success","id":"x1"})");
    ASSERT_EQ(server_.request_count(), 1u);
    const ReceivedRequest request = server_.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/up?x=1");
    EXPECT_EQ(request.headers.count("expect"), 0u);
    EXPECT_TRUE(request.headers.at("content-type").starts_with("multipart/form-data; charset=UTF-8; boundary="))
        << request.headers.at("content-type");
    ASSERT_EQ(request.parts.size(), 4u) << request.body.substr(0, 400);
    const struct {
        const char* name;
        std::string data;
    } fields[] = {{"bucketName", "bucket-1"}, {"localfilename", audio_}, {"objectName", "calls/2024/a.wav"}};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        EXPECT_EQ(request.parts[i].name, fields[i].name);
        EXPECT_EQ(request.parts[i].data, fields[i].data);
        EXPECT_FALSE(request.parts[i].filename);
    }
    const FormPart& file = request.parts[3];
    EXPECT_EQ(file.name, "file");
    EXPECT_EQ(file.filename, "录音 1.wav");
    EXPECT_EQ(file.content_type, "application/octet-stream");
    EXPECT_EQ(file.data, kAudio);
}

TEST_F(UploadTransferTest, FormResultFromWhatTheServerSays)
{
    const struct {
        ServerReply reply;
        std::string custom;
        std::string result;
    } cases[] = {
        {{204, ""}, "12345", upload::success_text()},
        {{204, ""}, "123456", upload::success_text("123456")},
        {{200, R"({"code":500})"}, "", R"({"code":500})"},
        {{500, "Internal Server Error"}, "", upload::failure_text(upload::kNoResponse)},
        {{404, ""}, "", upload::failure_text(upload::kNoResponse)},
    };
    for (const auto& c : cases) {
        server_.reply_with(c.reply);
        EXPECT_EQ(form(server_.url(), c.custom), c.result) << c.reply.status << " " << c.reply.body;
    }
}

TEST_F(UploadTransferTest, FormChecksBeforeAnyTransfer)
{
    const std::string url = server_.url();
    const struct {
        std::string url, bucket, local, object;
        const char* message;
    } cases[] = {
        {"", "b", audio_, "o", upload::kUrlNull},
        {url, "", audio_, "o", upload::kBucketNull},
        {url, "b", "", "o", upload::kLocalFileNull},
        {url, "b", audio_, "", upload::kObjectNull},
        {url, "b", temp_.file("missing.wav"), "o", upload::kOpenFailed},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(transfer_.UploadFormFile(c.url, c.bucket, c.local, c.object, ""),
                  upload::failure_text(c.message));
    }
    EXPECT_EQ(server_.request_count(), 0u);
}

TEST_F(UploadTransferTest, ServerDownOrSilentFailsTheTransfer)
{
    const unsigned short down = free_loopback_port();
    EXPECT_EQ(form("http://127.0.0.1:" + std::to_string(down) + "/u"),
              upload::perform_failed_text(7));  // CURLE_COULDNT_CONNECT

    // A listener that never answers: the time-out ends the wait.
    BusyPort silent;
    UploadTransfer quick(UploadTimeouts{300ms, 300ms}, stop_);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(quick.UploadFormFile("http://127.0.0.1:" + std::to_string(silent.port()) + "/u", "b", audio_,
                                   "o", ""),
              upload::perform_failed_text(28));  // CURLE_OPERATION_TIMEDOUT
    EXPECT_EQ(quick.UploadFileEx("http://127.0.0.1:" + std::to_string(silent.port()) + "/u", "file", audio_),
              UploadTransfer::kPlainPerformFailed);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1900ms);
}

TEST_F(UploadTransferTest, OverlongReplyFailsTheTransfer)
{
    server_.reply_with({200, "{\"a\":\"" + std::string(100 * 1024, 'x') + "\"}"});
    EXPECT_EQ(form(server_.url()), upload::perform_failed_text(23));  // CURLE_WRITE_ERROR
}

TEST_F(UploadTransferTest, PlainUploadSendsTheFileOnly)
{
    server_.reply_with({200, "ok"});
    EXPECT_EQ(transfer_.UploadFileEx(server_.url(), "file", audio_), UploadTransfer::kPlainReplied);
    ASSERT_EQ(server_.request_count(), 1u);
    const ReceivedRequest request = server_.requests()[0];
    EXPECT_EQ(request.headers.count("expect"), 0u);
    ASSERT_EQ(request.parts.size(), 1u);
    EXPECT_EQ(request.parts[0].name, "file");
    EXPECT_EQ(request.parts[0].content_type, "application/octet-stream");
    EXPECT_EQ(request.parts[0].data, kAudio);

    server_.reply_with({200, ""});
    EXPECT_EQ(transfer_.UploadFileEx(server_.url(), "file", audio_), UploadTransfer::kPlainNoReply);
}

TEST_F(UploadTransferTest, PlainUploadCodes)
{
    const std::string url = server_.url();
    const struct {
        std::string url, param, path;
        int code;
    } cases[] = {
        {"", "file", audio_, UploadTransfer::kPlainUrlNull},
        {url, "", audio_, UploadTransfer::kPlainParamNull},
        {url, "file", "", UploadTransfer::kPlainPathNull},
        {url, "file", temp_.file("missing.wav"), UploadTransfer::kPlainOpenFailed},
        {"http://127.0.0.1:" + std::to_string(free_loopback_port()), "file", audio_,
         UploadTransfer::kPlainPerformFailed},
    };
    for (const auto& c : cases)
        EXPECT_EQ(transfer_.UploadFileEx(c.url, c.param, c.path), c.code) << c.url << "|" << c.param << "|" << c.path;
    EXPECT_EQ(server_.request_count(), 0u);
}

// What is not a regular recording is neither sent nor waited on: a FIFO,
// a link (even to a recording), a folder and any other file fail at once
// as a file that does not open, and no request is made.
TEST_F(UploadTransferTest, OnlyRegularRecordingsAreSent)
{
    writeFile(temp_.file("passwd"), "root:x:0:0");
    std::filesystem::create_symlink(audio_, temp_.file("link.wav"));
    std::filesystem::create_directory(temp_.file("folder.mp3"));
    const std::string fifo = temp_.file("fifo.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Should a FIFO be waited on, writers come after a while to free the
    // test, which then fails on the time taken.
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread rescuer([&] {
        std::unique_lock lock(mutex);
        auto patience = std::chrono::milliseconds(5s);
        while (!finished.wait_for(lock, patience, [&] { return done; })) {
            const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                close(fd);
            patience = 50ms;
        }
    });
    const std::string refused[] = {fifo, temp_.file("passwd"), temp_.file("link.wav"), temp_.file("folder.mp3")};
    const auto begin = std::chrono::steady_clock::now();
    for (const std::string& path : refused) {
        SCOPED_TRACE(path);
        EXPECT_EQ(transfer_.UploadFormFile(server_.url(), "b", path, "o", ""),
                  upload::failure_text(upload::kOpenFailed));
        EXPECT_EQ(transfer_.UploadFileEx(server_.url(), "file", path), UploadTransfer::kPlainOpenFailed);
    }
    const auto took = std::chrono::steady_clock::now() - begin;
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    finished.notify_all();
    rescuer.join();
    EXPECT_LT(took, 2s);
    EXPECT_EQ(server_.request_count(), 0u);
}

// libcurl speaks http and https only: a file:// address does not hand the
// file back as the result, and gopher:// or dict:// write nothing to a
// local service.
TEST_F(UploadTransferTest, OnlyHttpAndHttpsAreSpoken)
{
    const std::string secret = temp_.file("secret.json");
    writeFile(secret, R"({"code":"success","token":"s3cr3t"})");
    BusyPort service;
    const std::string local = "127.0.0.1:" + std::to_string(service.port());
    const std::string urls[] = {
        "file://" + secret,
        "gopher://" + local + "/_hello%0d%0a",
        "dict://" + local + "/d:word",
        "telnet://" + local + "/",
    };
    for (const std::string& url : urls) {
        SCOPED_TRACE(url);
        const std::string result = form(url);
        EXPECT_EQ(result, upload::perform_failed_text(1));  // CURLE_UNSUPPORTED_PROTOCOL
        EXPECT_EQ(result.find("s3cr3t"), std::string::npos);
        EXPECT_EQ(transfer_.UploadFileEx(url, "file", audio_), UploadTransfer::kPlainPerformFailed);
        EXPECT_FALSE(service.connection_waiting()) << "the local service was reached";
    }
    // The same transfer still speaks http.
    server_.reply_with({200, R"({"code":"success"})"});
    EXPECT_EQ(form(server_.url()), R"({"code":"success"})");
}

// The stop flag, set from another thread, ends a transfer that the server
// holds long before its time-out.
TEST_F(UploadTransferTest, StopAbortsAHangingTransfer)
{
    server_.reply_with({200, "{}", true});
    UploadTransfer slow(UploadTimeouts{}, stop_);  // the product's 30 s
    std::thread stopper([&] {
        server_.wait_for_requests(1);
        stop_.store(true);
    });
    const auto begin = std::chrono::steady_clock::now();
    const std::string result = slow.UploadFormFile(server_.url(), "b", audio_, "o", "");
    const auto took = std::chrono::steady_clock::now() - begin;
    stopper.join();
    EXPECT_EQ(result, upload::perform_failed_text(42));  // CURLE_ABORTED_BY_CALLBACK
    EXPECT_LT(took, 5s);
}

class UploadWorkerTest : public UploadTransferTest {
protected:
    void SetUp() override
    {
        UploadTransferTest::SetUp();
        queue_.read_upload_from_file(temp_.file("uploadfile.json"));
    }

    std::vector<UploadReport> reports() const
    {
        std::lock_guard lock(mutex_);
        return reports_;
    }

    FileUploadPacket packet(int mod = 1) const
    {
        return FileUploadPacket{server_.url(), "bucket-1", "o", audio_, "", mod};
    }

    UploadQueue queue_;
    mutable std::mutex mutex_;
    std::vector<UploadReport> reports_;
    UploadWorker worker_{queue_, timeouts_, [this](const UploadReport& r) {
                             std::lock_guard lock(mutex_);
                             reports_.push_back(r);
                         }};
};

TEST_F(UploadWorkerTest, SuccessEndsTheJob)
{
    server_.reply_with({200, R"({"code":200})"});
    queue_.push(packet());
    queue_.push(packet());
    EXPECT_TRUE(worker_.upload_pass());
    EXPECT_EQ(queue_.size(), 1u);
    EXPECT_TRUE(worker_.upload_pass());
    EXPECT_FALSE(worker_.upload_pass());
    EXPECT_EQ(server_.request_count(), 2u);
    ASSERT_EQ(reports().size(), 2u);
    EXPECT_EQ(reports()[0].result, R"({"code":200})");
    EXPECT_EQ(parse_upload_queue(readFile(temp_.file("uploadfile.json"))).size(), 0u);
}

TEST_F(UploadWorkerTest, FailuresAreTriedFiveTimesThenDropped)
{
    const struct {
        const char* what;
        ServerReply reply;
    } cases[] = {
        {"a numeric code but 200", {200, R"({"code":500})"}},
        {"a body that is not JSON", {502, "<h1>Bad Gateway</h1>"}},
        {"the failure text", {500, ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        server_.reply_with(c.reply);
        const std::size_t before = server_.request_count();
        reports_.clear();
        queue_.push(packet());
        queue_.push(packet());  // the next job waits its turn
        for (int pass = 1; pass <= UploadWorker::kMaxUploadAttempts; ++pass) {
            EXPECT_EQ(queue_.size(), 2u) << "pass " << pass;
            EXPECT_TRUE(worker_.upload_pass());
        }
        EXPECT_EQ(queue_.size(), 1u);
        EXPECT_EQ(server_.request_count() - before, 5u);
        ASSERT_EQ(reports().size(), 5u);
        for (const UploadReport& r : reports())
            EXPECT_NE(upload::judge_form_result(r.result), upload::Verdict::kBadFormat) << r.result;
        EXPECT_EQ(parse_upload_queue(readFile(temp_.file("uploadfile.json"))).size(), 1u);
        // A success in between starts the count again for the next job.
        server_.reply_with({200, R"({"code":"success"})"});
        EXPECT_TRUE(worker_.upload_pass());
        EXPECT_EQ(queue_.size(), 0u);
    }
}

TEST_F(UploadWorkerTest, PlainJobReportsItsCode)
{
    server_.reply_with({200, "done"});
    queue_.push(packet(0));
    EXPECT_TRUE(worker_.upload_pass());
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_FALSE(reports()[0].form);
    EXPECT_EQ(reports()[0].code, UploadTransfer::kPlainReplied);
    EXPECT_EQ(queue_.size(), 0u);
}

// The thread works the queue by itself, and its stop aborts a transfer
// that the server holds: the job is neither reported nor dropped.
TEST_F(UploadWorkerTest, ThreadStopsByItsFlagMidTransfer)
{
    UploadWorker slow(queue_, UploadTimeouts{}, [this](const UploadReport& r) {
        std::lock_guard lock(mutex_);
        reports_.push_back(r);
    });
    server_.reply_with({200, R"({"code":"success"})"});
    queue_.push(packet());
    slow.start();
    ASSERT_TRUE(server_.wait_for_requests(1));
    // The job is reported, then taken off the queue.
    ASSERT_TRUE(eventually([this] { return reports().size() >= 1 && queue_.size() == 0; }));

    server_.reply_with({200, R"({"code":"success"})", true});
    queue_.push(packet());
    ASSERT_TRUE(server_.wait_for_requests(2));
    const auto begin = std::chrono::steady_clock::now();
    slow.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 5s);
    EXPECT_EQ(reports().size(), 1u);
    EXPECT_EQ(queue_.size(), 1u);
    EXPECT_EQ(parse_upload_queue(readFile(temp_.file("uploadfile.json"))).size(), 1u);
}

}  // namespace
}  // namespace olva_test
