// Uploads through the running service: the browser commands, the results
// that reach browsers, the queue kept across a restart, and a stop that
// does not wait for a hanging server. The uploads go to a local Beast
// server that takes the requests apart itself.
#include <gtest/gtest.h>

#include <cJSON.h>

#include <filesystem>

#include <sys/stat.h>

#include "support/busy_port.h"
#include "support/child_process.h"
#include "support/eventually.h"
#include "support/upload_server.h"
#include "support/web_fixture.h"
#include "ukit/json_text.h"
#include "ukit/upload_queue.h"

namespace olva_test {
namespace {

using namespace std::chrono_literals;

const std::string kSentinel = R"({"event":"answer","type":"uwebclose","handle":0,"result":""})";

std::string result_event(const std::string& result)
{
    return R"({"event":"uploadfileresult","result":)" + result + "}";
}

bool is_json(const std::string& text)
{
    cJSON* json = cJSON_Parse(text.c_str());
    cJSON_Delete(json);
    return json != nullptr;
}

class WebUpload : public WebServiceTest {
protected:
    void SetUp() override
    {
        WebServiceTest::SetUp();
        audio_ = temp_.file("call.wav");
        writeFile(audio_, std::string("RIFF\0\0\0\0WAVE", 12));
    }

    std::string form_frame(const std::string& url, const std::string& custom = "") const
    {
        std::string frame = R"({"event":"UploadFormFile","uploadurl":)" + web::json_quote(url) +
                            R"(,"bucketName":"user-7","objectName":"calls/call.wav","localfilepath":)" +
                            web::json_quote(audio_);
        if (!custom.empty())
            frame += R"(,"customFiled":)" + web::json_quote(custom);
        return frame + "}";
    }

    std::vector<FileUploadPacket> saved_jobs() const
    {
        return parse_upload_queue(readFile(uWebMgr.upload_file_path()));
    }

    // Sends the sentinel and reads up to its answer: what came before it.
    std::vector<std::string> drain(WsClient& client)
    {
        EXPECT_TRUE(client.send(R"({"event":"uwebclose"})"));
        std::vector<std::string> before;
        for (;;) {
            const auto message = client.read();
            if (!message || *message == kSentinel)
                return before;
            before.push_back(*message);
        }
    }

    std::string audio_;
    UploadServer server_;
};

TEST_F(WebUpload, FormUploadResultReachesEveryBrowser)
{
    start("keep_only_conncet=0\n");
    auto first = connect();
    auto second = connect();
    ASSERT_TRUE(first && second);
    server_.reply_with({200, R"({"code":"success","key":"calls/call.wav"})"});
    ASSERT_TRUE(first->send(form_frame(server_.url(), R"({"call":12})")));

    const std::string expected = result_event(R"({"code":"success","key":"calls/call.wav"})");
    EXPECT_EQ(first->read(), expected);
    EXPECT_EQ(second->read(), expected);
    ASSERT_EQ(server_.request_count(), 1u);
    const ReceivedRequest request = server_.requests()[0];
    ASSERT_NE(request.part("bucketName"), nullptr);
    EXPECT_EQ(request.part("bucketName")->data, "user-7");
    EXPECT_EQ(request.part("objectName")->data, "calls/call.wav");
    EXPECT_EQ(request.part("localfilename")->data, audio_);
    EXPECT_EQ(request.part("file")->data, readFile(audio_));
    EXPECT_TRUE(eventually([&] { return saved_jobs().empty(); }));
    EXPECT_TRUE(drain(*first).empty());
}

TEST_F(WebUpload, MissingMembersAnswerAtOnceAndQueueNothing)
{
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    const std::string local = web::json_quote(audio_);
    const std::string frames[] = {
        R"({"event":"UploadFormFile"})",
        R"({"event":"UploadFormFile","bucketName":"b","objectName":"o","localfilepath":)" + local + "}",
        R"({"event":"UploadFormFile","uploadurl":7,"bucketName":"b","objectName":"o","localfilepath":)" + local + "}",
        R"({"event":"UploadFormFile","uploadurl":"http://h/","objectName":"o","localfilepath":)" + local + "}",
        R"({"event":"UploadFormFile","uploadurl":"http://h/","bucketName":"b","localfilepath":)" + local + "}",
        R"({"event":"UploadFormFile","uploadurl":"http://h/","bucketName":"b","objectName":"o"})",
        R"({"event":"UploadFormFile","uploadurl":"http://h/","bucketName":"b","objectName":"o","localfilepath":null})",
        // A job too long to be kept in the queue's file.
        R"({"event":"UploadFormFile","uploadurl":"http://h/","bucketName":"b","objectName":")" +
            std::string(UploadQueue::kMaxUploadJobBytes, 'o') + R"(","localfilepath":)" + local + "}",
    };
    for (const std::string& frame : frames) {
        ASSERT_TRUE(client->send(frame));
        EXPECT_EQ(client->read(), result_event(R"({"code":"failure","errMsg":"param error failed", "data":""})"))
            << frame;
    }
    EXPECT_TRUE(drain(*client).empty());
    EXPECT_TRUE(saved_jobs().empty());
    EXPECT_EQ(server_.request_count(), 0u);
}

