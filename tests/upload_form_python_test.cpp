// The form upload as a server we did not write takes it apart: Python's
// http.server with its email parser (tests/support/form_server.py) answers
// with the fields, file name, content types and file bytes it parsed, and
// the test compares them with what was sent.
#include <gtest/gtest.h>

#include <cJSON.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "support/child_process.h"
#include "support/form_server.h"
#include "support/temp_dir.h"
#include "ukit/upload_transfer.h"

namespace olva_test {
namespace {

using namespace std::chrono_literals;

// Bytes a text field could not carry unchanged: NUL, CR LF, a boundary-like
// line, high bytes.
const std::string kFormAudio = std::string("RIFF\0\0\r\n--\r\n\xff\xfe", 14) + std::string(70000, 'a');

struct JsonDeleter {
    void operator()(cJSON* json) const { cJSON_Delete(json); }
};
using Json = std::unique_ptr<cJSON, JsonDeleter>;

std::string text_of(const cJSON* object, const char* name)
{
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
    if (cJSON_IsNull(item))
        return "(null)";
    return cJSON_IsString(item) ? item->valuestring : "(missing)";
}

class UploadFormPythonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!have_program("python3"))
            GTEST_SKIP() << "the form server needs python3";
        std::filesystem::create_directories(parsed_dir_);
        std::string error;
        std::optional<FormServerProcess> server = start_form_server(parsed_dir_, temp_.file("server.log"), &error);
        ASSERT_TRUE(server) << error;
        server_ = std::move(server->process);
        url_ = "http://127.0.0.1:" + server->port;
        writeFile(audio_, kFormAudio);
    }

    TempDir temp_;
    std::string parsed_dir_ = temp_.file("parsed");
    std::string audio_ = temp_.file("录音 1.wav");
    std::unique_ptr<ChildProcess> server_;
    std::string url_;
    std::atomic<bool> stop_{false};
    UploadTransfer transfer_{UploadTimeouts{10s, 10s}, stop_};
};

TEST_F(UploadFormPythonTest, TheFormHoldsTheThreeFieldsAndTheFileAsSent)
{
    const std::string result =
        transfer_.UploadFormFile(url_ + "/up?x=1", "bucket-1", audio_, "calls/2024/a.wav", "");
    const Json answer(cJSON_Parse(result.c_str()));
    ASSERT_TRUE(answer) << result;
    EXPECT_EQ(text_of(answer.get(), "method"), "POST");
    EXPECT_EQ(text_of(answer.get(), "path"), "/up?x=1");
    EXPECT_EQ(text_of(answer.get(), "contentType"), "multipart/form-data");
    EXPECT_EQ(cJSON_GetArraySize(cJSON_GetObjectItemCaseSensitive(answer.get(), "defects")), 0) << result;

    const cJSON* parts = cJSON_GetObjectItemCaseSensitive(answer.get(), "parts");
    ASSERT_EQ(cJSON_GetArraySize(parts), 4) << result;
    const struct {
        const char* name;
        std::string value;
    } fields[] = {{"bucketName", "bucket-1"}, {"localfilename", audio_}, {"objectName", "calls/2024/a.wav"}};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(fields[i].name);
        const cJSON* part = cJSON_GetArrayItem(parts, i);
        EXPECT_EQ(text_of(part, "disposition"), "form-data");
        EXPECT_EQ(text_of(part, "name"), fields[i].name);
        EXPECT_EQ(text_of(part, "filename"), "(null)");
        EXPECT_EQ(text_of(part, "value"), fields[i].value);
    }
    const cJSON* file = cJSON_GetArrayItem(parts, 3);
    EXPECT_EQ(text_of(file, "disposition"), "form-data");
    EXPECT_EQ(text_of(file, "name"), "file");
    EXPECT_EQ(text_of(file, "filename"), "录音 1.wav");
    EXPECT_EQ(text_of(file, "type"), "application/octet-stream");
    const cJSON* size = cJSON_GetObjectItemCaseSensitive(file, "size");
    ASSERT_TRUE(cJSON_IsNumber(size)) << result;
    EXPECT_EQ(size->valuedouble, static_cast<double>(kFormAudio.size()));
    EXPECT_EQ(readFile(parsed_dir_ + "/3.bin"), kFormAudio);
}

}  // namespace
}  // namespace olva_test
