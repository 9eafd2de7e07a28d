// The kernel's socket tables read for the owner of a connection's other end:
// rows as a little-endian kernel writes them, IPv4 and IPv6 (v4-mapped too),
// rows that are not rows, and the lookup through the /proc root.
#include "ukit/peer_account.h"

#include <gtest/gtest.h>

#include <bit>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>

#include "support/fake_paths.h"
#include "support/temp_dir.h"

namespace olva_test {
namespace {

using boost::asio::ip::make_address;
using boost::asio::ip::tcp;
using web::SocketEnd;

SocketEnd end_of(const char* address, unsigned short port)
{
    return web::socket_end(tcp::endpoint(make_address(address), port));
}

constexpr const char* kHeading =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode";
constexpr const char* kHeading6 =
    "  sl  local_address                         remote_address                        st tx_queue rx_queue "
    "tr tm->when retrnsmt   uid  timeout inode";

// A row of /proc/net/tcp: local and remote "ADDR:PORT" as the kernel prints
// them, then the columns up to the inode and a tail.
std::string row(const std::string& local, const std::string& remote, const std::string& uid,
                const std::string& inode = "48121")
{
    return "   3: " + local + " " + remote + " 01 00000000:00000000 00:00000000 00000000  " + uid +
           "        0 " + inode + " 1 0000000000000000 20 4 30 10 -1";
}

class SocketTables : public ::testing::Test {
protected:
    void SetUp() override
    {
        if constexpr (std::endian::native != std::endian::little)
            GTEST_SKIP() << "the tables here are written as a little-endian kernel writes them";
    }
};

TEST_F(SocketTables, RowsReadAsTheKernelWritesThem)
{
    struct Case {
        std::string line;
        SocketEnd local;
        SocketEnd remote;
        unsigned uid;
        unsigned long inode;
    };
    const Case cases[] = {
        // 127.0.0.1:53956 to 127.0.0.1:8054: the bytes of each address word
        // stand in the machine's order, the port in plain hex.
        {row("0100007F:D2C4", "0100007F:1F76", "1000"), end_of("127.0.0.1", 53956), end_of("127.0.0.1", 8054),
         1000, 48121},
        {row("0200007F:0050", "0100007F:1F76", "0"), end_of("127.0.0.2", 80), end_of("127.0.0.1", 8054), 0, 48121},
        {row("0A01A8C0:FFFF", "00000000:0000", "4294967295", "7"), end_of("192.168.1.10", 65535),
         end_of("0.0.0.0", 0), 4294967295u, 7},
        // ::1 and ::ffff:127.0.0.1 in tcp6, and a global address.
        {row("00000000000000000000000001000000:D2C4", "00000000000000000000000001000000:1F76", "65534"),
         end_of("::1", 53956), end_of("::1", 8054), 65534, 48121},
        {row("0000000000000000FFFF00000100007F:D2C4", "0000000000000000FFFF00000100007F:1F76", "1000"),
         end_of("127.0.0.1", 53956), end_of("::ffff:127.0.0.1", 8054), 1000, 48121},
        {row("B80D0120000000000000000001000000:1234", "00000000000000000000000000000000:0000", "5", "0"),
         end_of("2001:db8::1", 0x1234), end_of("::", 0), 5, 0},
        // Blanks as wide as the kernel pads them, or tabs.
        {"0:\t0100007F:D2C4\t0100007F:1F76 01 0:0 0:0 0 1000 0 9", end_of("127.0.0.1", 53956),
         end_of("127.0.0.1", 8054), 1000, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::optional<web::SocketRow> parsed = web::parse_socket_row(c.line);
        ASSERT_TRUE(parsed);
        EXPECT_TRUE(parsed->local == c.local);
        EXPECT_TRUE(parsed->remote == c.remote);
        EXPECT_EQ(parsed->uid, c.uid);
        EXPECT_EQ(parsed->inode, c.inode);
    }
}

TEST_F(SocketTables, WhatIsNoRowIsNotRead)
{
    const std::string lines[] = {
        kHeading,
        kHeading6,
        "",
        "   ",
        row("0100007F:D2C4", "0100007F:1F76", "1000").substr(0, 60),  // cut short
        row("100007F:D2C4", "0100007F:1F76", "1000"),                 // 7 digits
        row("0100007F0100007F:D2C4", "0100007F:1F76", "1000"),        // neither IPv4 nor IPv6
        row("0100007G:D2C4", "0100007F:1F76", "1000"),                // not hex
        row("+100007F:D2C4", "0100007F:1F76", "1000"),
        row("-100007F:D2C4", "0100007F:1F76", "1000"),
        row("0100007F:D2C", "0100007F:1F76", "1000"),                 // 3-digit port
        row("0100007F:D2C45", "0100007F:1F76", "1000"),
        row("0100007FD2C4", "0100007F:1F76", "1000"),                 // no colon
        row("0100007F:D2C4", "0100007F:1F76:", "1000"),
        row("0100007F:D2C4", "0100007F:1F76", "-1"),
        row("0100007F:D2C4", "0100007F:1F76", "10x0"),
        row("0100007F:D2C4", "0100007F:1F76", "4294967296"),         // above 32 bits
        row("0100007F:D2C4", "0100007F:1F76", "1000", "inode"),
        row("00000000000000000000000001000000:D2C4", "0000000000000000000000000100000:1F76", "1000"),
    };
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(web::parse_socket_row(line));
    }
}

// The client's row of a connection names the client's account: its local
// end is the far end of ours. The listener's own row of the same connection
// lies in the same table with the ends the other way round.
TEST_F(SocketTables, TheOwnerIsTheRowWithTheFarEndAsItsLocalEnd)
{
    const std::string tcp = std::string(kHeading) + "\n" +
                            row("0100007F:1F76", "00000000:0000", "0", "100") + "\n" +      // the listener
                            row("0100007F:D2C4", "0100007F:1F76", "0", "0") + "\n" +        // closed: no inode
                            row("0200007F:D2C4", "0100007F:1F76", "4242") + "\n" +          // another address
                            "garbage\n" +
                            row("0100007F:D2C4", "0100007F:1F76", "1000") + "\n" +          // the client
                            row("0100007F:1F76", "0100007F:D2C4", "0", "200") + "\n";       // our socket
    const std::string tcp6 = std::string(kHeading6) + "\n" +
                             row("0000000000000000FFFF00000100007F:D2C5", "0000000000000000FFFF00000100007F:1F76",
                                 "65534") + "\n";
    struct Case {
        const char* what;
        const std::string* table;
        SocketEnd local;
        SocketEnd remote;
        std::optional<unsigned> owner;
    };
    const Case cases[] = {
        {"the client", &tcp, end_of("127.0.0.1", 53956), end_of("127.0.0.1", 8054), 1000u},
        {"our own socket", &tcp, end_of("127.0.0.1", 8054), end_of("127.0.0.1", 53956), 0u},
        {"another address", &tcp, end_of("127.0.0.2", 53956), end_of("127.0.0.1", 8054), 4242u},
        {"an IPv6 client of our IPv4 address", &tcp6, end_of("127.0.0.1", 53957), end_of("127.0.0.1", 8054),
         65534u},
        {"no row", &tcp, end_of("127.0.0.1", 53957), end_of("127.0.0.1", 8054), std::nullopt},
        {"another port of ours", &tcp, end_of("127.0.0.1", 53956), end_of("127.0.0.1", 8055), std::nullopt},
        {"IPv6 only in tcp6", &tcp, end_of("127.0.0.1", 53957), end_of("127.0.0.1", 8054), std::nullopt},
        {"an empty table", nullptr, end_of("127.0.0.1", 53956), end_of("127.0.0.1", 8054), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::istringstream table(c.table ? *c.table : std::string());
        EXPECT_EQ(web::socket_owner(table, c.local, c.remote), c.owner);
    }
}

TEST_F(SocketTables, ThePeersAccountIsReadUnderTheProcRoot)
{
    TempDir temp;
    FakePaths paths;
    paths.setProcRoot(temp.file("proc"));
    const tcp::endpoint ours(make_address("127.0.0.1"), 8054);
    const tcp::endpoint peer(make_address("127.0.0.1"), 53956);

    EXPECT_EQ(web::peer_account(peer, ours), std::nullopt) << "no tables at all";

    std::filesystem::create_directories(temp.file("proc/net"));
    writeFile(temp.file("proc/net/tcp6"), std::string(kHeading6) + "\n" +
                                              row("0000000000000000FFFF00000100007F:D2C4",
                                                  "0000000000000000FFFF00000100007F:1F76", "65534") + "\n");
    EXPECT_EQ(web::peer_account(peer, ours), 65534u) << "only tcp6";

    writeFile(temp.file("proc/net/tcp"), std::string(kHeading) + "\n" +
                                             row("0100007F:D2C4", "0100007F:1F76", "1000") + "\n");
    EXPECT_EQ(web::peer_account(peer, ours), 1000u);
    EXPECT_EQ(web::peer_account(tcp::endpoint(make_address("127.0.0.1"), 1), ours), std::nullopt);
}

TEST(RefusedAccounts, EachAccountIsLoggedOnceAndTheMemoryIsBounded)
{
    web::RefusedAccounts refused;
    EXPECT_TRUE(refused.first_refusal(65534u));
    EXPECT_FALSE(refused.first_refusal(65534u));
    EXPECT_TRUE(refused.first_refusal(std::nullopt));
    EXPECT_FALSE(refused.first_refusal(std::nullopt));
    EXPECT_TRUE(refused.first_refusal(0u));
    unsigned uid = 1;
    while (refused.first_refusal(uid))
        ++uid;
    EXPECT_EQ(uid, web::RefusedAccounts::kMaxRemembered - 3 + 1);
    EXPECT_FALSE(refused.first_refusal(100000u));
}

}  // namespace
}  // namespace olva_test