TEST_F(WebUpload, FailingJobIsTriedFiveTimesThenLeavesTheFile)
{
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    server_.reply_with({200, R"({"code":500})"});
    ASSERT_TRUE(client->send(form_frame(server_.url())));
    for (int attempt = 1; attempt <= 5; ++attempt)
        EXPECT_EQ(client->read(), result_event(R"({"code":500})")) << "attempt " << attempt;
    EXPECT_TRUE(eventually([&] { return saved_jobs().empty(); }));
    EXPECT_TRUE(drain(*client).empty());
    EXPECT_EQ(server_.request_count(), 5u);
}

TEST_F(WebUpload, ServerAnswersThatAreNotJsonReachBrowsersAsTheFailureText)
{
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    const ServerReply replies[] = {{502, "<html>Bad Gateway</html>"}, {500, "x"}, {500, ""}};
    for (const ServerReply& reply : replies) {
        server_.reply_with(reply);
        ASSERT_TRUE(client->send(form_frame(server_.url())));
        for (int attempt = 1; attempt <= 5; ++attempt) {
            const auto message = client->read();
            ASSERT_TRUE(message);
            EXPECT_TRUE(is_json(*message)) << *message;
            EXPECT_EQ(*message,
                      result_event(R"({"code":"failure","errMsg":"uploadform  failed,no responce", "data":""})"));
        }
    }
}

// A reply a browser could not take as it came: not UTF-8 (a GBK text drops a
// Chromium connection), or JSON only a lenient parser reads.
TEST_F(WebUpload, RepliesThatAreNotStrictUtf8JsonReachBrowsersAsTheFailureText)
{
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    const std::string failure = result_event(R"({"code":"failure","errMsg":"uploadform  failed,no responce", "data":""})");
    const std::string replies[] = {
        "{\"code\":\"success\",\"msg\":\"\xC9\xCF\xB4\xAB\"}",  // "上传" in GBK
        R"({"code":01})",
        R"({"code":1.})",
        "{\"code\":\"success\",\"msg\":\"a\tb\"}",
        "{\"code\":\"success\",\"msg\":\"a\x01z\"}",
        R"({"code":"success","msg":"\ud800"})",
    };
    for (const std::string& body : replies) {
        server_.reply_with({200, body});
        ASSERT_TRUE(client->send(form_frame(server_.url())));
        for (int attempt = 1; attempt <= 5; ++attempt)
            EXPECT_EQ(client->read(), failure) << body << ", attempt " << attempt;
    }
    EXPECT_TRUE(drain(*client).empty());
}

TEST_F(WebUpload, AStrictReplyIsPrintedAgainBeforeBrowsersSeeIt)
{
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    server_.reply_with({200, "{ \"code\" : \"success\",\n\t\"name\" : \"录音\", \"n\": [1, 2.5e1] }"});
    ASSERT_TRUE(client->send(form_frame(server_.url())));
    EXPECT_EQ(client->read(), result_event(R"({"code":"success","name":"录音","n":[1,25]})"));
    EXPECT_TRUE(drain(*client).empty());
}

