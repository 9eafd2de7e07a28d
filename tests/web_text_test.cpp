// The web service's pure pieces: JSON escaping and reply texts, path
// conversion, the Host check, URL decoding and query variables, the chunked
// reply frame, content types and the per-line slot.
#include <gtest/gtest.h>

#include <cJSON.h>

#include <sstream>

#include "ukit/http_util.h"
#include "ukit/json_input.h"
#include "ukit/json_text.h"
#include "ukit/olva_line.h"
#include "ukit/static_files.h"

namespace {

// What cJSON, which we did not write, reads back from a JSON string literal.
std::string parsed_back(const std::string& literal)
{
    cJSON* json = cJSON_Parse(literal.c_str());
    EXPECT_TRUE(cJSON_IsString(json)) << literal;
    std::string value = cJSON_IsString(json) ? json->valuestring : "";
    cJSON_Delete(json);
    return value;
}

struct QuoteCase {
    std::string input;
    std::string quoted;
    std::string read_back;  // what a JSON reader gets
};

TEST(JsonQuote, EscapesWhatJsonRequiresAndReplacesBrokenUtf8)
{
    const std::string fffd = "\xEF\xBF\xBD";
    const QuoteCase cases[] = {
        {"13800138000", "\"13800138000\"", "13800138000"},
        {"", "\"\"", ""},
        {"a\"b", "\"a\\\"b\"", "a\"b"},
        {"a\\b", "\"a\\\\b\"", "a\\b"},
        {"\",\"event\":\"x", "\"\\\",\\\"event\\\":\\\"x\"", "\",\"event\":\"x"},
        {"line\r\nnext\tend", "\"line\\r\\nnext\\tend\"", "line\r\nnext\tend"},
        {std::string("\x01\x1f\b\f", 4), "\"\\u0001\\u001f\\b\\f\"", std::string("\x01\x1f\b\f", 4)},
        {"你好", "\"你好\"", "你好"},
        {"\xF0\x9F\x93\x9E", "\"\xF0\x9F\x93\x9E\"", "\xF0\x9F\x93\x9E"},
        {"a\xFF" "b", "\"a" + fffd + "b\"", "a" + fffd + "b"},
        {"\xE4\xB8", "\"" + fffd + fffd + "\"", fffd + fffd},              // cut short
        {"\xC0\xAF", "\"" + fffd + fffd + "\"", fffd + fffd},              // overlong '/'
        {"\xED\xA0\x80", "\"" + fffd + fffd + fffd + "\"", fffd + fffd + fffd},  // surrogate
        {"\xF4\x90\x80\x80", "\"" + fffd + fffd + fffd + fffd + "\"",
         fffd + fffd + fffd + fffd},  // above U+10FFFF
    };
    for (const QuoteCase& c : cases) {
        SCOPED_TRACE(c.input);
        const std::string quoted = web::json_quote(c.input);
        EXPECT_EQ(quoted, c.quoted);
        EXPECT_EQ(parsed_back(quoted), c.read_back);
    }
}

// Where cJSON, which we did not write, would read a string shorter than
// the text says, the text is refused; everything else passes.
TEST(HoldsNul, FindsRawAndEscapedNulsInStringsOnly)
{
    struct Case {
        std::string json;
        bool nul;
    };
    const Case cases[] = {
        {R"({"event":"getinfo"})", false},
        {R"({"event":"getinfo\u0000x"})", true},
        {R"({"event\u0000x":"getinfo"})", true},
        {R"({"event":"getinfo","filename":"/tmp/a.wav\u0000.txt"})", true},
        {R"(["\u0000"])", true},
        {std::string("{\"event\":\"getinfo\0\"}", 21), true},
        {std::string("{\"event\":\"getinfo\"}\0", 20), true},
        // An escaped backslash before "u0000", and other escapes.
        {R"({"note":"\\u0000"})", false},
        {R"({"note":"\\\\u0000"})", false},
        {R"({"note":"\\\u0000"})", true},
        {R"({"note":"\u0001\u00000"})", true},
        {R"({"note":"\u0100 \"u0000\" \/"})", false},
        // Outside a string "\u0000" is no escape (and no JSON either).
        {R"({"a":1} \u0000)", false},
        {"", false},
        {"\"\\", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        EXPECT_EQ(web::holds_nul(c.json), c.nul);
        if (c.nul)
            continue;
        // What passes, cJSON reads whole: no string is cut short.
        cJSON* json = cJSON_ParseWithLength(c.json.c_str(), c.json.size());
        const cJSON* note = cJSON_GetObjectItemCaseSensitive(json, "note");
        if (cJSON_IsString(note)) {
            EXPECT_NE(std::string(note->valuestring).find("u0000"), std::string::npos);
        }
        cJSON_Delete(json);
    }
}

TEST(ReplyTexts, HaveTheirFixedForms)
{
    EXPECT_EQ(web::greeting_text("/home/u/app/"),
              "{\"event\":\"joined\",\"OS\":\"linux\",\"path\":\"/home/u/app/\"}");
    EXPECT_EQ(web::notify_text("StopPlay", 257, -3),
              "{\"event\":\"notify\",\"errorType\":\"StopPlay\",\"handle\":257,\"result\":-3}");
    EXPECT_EQ(web::notify_text("UploadFile", -1, 0),
              "{\"event\":\"notify\",\"errorType\":\"UploadFile\",\"handle\":-1,\"result\":0}");
    EXPECT_EQ(web::answer_text("GetDeviceVersionNum", 257, "2.10"),
              "{\"event\":\"answer\",\"type\":\"GetDeviceVersionNum\",\"handle\":257,\"result\":\"2.10\"}");
    EXPECT_EQ(web::upload_result_text(
                  "{\"code\":\"failure\",\"errMsg\":\"param error failed\", \"data\":\"\"}"),
              "{\"event\":\"uploadfileresult\",\"result\":{\"code\":\"failure\",\"errMsg\":"
              "\"param error failed\", \"data\":\"\"}}");
    EXPECT_STREQ(web::kFarewellText, "{\"event\":\"left\"}");
    // A work directory with a quote in it still gives valid JSON.
    EXPECT_EQ(web::greeting_text("/tmp/a\"b/"),
              "{\"event\":\"joined\",\"OS\":\"linux\",\"path\":\"/tmp/a\\\"b/\"}");
}

TEST(WindowsPathConverLinux, TurnsBackslashesIntoSlashes)
{
    const std::pair<std::string, std::string> cases[] = {
        {"D:\\rec\\a.wav", "D:/rec/a.wav"},
        {"\\", "\\"},
        {"", ""},
        {"a\\", "a/"},
        {"/already/linux.wav", "/already/linux.wav"},
    };
    for (const auto& [input, expected] : cases) {
        std::string original = input;
        EXPECT_EQ(web::windows_path_conver_linux(original), expected) << input;
        EXPECT_EQ(original, input);
    }
}

TEST(HostCheck, AcceptsLoopbackNamesOnly)
{
    const std::pair<const char*, bool> cases[] = {
        {"localhost", true},
        {"localhost:8054", true},
        {"LocalHost:1", true},
        {"127.0.0.1", true},
        {"127.0.0.1:65535", true},
        {"[::1]", true},
        {"[::1]:8054", true},
        {"", false},
        {"evil.example", false},
        {"evil.example:8054", false},
        {"localhost.evil.example", false},
        {"127.0.0.1.nip.io", false},
        {"127.0.0.2", false},
        {"0.0.0.0:8054", false},
        {"localhost:", false},
        {"localhost:80a", false},
        {"localhost:123456", false},
        {"localhost:80:80", false},
        {"[::1]x", false},
        {"[::1", false},
        {"[::2]:8054", false},
        {"192.168.1.10:8054", false},
        {" localhost", false},
    };
    for (const auto& [host, accepted] : cases)
        EXPECT_EQ(web::is_local_host(host), accepted) << '"' << host << '"';
}

TEST(UrlDecode, DecodesEscapesAndRefusesBrokenOnes)
{
    struct Case {
        const char* input;
        bool form;
        bool ok;
        std::string output;
    };
    const Case cases[] = {
        {"a%20b", false, true, "a b"},
        {"a+b", false, true, "a+b"},
        {"a+b", true, true, "a b"},
        {"%E4%BD%A0", false, true, "你"},
        {"%2e%2E", false, true, ".."},
        {"100%", false, false, ""},
        {"%4", false, false, ""},
        {"%zz", false, false, ""},
        {"a%00b", false, false, ""},
    };
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(web::url_decode(c.input, c.form, out), c.ok) << c.input;
        if (c.ok) {
            EXPECT_EQ(out, c.output) << c.input;
        }
    }
}

