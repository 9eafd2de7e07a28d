// The upload queue: the result texts and the rules that read them, the
// file that keeps the jobs, its limits, what is found planted in its place
// or in its temporary file's, and the file's survival of a kill at any
// moment.
#include <gtest/gtest.h>

#include <cJSON.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <random>

#include <sys/stat.h>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/upload_server.h"
#include "ukit/upload_queue.h"
#include "ukit/upload_result.h"

namespace olva_test {
namespace {

const std::string kSuccess = R"({"code":"success","errMsg":"", "data":""})";
const std::string kNoResponse = R"({"code":"failure","errMsg":"uploadform  failed,no responce", "data":""})";

bool is_json(const std::string& text)
{
    cJSON* json = cJSON_Parse(text.c_str());
    cJSON_Delete(json);
    return json != nullptr;
}

struct ReplyCase {
    const char* what;
    bool replied;
    std::string body;
    long status;
    std::string custom;
    std::string result;
};

TEST(UploadResult, FinishedTransferGivesItsText)
{
    const ReplyCase cases[] = {
        {"a JSON object is the result itself", true, R"({"code":"success","id":7})", 200, "",
         R"({"code":"success","id":7})"},
        {"whatever the status", true, R"({"code":500})", 500, "", R"({"code":500})"},
        {"a body that is not JSON", true, "<html>bad gateway</html>", 502, "", kNoResponse},
        {"not JSON even with 200", true, "OK!", 200, "", kNoResponse},
        {"JSON but no object", true, "[1,2]", 200, "", kNoResponse},
        {"an object with text after it", true, R"({"code":200}xyz)", 200, "", kNoResponse},
        {"one character, 200", true, "x", 200, "", kSuccess},
        {"one character, 204", true, "x", 204, "abcdefgh", kSuccess},
        {"one character, 500", true, "x", 500, "", kNoResponse},
        {"no body, 204, short custom field", false, "", 204, "12345", kSuccess},
        {"no body, 200, no custom field", false, "", 200, "", kSuccess},
        {"no body, 204, custom JSON", false, "", 204, R"({"call":12})",
         R"({"code":"success","errMsg":"", "data":{"call":12}})"},
        {"no body, 200, custom text", false, "", 200, "abcdef",
         R"({"code":"success","errMsg":"", "data":"abcdef"})"},
        {"no body, 200, custom text with quotes", false, "", 200, R"(say "hi")",
         R"({"code":"success","errMsg":"", "data":"say \"hi\""})"},
        {"no body, 404", false, "", 404, "", kNoResponse},
        {"a JSON object is printed again", true, " {\"code\" : 200,\n\t\"msg\" : \"成功\"} ", 200, "",
         R"({"code":200,"msg":"成功"})"},
        {"GBK bytes", true, "{\"code\":200,\"msg\":\"\xb3\xc9\xb9\xa6\"}", 200, "", kNoResponse},
        {"a leading zero", true, R"({"code":0200})", 200, "", kNoResponse},
        {"a point without digits", true, R"({"code":200.})", 200, "", kNoResponse},
        {"a raw tab in a string", true, "{\"code\":\"success\",\"msg\":\"a\tb\"}", 200, "", kNoResponse},
        {"a control byte between tokens", true, "{\"code\":\x01\"success\"}", 200, "", kNoResponse},
        {"a custom field of lenient JSON is a text", false, "", 204, "000012",
         R"({"code":"success","errMsg":"", "data":"000012"})"},
        {"a custom JSON field is printed again", false, "", 204, "{ \"call\" : 12 }",
         R"({"code":"success","errMsg":"", "data":{"call":12}})"},
        {"a custom field that is not UTF-8", false, "", 204, "call \xb3\xc9",
         "{\"code\":\"success\",\"errMsg\":\"\", \"data\":\"call \xef\xbf\xbd\xef\xbf\xbd\"}"},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string result = upload::form_reply_result(c.replied, c.body, c.status, c.custom);
        EXPECT_EQ(result, c.result);
        EXPECT_TRUE(is_json(result));
    }
}

TEST(UploadResult, TextsOfFailures)
{
    EXPECT_EQ(upload::failure_text(upload::kUrlNull),
              R"({"code":"failure","errMsg":"url is null", "data":""})");
    EXPECT_EQ(upload::perform_failed_text(28),
              R"({"code":"failure","errMsg":"uploadform perform failed,28", "data":""})");
    EXPECT_EQ(upload::failure_text(upload::kParamError),
              R"({"code":"failure","errMsg":"param error failed", "data":""})");
}

TEST(UploadResult, SuccessRuleReadsTheCode)
{
    const struct {
        std::string result;
        upload::Verdict verdict;
    } cases[] = {
        {R"({"code":"success"})", upload::Verdict::kSuccess},
        {R"({"CODE":200})", upload::Verdict::kSuccess},
        {R"({"code":200.0,"x":1})", upload::Verdict::kSuccess},
        {R"({"code":500})", upload::Verdict::kBadCode},
        {R"({"code":"Success"})", upload::Verdict::kFailed},
        {R"({"code":"200"})", upload::Verdict::kFailed},
        {kNoResponse, upload::Verdict::kFailed},
        {R"({"data":1})", upload::Verdict::kFailed},
        {"", upload::Verdict::kBadFormat},
        {"{\"code\":\"success\"", upload::Verdict::kBadFormat},
    };
    for (const auto& c : cases)
        EXPECT_EQ(upload::judge_form_result(c.result), c.verdict) << c.result;
}

FileUploadPacket job(int n, int mod = 1)
{
    return FileUploadPacket{"http://127.0.0.1:8/u" + std::to_string(n), "bucket" + std::to_string(n),
                            "object" + std::to_string(n), "/rec/" + std::to_string(n) + ".wav",
                            "custom", mod};
}

TEST(UploadFile, FormattedArrayInQueueOrderWithoutCustomField)
{
    const std::deque<FileUploadPacket> packets = {job(1), job(2, 0)};
    EXPECT_EQ(upload_queue_json(packets),
              "[{\n"
              "\t\t\"mod\":\t1,\n"
              "\t\t\"url\":\t\"http://127.0.0.1:8/u1\",\n"
              "\t\t\"localfilename\":\t\"/rec/1.wav\",\n"
              "\t\t\"bucketName\":\t\"bucket1\",\n"
              "\t\t\"objectName\":\t\"object1\"\n"
              "\t}, {\n"
              "\t\t\"mod\":\t0,\n"
              "\t\t\"url\":\t\"http://127.0.0.1:8/u2\",\n"
              "\t\t\"localfilename\":\t\"/rec/2.wav\",\n"
              "\t\t\"bucketName\":\t\"bucket2\",\n"
              "\t\t\"objectName\":\t\"object2\"\n"
              "\t}]");
    const auto back = parse_upload_queue(upload_queue_json(packets));
    ASSERT_EQ(back.size(), 2u);
    FileUploadPacket first = job(1);
    first.customFiled.clear();
    EXPECT_EQ(back[0], first);
    EXPECT_EQ(back[1].mod, 0);
    EXPECT_EQ(upload_queue_json({}), "[]");
}

TEST(UploadFile, BadFilesAndElementsAreLeftOut)
{
    const std::string good = R"({"mod":1,"url":"u","localfilename":"l","bucketName":"b","objectName":"o"})";
    const struct {
        std::string text;
        std::size_t jobs;
        std::size_t elements;  // of the array, whole jobs or not
    } cases[] = {
        {"", 0, 0},
        {"not json", 0, 0},
        {good, 0, 0},  // an object, not an array
        {"[" + good + "," + good + "]", 2, 2},
        {"[" + good + R"(,{"mod":1,"url":"u","localfilename":"l","bucketName":"b"}])", 1, 2},
        {"[" + good + R"(,{"mod":"1","url":"u","localfilename":"l","bucketName":"b","objectName":"o"}])", 1, 2},
        {"[" + good + R"(,{"mod":1,"url":7,"localfilename":"l","bucketName":"b","objectName":"o"}])", 1, 2},
        {"[" + good + ",3,null]", 1, 3},
        {"[" + good + std::string("\0", 1) + "]", 0, 0},
        {"[" + good, 0, 0},
    };
    for (const auto& c : cases) {
        std::size_t elements = 99;
        EXPECT_EQ(parse_upload_queue(c.text, &elements).size(), c.jobs) << c.text;
        EXPECT_EQ(elements, c.elements) << c.text;
    }
}

class UploadQueueFile : public ::testing::Test {
protected:
    TempDir temp_;
    std::string file_ = temp_.file("uploadfile.json");
};

TEST_F(UploadQueueFile, JobsSurviveANewQueue)
{
    UploadQueue queue;
    queue.read_upload_from_file(file_);
    EXPECT_EQ(queue.size(), 0u);
    EXPECT_EQ(queue.push(job(1)), 1u);
    EXPECT_EQ(queue.push(job(2)), 2u);
    EXPECT_EQ(queue.push(job(3)), 3u);
    queue.pop_front();
    EXPECT_EQ(queue.front()->objectName, "object2");

    UploadQueue after_restart;
    after_restart.read_upload_from_file(file_);
    ASSERT_EQ(after_restart.size(), 2u);
    EXPECT_EQ(after_restart.front()->objectName, "object2");
    EXPECT_EQ(after_restart.front()->customFiled, "");
    after_restart.pop_front();
    after_restart.pop_front();
    EXPECT_EQ(readFile(file_), "[]");
    EXPECT_FALSE(std::filesystem::exists(file_ + ".tmp"));
    // Reading again forgets what was in memory.
    queue.read_upload_from_file(file_);
    EXPECT_EQ(queue.size(), 0u);
}

TEST_F(UploadQueueFile, FullQueueRefusesTheNewJob)
{
    constexpr std::size_t kLimit = 4;
    UploadQueue queue(kLimit);
    queue.read_upload_from_file(file_);
    for (std::size_t i = 0; i < kLimit; ++i)
        ASSERT_TRUE(queue.push(job(static_cast<int>(i))));
    EXPECT_FALSE(queue.push(job(-1)));
    EXPECT_EQ(queue.size(), kLimit);
    const auto kept = parse_upload_queue(readFile(file_));
    ASSERT_EQ(kept.size(), kLimit);
    EXPECT_EQ(kept.back().objectName, "object3");
    // Room again after the front job is done.
    queue.pop_front();
    EXPECT_EQ(queue.push(job(9)), kLimit);

    // A file with more jobs than the limit: the first ones are kept.
    writeFile(file_, upload_queue_json({job(1), job(2), job(3), job(4), job(5), job(6)}));
    queue.read_upload_from_file(file_);
    EXPECT_EQ(queue.size(), kLimit);
    EXPECT_EQ(queue.front()->objectName, "object1");
}

// Jobs kept from an earlier run pass the upload rule again: what is not a
// regular recording (a FIFO would hold the upload thread at every start,
// a link or another file would be sent) leaves the queue and the file.
TEST_F(UploadQueueFile, LoadedJobsAreCheckedAgain)
{
    writeFile(temp_.file("call.wav"), "RIFF....");
    writeFile(temp_.file("passwd"), "root:x:0:0");
    std::filesystem::create_symlink(temp_.file("call.wav"), temp_.file("link.wav"));
    ASSERT_EQ(mkfifo(temp_.file("fifo.wav").c_str(), 0600), 0);
    const auto packet = [&](const char* name) {
        return FileUploadPacket{"http://127.0.0.1:8/u", "b", name, temp_.file(name), "", 1};
    };
    writeFile(file_, upload_queue_json({packet("fifo.wav"), packet("call.wav"), packet("passwd"),
                                        packet("link.wav"), packet("gone.wav")}));
    UploadQueue queue;
    queue.read_upload_from_file(file_);
    ASSERT_EQ(queue.size(), 2u);
    EXPECT_EQ(*queue.front(), packet("call.wav"));
    const auto kept = parse_upload_queue(readFile(file_));
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0], packet("call.wav"));
    EXPECT_EQ(kept[1], packet("gone.wav"));
}