TEST_F(WebUpload, SilentServerHitsTheTimeOut)
{
    options_.upload_timeouts = {300ms, 300ms};
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    BusyPort silent;
    ASSERT_TRUE(client->send(form_frame("http://127.0.0.1:" + std::to_string(silent.port()) + "/u")));
    EXPECT_EQ(client->read(),
              result_event(R"({"code":"failure","errMsg":"uploadform perform failed,28", "data":""})"));
}

// A job whose server hangs: the service stops at once, keeps the job, and
// after the next start uploads it again, without its custom field.
TEST_F(WebUpload, QueueSurvivesARestartAndStopDoesNotWaitForTheServer)
{
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    server_.reply_with({204, "", true});
    ASSERT_TRUE(client->send(form_frame(server_.url(), "custom-field-text")));
    ASSERT_TRUE(server_.wait_for_requests(1));
    ASSERT_EQ(saved_jobs().size(), 1u);

    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(uWebMgr.close_uWeb(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 5s);  // the time-out is 30 s
    ASSERT_EQ(saved_jobs().size(), 1u);
    EXPECT_EQ(saved_jobs()[0].objectName, "calls/call.wav");

    // The server holds the job again until a browser is there to see it.
    start();
    ASSERT_TRUE(server_.wait_for_requests(2));
    auto after = connect();
    ASSERT_TRUE(after);
    server_.reply_with({204, ""});
    server_.release();
    // Without its custom field the job's result carries no data.
    EXPECT_EQ(after->read(), result_event(R"({"code":"success","errMsg":"", "data":""})"));
    EXPECT_EQ(server_.request_count(), 2u);
    EXPECT_TRUE(eventually([&] { return saved_jobs().empty(); }));
}

// The browser that asked gets its answer when the transfer ends, while the
// web thread goes on serving every browser.
TEST_F(WebUpload, UploadFileExAnswersItsBrowserWithoutBlockingTheOthers)
{
    start("keep_only_conncet=0\n");
    auto asking = connect();
    auto other = connect();
    ASSERT_TRUE(asking && other);
    server_.reply_with({200, "stored", true});
    const std::string frame = R"({"event":"UploadFileEx","url":)" + web::json_quote(server_.url()) +
                              R"(,"paramname":"file","filename":)" + web::json_quote(audio_) + "}";
    ASSERT_TRUE(asking->send(frame));
    ASSERT_TRUE(server_.wait_for_requests(1));

    EXPECT_TRUE(getinfo(*other).starts_with(R"({"event":"getinfo")"));
    EXPECT_TRUE(getinfo(*asking).starts_with(R"({"event":"getinfo")"));
    server_.release();
    EXPECT_EQ(asking->read(), R"({"event":"notify","errorType":"UploadFileEx","handle":0,"result":0})");
    EXPECT_TRUE(drain(*other).empty());
    EXPECT_EQ(server_.requests()[0].part("file")->data, readFile(audio_));

    ASSERT_TRUE(asking->send(R"({"event":"UploadFileEx","url":"http://h/","paramname":"file","filename":)" +
                             web::json_quote(temp_.file("missing.wav")) + "}"));
    EXPECT_EQ(asking->read(), R"({"event":"notify","errorType":"UploadFileEx","handle":0,"result":-4})");
}

// The three upload commands send recordings only: the user's other files,
// a link, a FIFO and a folder are refused at once, with a log line, and
// nothing is queued, sent or handed to the library.
TEST_F(WebUpload, CommandsRefuseWhatIsNotARegularRecording)
{
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    writeFile(temp_.file("passwd"), "root:x:0:0");
    writeFile(temp_.file("notes.txt"), "text");
    std::filesystem::create_symlink(audio_, temp_.file("link.wav"));
    std::filesystem::create_symlink(temp_.file("passwd"), temp_.file("passwd.mp3"));
    std::filesystem::create_directory(temp_.file("folder.wav"));
    ASSERT_EQ(mkfifo(temp_.file("fifo.wav").c_str(), 0600), 0);
    const std::string url = web::json_quote(server_.url());
    for (const char* name : {"passwd", "notes.txt", "link.wav", "passwd.mp3", "folder.wav", "fifo.wav"}) {
        SCOPED_TRACE(name);
        const std::string path = web::json_quote(temp_.file(name));
        ASSERT_TRUE(client->send(R"({"event":"UploadFile","url":)" + url + R"(,"paramname":"file","filename":)" +
                                 path + "}"));
        EXPECT_EQ(client->read(), R"({"event":"notify","errorType":"UploadFile","handle":0,"result":-4})");
        ASSERT_TRUE(client->send(R"({"event":"UploadFileEx","url":)" + url + R"(,"paramname":"file","filename":)" +
                                 path + "}"));
        EXPECT_EQ(client->read(), R"({"event":"notify","errorType":"UploadFileEx","handle":0,"result":-4})");
        ASSERT_TRUE(client->send(R"({"event":"UploadFormFile","uploadurl":)" + url +
                                 R"(,"bucketName":"b","objectName":"o","localfilepath":)" + path + "}"));
        EXPECT_EQ(client->read(),
                  result_event(R"({"code":"failure","errMsg":"open upload filename failed", "data":""})"));
        EXPECT_NE(log_text().find("UploadFormFile, filename:" + temp_.file(name) +
                                  " refused: not a regular .wav or .mp3 file"),
                  std::string::npos);
    }
    EXPECT_TRUE(drain(*client).empty());
    EXPECT_TRUE(saved_jobs().empty());
    EXPECT_EQ(server_.request_count(), 0u);
    for (const auto& call : olva_fake::calls())
        EXPECT_FALSE(call.text.starts_with("olva_uploadFile")) << call.text;

    // A recording is still handed to the library.
    ASSERT_TRUE(client->send(R"({"event":"UploadFile","url":)" + url + R"(,"paramname":"file","filename":)" +
                             web::json_quote(audio_) + "}"));
    EXPECT_EQ(client->read(), R"({"event":"notify","errorType":"UploadFile","handle":0,"result":0})");
    EXPECT_TRUE(olva_fake::was_called("olva_uploadFile(" + server_.url() + ",file," + audio_ + ")"));
}

// Jobs kept in "uploadfile.json" are checked again at start, and each step
// of the load is logged.
TEST_F(WebUpload, SavedJobsAreCheckedAgainAtStart)
{
    writeFile(temp_.file("passwd"), "root:x:0:0");
    ASSERT_EQ(mkfifo(temp_.file("fifo.wav").c_str(), 0600), 0);
    server_.reply_with({200, R"({"code":"success"})", true});
    const auto packet = [&](const std::string& path) {
        return FileUploadPacket{server_.url(), "b", "o", path, "", 1};
    };
    const std::string text = upload_queue_json(
        {packet(temp_.file("fifo.wav")), packet(temp_.file("passwd")), packet(audio_), packet(audio_)});
    writeFile(app_dir_ + "/uploadfile.json", text + "\n");
    start();
    // The FIFO and the other file are gone; the recording is uploaded.
    ASSERT_TRUE(server_.wait_for_requests(1));
    EXPECT_EQ(server_.requests()[0].part("localfilename")->data, audio_);
    ASSERT_EQ(saved_jobs().size(), 2u);
    EXPECT_EQ(saved_jobs()[0].localfilename, audio_);
    const std::string log = log_text();
    const std::string lines[] = {
        "   unupload1 file size:" + std::to_string(text.size() + 1),
        "   unupload file size:4",
        "   unupload2 file size:4",
        "   unupload job of " + temp_.file("fifo.wav") + " dropped: not a regular .wav or .mp3 file",
        "   unupload job of " + temp_.file("passwd") + " dropped: not a regular .wav or .mp3 file",
        "   unupload3 file size:2",
        "   unupload4 file size:2",
    };
    std::size_t at = 0;
    for (const std::string& line : lines) {
        at = log.find(line, at);
        ASSERT_NE(at, std::string::npos) << line << " (in this order)";
    }
    server_.release();
}

TEST_F(WebUpload, StopDoesNotWaitForAPlainUpload)
{
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    server_.reply_with({200, "stored", true});
    ASSERT_TRUE(client->send(R"({"event":"UploadFileEx","url":)" + web::json_quote(server_.url()) +
                             R"(,"paramname":"file","filename":)" + web::json_quote(audio_) + "}"));
    ASSERT_TRUE(server_.wait_for_requests(1));
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(uWebMgr.close_uWeb(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 5s);
}

}  // namespace
}  // namespace olva_test
