// The service over TLS with a real Beast client: frames both ways, the
// server's close handshake and replies larger than one TLS record.
#include <gtest/gtest.h>

#include "cavrel_olva.h"
#include "support/web_fixture.h"

namespace olva_test {
namespace {

class WebTls : public WebServiceTest {
protected:
    ClientOptions tls_options() const
    {
        ClientOptions options = client_options();
        options.tls = true;
        options.ca_file = app_dir_ + "/tls.pem";
        return options;
    }

    std::unique_ptr<WsClient> connect_tls()
    {
        std::string error;
        auto client = WsClient::connect(tls_options(), &error);
        EXPECT_TRUE(client) << error;
        if (client) {
            EXPECT_EQ(client->read(), "{\"event\":\"joined\",\"OS\":\"linux\",\"path\":\"" + app_dir_ + "/\"}");
        }
        return client;
    }
};

TEST_F(WebTls, CommandsRepliesAndTheServersCloseGoOverTls)
{
    ASSERT_NO_FATAL_FAILURE(start_tls("keep_only_conncet=1\n"));
    if (IsSkipped())
        return;
    auto first = connect_tls();
    ASSERT_TRUE(first);
    EXPECT_EQ(getinfo(*first), "{\"event\":\"getinfo\",\"workpath\":\"" + app_dir_ + "/\",\"channels\":[]}");

    // A second client closes the first with the close handshake, over TLS.
    auto second = connect_tls();
    ASSERT_TRUE(second);
    ASSERT_TRUE(first->wait_closed());
    EXPECT_TRUE(first->got_close_frame());
    EXPECT_EQ(first->close_code(), 1000);
    EXPECT_EQ(first->close_reason(), "{\"event\":\"left\"}");
    EXPECT_TRUE(wait_for_log("disconnect connect from 127.0.0.1:"));

    raise(257, OLVA_EVENT_PLUG_IN);
    EXPECT_EQ(second->read(), "{\"event\":\"plugin\",\"handle\":257}");
}

TEST_F(WebTls, FilesLargerThanOneRecordArriveWhole)
{
    ASSERT_NO_FATAL_FAILURE(start_tls());
    if (IsSkipped())
        return;
    // Past TLS's 16 KB records and the stream's 64 KB of gathered writes.
    std::string content;
    for (int i = 0; content.size() < 300 * 1024; ++i)
        content += std::to_string(i) + ",";
    writeFile(app_dir_ + "/webroot/big.txt", content);
    ClientOptions options = tls_options();
    options.target = "/big.txt";
    const HttpResult result = http_request(options);
    EXPECT_EQ(result.status, 200) << result.error;
    EXPECT_EQ(result.body.size(), content.size());
    EXPECT_TRUE(result.body == content);
}

}  // namespace
}  // namespace olva_test