TEST_F(UploadQueueFile, UnwritableFileKeepsTheJobInMemory)
{
    UploadQueue queue;
    queue.read_upload_from_file(temp_.file("missing-dir/uploadfile.json"));
    EXPECT_EQ(queue.push(job(1)), 1u);
    EXPECT_EQ(queue.front()->objectName, "object1");
}

std::unique_ptr<ChildProcess> start_child(const std::string& mode, const std::string& file)
{
    ChildOptions options;
    options.argv = {UPLOAD_QUEUE_CHILD, mode, file};
    std::string error;
    auto child = ChildProcess::start(options, &error);
    EXPECT_TRUE(child) << error;
    return child;
}

// A file planted where the temporary file goes, by a run killed while
// writing or by someone else, is removed as it stands and the temporary
// file made afresh: what a link leads to, or another name of the same
// file, is never written.
TEST_F(UploadQueueFile, PlantedTemporaryFileIsNotWrittenThrough)
{
    const std::string victim = temp_.file("victim");
    const std::string nowhere = temp_.file("nowhere");
    const std::string temporary = file_ + ".tmp";
    const struct {
        const char* what;
        std::function<void()> plant;
    } cases[] = {
        {"a link to a file", [&] { std::filesystem::create_symlink(victim, temporary); }},
        {"a link to nothing yet", [&] { std::filesystem::create_symlink(nowhere, temporary); }},
        {"another name of a file", [&] { std::filesystem::create_hard_link(victim, temporary); }},
        {"a half-written file", [&] { writeFile(temporary, "[{\"mod\":"); }},
    };
    UploadQueue queue;
    queue.read_upload_from_file(file_);
    std::size_t jobs = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(victim, "precious");
        c.plant();
        ASSERT_EQ(queue.push(job(static_cast<int>(++jobs))), jobs);
        EXPECT_EQ(readFile(victim), "precious");
        EXPECT_FALSE(pathExists(nowhere));
        EXPECT_FALSE(pathExists(temporary));
        EXPECT_EQ(parse_upload_queue(readFile(file_)).size(), jobs);
        struct stat st {};
        ASSERT_EQ(lstat(file_.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0600u);  // the jobs name the user's recordings
    }
}