TEST(QueryVar, FindsTheFirstVariableByNameWithoutRegardToCase)
{
    struct Case {
        const char* query;
        const char* name;
        int result;
        std::string value;
    };
    const Case cases[] = {
        {"filename=a.wav", "filename", 5, "a.wav"},
        {"x=1&filename=%2Ftmp%2Fa+b.wav&filename=second", "filename", 12, "/tmp/a b.wav"},
        {"FileName=c.mp3", "filename", 5, "c.mp3"},
        {"filename=", "filename", 0, ""},
        {"filenames=a", "filename", -1, ""},
        {"afilename=a", "filename", -1, ""},
        {"filename", "filename", -1, ""},
        {"", "filename", -1, ""},
        {"filename=%zz", "filename", -1, ""},
    };
    for (const Case& c : cases) {
        std::string value = "stale";
        EXPECT_EQ(web::get_query_var(c.query, c.name, value), c.result) << c.query;
        EXPECT_EQ(value, c.value) << c.query;
    }

    std::string value;
    const std::string longest(web::kMaxQueryValue, 'a');
    EXPECT_EQ(web::get_query_var("filename=" + longest, "filename", value),
              static_cast<int>(web::kMaxQueryValue));
    EXPECT_EQ(web::get_query_var("filename=" + longest + "a", "filename", value), -2);
}

