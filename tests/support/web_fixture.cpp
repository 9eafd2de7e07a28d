#include "support/web_fixture.h"

#include <cJSON.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "support/child_process.h"

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

namespace {

// Runs the Python lines with the text, read as strict UTF-8, in "text".
std::optional<bool> python_accepts(const std::string& lines, const std::string& text, const TempDir& dir)
{
    if (!have_program("python3"))
        return std::nullopt;
    const std::string file = dir.file("python_reads.txt");
    writeFile(file, text);
    const std::string command = "python3 -c 'import json, sys\n"
                                "text = open(sys.argv[1], \"rb\").read().decode(\"utf-8\", \"strict\")\n" +
                                lines + "' '" + file + "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

}  // namespace

std::optional<bool> python_reads_utf8(const std::string& text, const TempDir& dir)
{
    return python_accepts("", text, dir);
}

std::optional<bool> python_reads_json(const std::string& text, const TempDir& dir)
{
    // NaN and Infinity are Python's own, not JSON.
    return python_accepts("def refuse(name): sys.exit(2)\n"
                          "json.loads(text, parse_constant=refuse)",
                          text, dir);
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

void WebServiceTest::start_tls(const std::string& config)
{
    if (std::system("openssl version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "the openssl command is not installed";
    const std::string make_cert = "cd '" + app_dir_ +
                                  "' && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
                                  "-nodes -keyout tls.key -out tls.pem -days 2 -subj /CN=localhost "
                                  "-addext subjectAltName=DNS:localhost >/dev/null 2>&1";
    ASSERT_EQ(std::system(make_cert.c_str()), 0);
    start("ssl=1\nssl_cert_filename=tls.pem\nssl_key_filename=tls.key\n" + config);
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