// What stands in the file's place and is not a regular file, within the
// ceiling, holding a JSON array, is set aside as it stands and the queue
// starts empty: no link followed, nothing waited on, nothing read to its
// end. Each load runs in a process of its own, watched with a time-out and
// held to limited memory, so that a load that blocks or reads without end
// fails the test instead of holding it or the machine.
TEST_F(UploadQueueFile, RefusedFileIsSetAsideAndTheQueueStartsEmpty)
{
    using std::filesystem::file_type;
    const std::string jobs = temp_.file("jobs.json");
    const std::string jobs_text = upload_queue_json({job(1)});
    writeFile(jobs, jobs_text);
    const std::string aside = file_ + ".bad";
    const struct {
        const char* what;
        std::function<void()> plant;
        file_type kept_as;
    } cases[] = {
        {"a link to a file of jobs", [&] { std::filesystem::create_symlink(jobs, file_); }, file_type::symlink},
        {"a link to /dev/zero", [&] { std::filesystem::create_symlink("/dev/zero", file_); }, file_type::symlink},
        {"a FIFO", [&] { ASSERT_EQ(mkfifo(file_.c_str(), 0600), 0); }, file_type::fifo},
        {"a folder", [&] { std::filesystem::create_directory(file_); }, file_type::directory},
        {"a file one byte over the ceiling",
         [&] {
             writeFile(file_, jobs_text);
             std::filesystem::resize_file(file_, UploadQueue::kMaxUploadFileBytes + 1);
         },
         file_type::regular},
        {"a sparse file of a terabyte",
         [&] {
             writeFile(file_, jobs_text);
             std::filesystem::resize_file(file_, std::uintmax_t{1} << 40);
         },
         file_type::regular},
        {"text that is not JSON", [&] { writeFile(file_, "mod=1 url=http://x"); }, file_type::regular},
        {"a JSON object", [&] { writeFile(file_, "{\"mod\":1}"); }, file_type::regular},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(aside);
        std::filesystem::remove_all(file_);  // a link itself, never what it leads to
        c.plant();
        auto child = start_child("load", file_);
        ASSERT_TRUE(child);
        EXPECT_EQ(child->wait_exit(kWait), 0) << "the load did not end with an empty queue";
        EXPECT_FALSE(pathExists(file_));
        EXPECT_EQ(std::filesystem::symlink_status(aside).type(), c.kept_as);
        EXPECT_EQ(readFile(jobs), jobs_text);
    }
    // The next job starts a new file.
    UploadQueue queue;
    queue.read_upload_from_file(file_);
    EXPECT_EQ(queue.push(job(2)), 1u);
    EXPECT_EQ(parse_upload_queue(readFile(file_)).size(), 1u);
}