TEST(RequestTarget, SplitsPathAndQuery)
{
    EXPECT_EQ(web::target_path("/getRecord?page=2"), "/getRecord");
    EXPECT_EQ(web::target_query("/getRecord?page=2"), "page=2");
    EXPECT_EQ(web::target_path("/x/downloadwav"), "/x/downloadwav");
    EXPECT_EQ(web::target_query("/x/downloadwav"), "");
}

TEST(JsonChunkedReply, IsOneChunkThenTheEmptyChunk)
{
    const std::string json = "{\n\t\"code\":\t200\n}";
    std::ostringstream wire;
    wire << web::json_chunked_reply(json, 11, true);
    char size[16];
    std::snprintf(size, sizeof size, "%zx", json.size());
    EXPECT_EQ(wire.str(), "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                          "Transfer-Encoding: chunked\r\n\r\n" +
                              std::string(size) + "\r\n" + json + "\r\n0\r\n\r\n");

    std::ostringstream closing;
    closing << web::json_chunked_reply("{}", 11, false);
    EXPECT_NE(closing.str().find("Connection: close\r\n"), std::string::npos);
    EXPECT_NE(closing.str().find("\r\n\r\n2\r\n{}\r\n0\r\n\r\n"), std::string::npos);
}

TEST(ContentType, FollowsTheExtension)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/doc/index.html", "text/html; charset=utf-8"},
        {"/a/B.HTM", "text/html; charset=utf-8"},
        {"app.js", "text/javascript; charset=utf-8"},
        {"x.css", "text/css; charset=utf-8"},
        {"rec.wav", "audio/wav"},
        {"rec.mp3", "audio/mpeg"},
        {"noextension", "application/octet-stream"},
        {"a.unknown", "application/octet-stream"},
    };
    for (const auto& [path, type] : cases)
        EXPECT_STREQ(web::content_type_of(path), type) << path;
}

TEST(OlvaLine, BindsKeepsAlarmsAndResetsOnPlugOut)
{
    COlvaLine line;
    EXPECT_EQ(line.line_handel(), COlvaLine::kFree);
    EXPECT_EQ(line.get_device_simNo(), 0);

    line.set_device_alarm(2, 1);
    line.set_device_playalarm(3, -16);
    line.set_device_error(1);
    line.handl_plug_in(257, 1);
    EXPECT_EQ(line.line_handel(), 257u);
    EXPECT_EQ(line.get_device_alarm(), 2);
    EXPECT_EQ(line.get_device_playalarm(), 3);
    EXPECT_EQ(line.get_device_playalarm_error(), -16);
    EXPECT_EQ(line.get_device_error(), 1);
    EXPECT_EQ(line.get_device_simNo(), -1);
    EXPECT_EQ(line.get_device_simReg(), -1);
    EXPECT_EQ(line.get_device_simState(), -1);

    line.set_device_SimNo(2);
    line.handl_plug_in(257, 1);  // the same handle again
    EXPECT_EQ(line.get_device_simNo(), -1);
    EXPECT_EQ(line.get_device_alarm(), 2);

    line.handl_plug_out();
    EXPECT_EQ(line.line_handel(), COlvaLine::kFree);
    EXPECT_EQ(line.get_device_alarm(), 0);
    EXPECT_EQ(line.get_device_playalarm(), 0);
    EXPECT_EQ(line.get_device_playalarm_error(), 0);
    EXPECT_EQ(line.get_device_error(), 0);
    EXPECT_EQ(line.get_device_simNo(), -1);
}

}  // namespace
