#include "support/web_fixture.h"

#include <cJSON.h>

#include <filesystem>
#include <thread>

namespace olva_test {

std::string formatted_json(const std::string& compact)
{
    cJSON* json = cJSON_Parse(compact.c_str());
    if (!json)
        return "(bad expected text " + compact + ")";
    char* printed = cJSON_Print(json);
    std::string text = printed ? printed : "";
    cJSON_free(printed);
    cJSON_Delete(json);
    return text;
}

void WebServiceTest::SetUp()
{
    olva_fake::reset();
    app_dir_ = temp_.file("app");
    std::filesystem::create_directories(app_dir_ + "/webroot");
    options_.exe_dir = app_dir_;
    paths_.setApplicationDirectory(app_dir_);
    options_.wakeup_count_path = temp_.file("wakeup_count");
    writeFile(options_.wakeup_count_path, "7\n");
    uWebMgr.set_tray(&tray_);
}

void WebServiceTest::TearDown()
{
    uWebMgr.close_uWeb();
    uWebMgr.set_tray(nullptr);
}

void WebServiceTest::start(const std::string& config)
{
    const bool has_port = config.find("HttpPort=") != std::string::npos;
    writeFile(app_dir_ + "/config.ini", "[CONFIG]\n" + std::string(has_port ? "" : "HttpPort=0\n") + config);
    ASSERT_EQ(uWebMgr.init_uWeb(options_), 0);
    port_ = uWebMgr.http_port();
    ASSERT_NE(port_, 0);
}

ClientOptions WebServiceTest::client_options() const
{
    ClientOptions options;
    options.port = port_;
    return options;
}

HttpResult WebServiceTest::request(const std::string& target, const std::string& body,
                                   const std::string& method) const
{
    ClientOptions options = client_options();
    options.target = target;
    return http_request(options, method, body);
}

std::unique_ptr<WsClient> WebServiceTest::connect()
{
    std::string error;
    auto client = WsClient::connect(client_options(), &error);
    EXPECT_TRUE(client) << error;
    if (!client)
        return nullptr;
    const auto greeting = client->read();
    EXPECT_EQ(greeting, "{\"event\":\"joined\",\"OS\":\"linux\",\"path\":\"" + app_dir_ + "/\"}");
    return client;
}

std::string WebServiceTest::getinfo(WsClient& client)
{
    EXPECT_TRUE(client.send("{\"event\":\"getinfo\"}"));
    return client.read().value_or("(nothing)");
}

std::string WebServiceTest::log_text() const
{
    std::string text;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(uWebMgr.work_path() + "olva-log", ec))
        text += readFile(entry.path().string());
    return text;
}

bool WebServiceTest::wait_for_log(const std::string& text) const
{
    return eventually([&] { return log_text().find(text) != std::string::npos; });
}

void WebServiceTest::raise(unsigned long handle, int event, unsigned long p1, unsigned long p2,
                           unsigned long p3, unsigned long p4)
{
    ASSERT_TRUE(olva_fake::raise(handle, event, p1, p2, p3, p4)) << "no callback registered";
}

}  // namespace olva_test