// The ceiling is the queue's limit times a job's bound: a file of that many
// bytes is read, one byte more is set aside.
TEST_F(UploadQueueFile, FileAtItsCeilingIsReadOneByteOverIsNot)
{
    constexpr std::size_t kLimit = 2;
    const std::size_t ceiling = kLimit * UploadQueue::kMaxUploadJobBytes;
    const std::string text = upload_queue_json({job(1)});
    UploadQueue queue(kLimit);
    writeFile(file_, text + std::string(ceiling - text.size(), ' '));
    queue.read_upload_from_file(file_);
    EXPECT_EQ(queue.size(), 1u);
    EXPECT_FALSE(pathExists(file_ + ".bad"));

    writeFile(file_, text + std::string(ceiling - text.size() + 1, ' '));
    queue.read_upload_from_file(file_);
    EXPECT_EQ(queue.size(), 0u);
    EXPECT_EQ(readFile(file_ + ".bad").size(), ceiling + 1);
}

// A job is bounded by the bytes it takes in the file, escapes included, so
// that the file of a full queue stays within its ceiling. A longer job is
// refused when it is handed in, and dropped when a file holds it.
TEST_F(UploadQueueFile, JobOverItsByteBoundIsRefused)
{
    constexpr std::size_t kLimit = 3;
    const std::size_t bound = UploadQueue::kMaxUploadJobBytes;
    UploadQueue queue(kLimit);
    queue.read_upload_from_file(file_);
    // The longest job there may be: alone, it is the whole file.
    FileUploadPacket longest = job(1);
    longest.url.append(bound - upload_queue_json({longest}).size(), 'u');
    ASSERT_EQ(queue.push(longest), 1u);
    EXPECT_EQ(readFile(file_).size(), bound);

    FileUploadPacket long_url = longest;
    long_url.url += 'u';
    FileUploadPacket long_path = job(2);
    long_path.localfilename = "/rec/" + std::string(bound, 'a') + ".wav";
    FileUploadPacket control_bytes = job(3);  // "\u0001" in the file, six bytes each
    control_bytes.objectName = std::string(bound / 6 + 1, '\x01');
    const struct {
        const char* what;
        FileUploadPacket packet;
    } cases[] = {
        {"an address one byte too long", long_url},
        {"a long path", long_path},
        {"control bytes that the file escapes", control_bytes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UploadQueue::Refusal refusal = UploadQueue::Refusal::kQueueFull;
        EXPECT_FALSE(queue.push(c.packet, &refusal));
        EXPECT_EQ(refusal, UploadQueue::Refusal::kJobTooLong);
        EXPECT_EQ(queue.size(), 1u);
    }
    // A full queue of the longest jobs stays within the ceiling.
    ASSERT_EQ(queue.push(longest), 2u);
    ASSERT_EQ(queue.push(longest), 3u);
    EXPECT_LE(readFile(file_).size(), kLimit * bound);
    UploadQueue::Refusal refusal = UploadQueue::Refusal::kJobTooLong;
    EXPECT_FALSE(queue.push(job(4), &refusal));
    EXPECT_EQ(refusal, UploadQueue::Refusal::kQueueFull);

    // In a file, such a job is dropped and the file rewritten without it.
    writeFile(file_, upload_queue_json({long_url, job(5)}));
    queue.read_upload_from_file(file_);
    ASSERT_EQ(queue.size(), 1u);
    EXPECT_EQ(queue.front()->objectName, "object5");
    const auto kept = parse_upload_queue(readFile(file_));
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].objectName, "object5");
}

