// The help page against the service itself: every command of the dispatch
// table, every text the service sends a browser and every HTTP route has its
// row on the page, with members and an example that the service takes.
#include <gtest/gtest.h>

#include <cJSON.h>

#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "cavrel_olva.h"
#include "support/web_fixture.h"
#include "ukit/json_text.h"
#include "ukit/web_session_common.h"

namespace olva_test {
namespace {

using JsonPtr = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

JsonPtr parse_json(const std::string& text)
{
    return JsonPtr(cJSON_Parse(text.c_str()), &cJSON_Delete);
}

std::string html_unescaped(std::string text)
{
    const std::pair<const char*, const char*> entities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}};
    for (const auto& [entity, plain] : entities) {
        for (std::size_t at; (at = text.find(entity)) != std::string::npos;)
            text.replace(at, std::strlen(entity), plain);
    }
    return text;
}

class HelpPage {
public:
    HelpPage() : text_(readFile(std::string(OLVA_WEBROOT_DIR) + "/doc/index.html")) {}

    const std::string& text() const { return text_; }

    // The table row with this id, up to its end; empty when there is none.
    std::string row(const std::string& id) const
    {
        const std::size_t start = text_.find("<tr id=\"" + id + "\">");
        if (start == std::string::npos)
            return {};
        const std::size_t end = text_.find("</tr>", start);
        return text_.substr(start, end == std::string::npos ? std::string::npos : end - start);
    }

    // The row's example, the JSON text of its <code class="example">.
    static std::string example(const std::string& row)
    {
        const std::string open = "<code class=\"example\">";
        const std::size_t start = row.find(open);
        if (start == std::string::npos)
            return {};
        const std::size_t end = row.find("</code>", start);
        return html_unescaped(row.substr(start + open.size(), end - start - open.size()));
    }

private:
    std::string text_;
};

// The member names of a JSON object other than "event".
std::set<std::string> members_of(const cJSON* object)
{
    std::set<std::string> names;
    for (const cJSON* item = object ? object->child : nullptr; item; item = item->next) {
        if (std::string(item->string) != "event")
            names.insert(item->string);
    }
    return names;
}

std::string event_of(const cJSON* object)
{
    const cJSON* event = cJSON_GetObjectItem(object, "event");
    return cJSON_IsString(event) ? event->valuestring : "";
}

class WebHelpPage : public WebServiceTest {
protected:
    HelpPage page_;
};

TEST_F(WebHelpPage, DocumentsEveryCommandWithItsMembersReplyAndAnExampleTheServiceRuns)
{
    start();
    auto client = WsClient::connect(client_options());
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->read());  // the greeting

    const auto names = COlvaMgr::command_names();
    ASSERT_FALSE(names.empty());
    for (const std::string_view name_view : names) {
        const std::string name(name_view);
        SCOPED_TRACE(name);
        const std::string row = page_.row("cmd:" + name);
        ASSERT_FALSE(row.empty()) << "no row for the command " << name;
        EXPECT_TRUE(row.find("notify") != std::string::npos || row.find("answer") != std::string::npos ||
                    row.find("无回复") != std::string::npos || row.find("uploadfileresult") != std::string::npos ||
                    (name == "getinfo" && row.find("\"event\":\"getinfo\"") != std::string::npos))
            << "the row of " << name << " names no reply";
        const std::string example = HelpPage::example(row);
        const JsonPtr frame = parse_json(example);
        ASSERT_TRUE(frame) << "example is no JSON: " << example;
        EXPECT_EQ(event_of(frame.get()), name);
        for (const std::string& member : members_of(frame.get()))
            EXPECT_NE(row.find("<code>" + member + "</code>"), std::string::npos)
                << "the example's member " << member << " is not listed";
        ASSERT_TRUE(client->send(example));
    }
    // Frames are handled in order: once this one is answered, every example
    // has been; none was taken for an unknown command.
    ASSERT_TRUE(client->send("{\"event\":\"uwebclose\"}"));
    const std::string answer = "{\"event\":\"answer\",\"type\":\"uwebclose\",\"handle\":0,\"result\":\"\"}";
    // The example of uwebclose is answered as well: the second answer is
    // the last frame's.
    int answers = 0;
    while (answers < 2) {
        const auto text = client->read();
        ASSERT_TRUE(text) << "no answer to the last frame";
        answers += *text == answer ? 1 : 0;
    }
    EXPECT_EQ(log_text().find("other msg recv"), std::string::npos) << log_text();
    EXPECT_EQ(log_text().find("error json msg"), std::string::npos);
}

