// Connections from other accounts of the machine, plain and TLS: closed
// before anything is read, logged once with the account's uid, while the
// service's own account is served. Once with a second account for real (a
// child process that switches to uid 65534, which needs root), and once with
// socket tables the test writes under a /proc root of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/web_fixture.h"

namespace olva_test {
namespace {

constexpr uid_t kOtherAccount = 65534;  // "nobody"
constexpr int kReadTimeoutMs = static_cast<int>(kWait.count());
constexpr int kConnectFailed = -1;
constexpr int kNoEnd = -2;
// A child's exit status when it could not become the other account.
constexpr int kCannotSwitch = 100;

constexpr char kRequest[] =
    "POST /getLog HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";

// Connects fd to the service's port, sends the request and reads until the
// service ends the connection. The bytes received before the end, at most
// size of them kept in reply; kConnectFailed, or kNoEnd when the service
// neither answered to the end nor closed in time. System calls only: a
// forked child of this threaded process runs it.
int exchange(int fd, unsigned short port, char* reply, std::size_t size)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return kConnectFailed;
    // A connection closed before this is written may refuse it: that is
    // the refusal, seen by the read below.
    (void)!send(fd, kRequest, sizeof kRequest - 1, MSG_NOSIGNAL);
    int received = 0;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, kReadTimeoutMs) != 1)
            return kNoEnd;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno == ECONNRESET))
            return received;
        if (n < 0)
            return kNoEnd;
        const std::size_t at = std::min<std::size_t>(received, size);
        const std::size_t kept = std::min<std::size_t>(n, size - at);
        std::copy(buffer, buffer + kept, reply + at);
        received += static_cast<int>(n);
    }
}

int tcp_socket()
{
    return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

// A socket bound to 127.0.0.1 on a free port, so that a table row can name
// it before it connects.
int bound_socket(unsigned short& port)
{
    const int fd = tcp_socket();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        ADD_FAILURE() << "no socket bound: " << std::strerror(errno);
    port = ntohs(address.sin_port);
    return fd;
}

// A row of /proc/net/tcp for 127.0.0.1:from to 127.0.0.1:to, as a
// little-endian kernel writes it.
std::string tcp_row(unsigned short from, unsigned short to, unsigned uid)
{
    char row[160];
    std::snprintf(row, sizeof row,
                  "   1: 0100007F:%04X 0100007F:%04X 01 00000000:00000000 00:00000000 00000000 %5u        0 4711 1\n",
                  from, to, uid);
    return row;
}

std::size_t count_of(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class OtherAccounts : public WebServiceTest, public ::testing::WithParamInterface<bool> {
protected:
    bool tls() const { return GetParam(); }

    void start_service()
    {
        if (tls())
            start_tls();
        else
            start();
    }

    // One request of the service's own account, over the listener's kind.
    HttpResult own_request() const
    {
        ClientOptions options = client_options();
        options.target = "/getLog";
        options.tls = tls();
        options.ca_file = app_dir_ + "/tls.pem";
        return http_request(options, "POST");
    }

    // The exit status of a child that becomes the other account and runs
    // exchange(): the bytes it received (0-99), kCannotSwitch, or 101 and
    // 102 for kConnectFailed and kNoEnd.
    int exchange_as_other_account()
    {
        const pid_t pid = fork();
        if (pid == 0) {
            if (setgroups(0, nullptr) != 0 || setresgid(kOtherAccount, kOtherAccount, kOtherAccount) != 0 ||
                setresuid(kOtherAccount, kOtherAccount, kOtherAccount) != 0)
                _exit(kCannotSwitch);
            char reply[1];
            const int received = exchange(tcp_socket(), port_, reply, sizeof reply);
            _exit(received == kConnectFailed ? 101 : received == kNoEnd ? 102 : std::min(received, 99));
        }
        EXPECT_GT(pid, 0) << std::strerror(errno);
        if (pid <= 0)
            return -1;
        int status = 0;
        if (!eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; }, kWait + kWait,
                        kProcessLookPause)) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST_P(OtherAccounts, AnotherAccountIsClosedBeforeAnyReplyAndTheUsersOwnIsServed)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "switching to a second account needs root";
    ASSERT_NO_FATAL_FAILURE(start_service());
    if (IsSkipped())
        return;
    // Twice: each connection is closed, the account is logged once.
    EXPECT_EQ(exchange_as_other_account(), 0) << "the other account got a reply";
    EXPECT_EQ(exchange_as_other_account(), 0) << "the other account got a reply";
    EXPECT_TRUE(wait_for_log("refused: it belongs to uid 65534, not to this service's uid 0"));
    EXPECT_EQ(count_of(log_text(), "uid 65534"), 1u);

    const HttpResult own = own_request();
    EXPECT_EQ(own.status, 200) << own.error;
    EXPECT_NE(own.body.find("\"code\":"), std::string::npos) << own.body;
}

// The tables decide, so the test runs without root: a row that gives the
// connection's far end to another uid refuses it, one that gives it to ours
// lets it in.
TEST_P(OtherAccounts, TheSocketTableRowDecidesWhoIsServed)
{
    ASSERT_NO_FATAL_FAILURE(start_service());
    if (IsSkipped())
        return;
    paths_.setProcRoot(temp_.file("proc"));
    std::filesystem::create_directories(temp_.file("proc/net"));
    const unsigned own_uid = geteuid();
    const unsigned other_uid = own_uid + 4242;

    unsigned short from = 0;
    const int refused = bound_socket(from);
    writeFile(temp_.file("proc/net/tcp"), tcp_row(from, port_, other_uid));
    char reply[512] = {};
    EXPECT_EQ(exchange(refused, port_, reply, sizeof reply), 0) << reply;
    close(refused);
    EXPECT_TRUE(wait_for_log(" connection from 127.0.0.1:" + std::to_string(from) + " refused: it belongs to uid " +
                             std::to_string(other_uid) + ", not to this service's uid " + std::to_string(own_uid)));

    if (!tls()) {
        const int served = bound_socket(from);
        writeFile(temp_.file("proc/net/tcp"), tcp_row(from, port_, own_uid));
        const int received = exchange(served, port_, reply, sizeof reply - 1);
        close(served);
        EXPECT_GT(received, 0);
        EXPECT_TRUE(std::string(reply).starts_with("HTTP/1.1 200 OK\r\n")) << reply;
    }
}

TEST_P(OtherAccounts, AConnectionOfNoKnownAccountIsRefusedAndLoggedOnce)
{
    ASSERT_NO_FATAL_FAILURE(start_service());
    if (IsSkipped())
        return;
    // No tables under this root: no owner can be found.
    paths_.setProcRoot(temp_.file("proc"));
    for (int i = 0; i < 3; ++i) {
        const int fd = tcp_socket();
        char reply[512] = {};
        EXPECT_EQ(exchange(fd, port_, reply, sizeof reply), 0) << reply;
        close(fd);
    }
    EXPECT_EQ(own_request().status, 0);
    EXPECT_TRUE(wait_for_log("refused: the account at its other end cannot be found"));
    EXPECT_EQ(count_of(log_text(), "cannot be found"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Listeners, OtherAccounts, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Tls" : "Plain"; });

}  // namespace
}  // namespace olva_test