// A process that rewrites the file without pause is killed at moments
// spread over its rewrites: every time, the file still holds one whole job.
TEST_F(UploadQueueFile, KillDuringRewriteLeavesWholeFile)
{
    std::mt19937 random(20);
    std::uniform_int_distribution<int> pause_us(0, 3000);
    for (int round = 0; round < 25; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        writeFile(file_, upload_queue_json({job(0)}));
        auto child = start_child("churn", file_);
        ASSERT_TRUE(child);
        // Wait until it is rewriting, then let it run a random while more.
        const std::string first = readFile(file_);
        ASSERT_TRUE(eventually([&] { return readFile(file_) != first; }));
        std::this_thread::sleep_for(std::chrono::microseconds(pause_us(random)));
        ::kill(child->pid(), SIGKILL);
        ASSERT_EQ(child->wait_exit(kWait), 128 + SIGKILL);
        const auto jobs = parse_upload_queue(readFile(file_));
        ASSERT_GE(jobs.size(), 1u) << readFile(file_);
        EXPECT_LE(jobs.size(), 2u);
    }
}

// A process killed while its upload hangs on the server: the job is still
// in the file for the next start, and nothing else came or went.
TEST_F(UploadQueueFile, KillDuringTransferKeepsTheJob)
{
    UploadServer server;
    server.reply_with({200, R"({"code":"success"})", true});
    writeFile(temp_.file("a.wav"), "RIFF....");
    FileUploadPacket packet{server.url(), "b", "o", temp_.file("a.wav"), "", 1};
    writeFile(file_, upload_queue_json({packet, job(2)}));

    auto child = start_child("upload", file_);
    ASSERT_TRUE(child);
    ASSERT_TRUE(server.wait_for_requests(1));
    ::kill(child->pid(), SIGKILL);
    ASSERT_EQ(child->wait_exit(kWait), 128 + SIGKILL);

    UploadQueue next_start;
    next_start.read_upload_from_file(file_);
    ASSERT_EQ(next_start.size(), 2u);
    EXPECT_EQ(*next_start.front(), packet);
}

}  // namespace
}  // namespace olva_test