TEST_F(WebHelpPage, DocumentsEveryTextTheServiceSendsWithItsMembers)
{
    start();
    auto client = WsClient::connect(client_options());
    ASSERT_TRUE(client);
    std::vector<std::string> texts;
    const auto greeting = client->read();
    ASSERT_TRUE(greeting);
    texts.push_back(*greeting);
    texts.push_back(web::kFarewellText);

    // Every event code, its text parameters pointing at texts; the alarm
    // also as a playback alarm, which carries its error. A ring of another
    // handle marks the end, since the texts reach the browser in order.
    const std::string param = "1(2)";
    const unsigned long text = olva_fake::text_param(param);
    raise(0x101, OLVA_EVENT_PLUG_IN);
    for (int code = 0; code <= 45; ++code)
        raise(0x101, code, text, text, text, text);
    raise(0x101, OLVA_EVENT_ALARM, 3, 5);
    raise(0x999, OLVA_EVENT_LINE_RING);
    const std::string last = "{\"event\":\"ring\",\"handle\":2457}";
    for (;;) {
        const auto sent = client->read();
        ASSERT_TRUE(sent) << "the marking ring never came";
        if (*sent == last)
            break;
        texts.push_back(*sent);
    }

    // The replies: getinfo, an answer, a notify and an upload result.
    olva_fake::set_result("olva_stop_record", -3);
    for (const char* command : {"{\"event\":\"getinfo\"}", "{\"event\":\"uwebclose\"}",
                                "{\"event\":\"StopRecord\",\"handle\":257}", "{\"event\":\"UploadFormFile\"}"}) {
        ASSERT_TRUE(client->send(command));
        const auto reply = client->read();
        ASSERT_TRUE(reply) << command;
        texts.push_back(*reply);
    }

    std::map<std::string, std::set<std::string>> seen;  // event -> members
    for (const std::string& sent : texts) {
        const JsonPtr json = parse_json(sent);
        ASSERT_TRUE(json) << sent;
        const std::set<std::string> members = members_of(json.get());
        seen[event_of(json.get())].insert(members.begin(), members.end());
    }
    EXPECT_GE(seen.size(), 30u);
    for (const auto& [event, members] : seen) {
        SCOPED_TRACE(event);
        const std::string row = page_.row("event:" + event);
        ASSERT_FALSE(row.empty()) << "no row for the text " << event;
        for (const std::string& member : members)
            EXPECT_NE(row.find("<code>" + member + "</code>"), std::string::npos)
                << "the member " << member << " of " << event << " is not listed";
        const JsonPtr example = parse_json(HelpPage::example(row));
        ASSERT_TRUE(example) << "example is no JSON: " << HelpPage::example(row);
        EXPECT_EQ(event_of(example.get()), event);
        for (const std::string& member : members_of(example.get()))
            EXPECT_TRUE(members.contains(member)) << "the example has a member " << member << " the service never sends";
    }
}

TEST_F(WebHelpPage, DocumentsEveryRouteTheOriginRuleAndTheLimits)
{
    const auto paths = COlvaMgr::route_paths();
    ASSERT_FALSE(paths.empty());
    for (const std::string_view path_view : paths) {
        const std::string path(path_view);
        const std::string row = page_.row("route:" + path);
        ASSERT_FALSE(row.empty()) << "no row for the route " << path;
        EXPECT_NE(row.find("<code>" + path), std::string::npos) << path;
    }
    const std::string& text = page_.text();
    for (const char* needed : {"allowed_origins=", "allowed_origins=null", "Origin: null", "1001", "1008",
                               "config.ini", "[CONFIG]"})
        EXPECT_NE(text.find(needed), std::string::npos) << needed;
    const std::string frame_limit = std::to_string(web::session::kMaxFrameSize / 1024) + " KiB";
    EXPECT_NE(text.find("一个 WebSocket 帧（一条命令）最大 " + frame_limit), std::string::npos) << frame_limit;
    const std::string row = page_.row("route:/getRecord");
    EXPECT_NE(row.find("<code>limit</code> 最多 1000"), std::string::npos);
}

// What a file route answers when it cannot send the file is what its row
// says, asked of the service itself.
TEST_F(WebHelpPage, FileRoutesSayHowAFileTheyCannotSendIsAnswered)
{
    start();
    for (const std::string path : {"/playaudiofile", "/downloadwav", "/downloadlogfile"}) {
        SCOPED_TRACE(path);
        const std::string row = page_.row("route:" + path);
        ASSERT_FALSE(row.empty());
        for (const std::string query : {"?filename=missing.wav", ""}) {
            const HttpResult res = request(path + query, "", "GET");
            ASSERT_NE(res.status, 0) << "no reply to " << path + query << ": " << res.error;
            EXPECT_NE(row.find("回复 " + std::to_string(res.status)), std::string::npos) << row;
        }
        EXPECT_EQ(row.find("没有回复"), std::string::npos) << row;
    }
}

}  // namespace
}  // namespace olva_test
