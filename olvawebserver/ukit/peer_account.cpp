#include "ukit/peer_account.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "base/platform/paths.h"

namespace web {
namespace {

// The columns of a row: "sl", local, remote, state, queues, timer,
// retransmits, uid, time-out, inode.
constexpr std::size_t kLocalColumn = 1;
constexpr std::size_t kRemoteColumn = 2;
constexpr std::size_t kUidColumn = 7;
constexpr std::size_t kInodeColumn = 9;

constexpr std::size_t kWordDigits = 8;  // one 32-bit word of an address
constexpr std::size_t kPortDigits = 4;

std::vector<std::string_view> columns(std::string_view line)
{
    std::vector<std::string_view> out;
    std::size_t at = 0;
    while ((at = line.find_first_not_of(" \t", at)) != std::string_view::npos) {
        const std::size_t end = std::min(line.find_first_of(" \t", at), line.size());
        out.push_back(line.substr(at, end - at));
        at = end;
    }
    return out;
}

// The whole text as a number in the base given, within Number (unsigned:
// no sign is taken).
template <class Number>
std::optional<Number> whole_number(std::string_view text, int base)
{
    Number value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

// "0100007F:1F76" (IPv4) or "0000000000000000FFFF00000100007F:1F76" (IPv6):
// each word is a 32-bit value as the kernel holds it, so its bytes are laid
// down in the machine's own order.
std::optional<SocketEnd> parse_end(std::string_view text)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const std::string_view address = text.substr(0, colon);
    const std::string_view port_text = text.substr(colon + 1);
    if ((address.size() != kWordDigits && address.size() != 4 * kWordDigits) || port_text.size() != kPortDigits)
        return std::nullopt;
    const std::optional<std::uint16_t> port = whole_number<std::uint16_t>(port_text, 16);
    if (!port)
        return std::nullopt;

    SocketEnd end;
    end.port = *port;
    const std::size_t words = address.size() / kWordDigits;
    // An IPv4 address goes to the last word of ::ffff:0:0/96.
    unsigned char* out = end.address.data() + (words == 1 ? 12 : 0);
    if (words == 1)
        end.address[10] = end.address[11] = 0xFF;
    for (std::size_t i = 0; i < words; ++i) {
        const std::string_view digits = address.substr(i * kWordDigits, kWordDigits);
        const std::optional<std::uint32_t> word = whole_number<std::uint32_t>(digits, 16);
        if (!word)
            return std::nullopt;
        std::memcpy(out + 4 * i, &*word, 4);
    }
    return end;
}

}  // namespace

SocketEnd socket_end(const boost::asio::ip::tcp::endpoint& endpoint)
{
    const boost::asio::ip::address address = endpoint.address();
    const boost::asio::ip::address_v6 v6 =
        address.is_v4() ? boost::asio::ip::make_address_v6(boost::asio::ip::v4_mapped, address.to_v4())
                        : address.to_v6();
    SocketEnd end;
    end.address = v6.to_bytes();
    end.port = endpoint.port();
    return end;
}

std::optional<SocketRow> parse_socket_row(std::string_view line)
{
    const std::vector<std::string_view> cols = columns(line);
    if (cols.size() <= kInodeColumn)
        return std::nullopt;
    const std::optional<SocketEnd> local = parse_end(cols[kLocalColumn]);
    const std::optional<SocketEnd> remote = parse_end(cols[kRemoteColumn]);
    const std::optional<unsigned> uid = whole_number<unsigned>(cols[kUidColumn], 10);
    const std::optional<unsigned long> inode = whole_number<unsigned long>(cols[kInodeColumn], 10);
    if (!local || !remote || !uid || !inode)
        return std::nullopt;
    return SocketRow{*local, *remote, *uid, *inode};
}

std::optional<unsigned> socket_owner(std::istream& table, const SocketEnd& local, const SocketEnd& remote)
{
    std::string line;
    while (std::getline(table, line)) {
        const std::optional<SocketRow> row = parse_socket_row(line);
        // A row without an inode is a socket already closed by its process:
        // its owner reads 0, which is no one's answer.
        if (row && row->inode != 0 && row->local == local && row->remote == remote)
            return row->uid;
    }
    return std::nullopt;
}

std::optional<unsigned> peer_account(const boost::asio::ip::tcp::endpoint& peer,
                                     const boost::asio::ip::tcp::endpoint& ours)
{
    const SocketEnd far_end = socket_end(peer);
    const SocketEnd our_end = socket_end(ours);
    const std::string net = platform::paths().procRoot() + "/net/";
    // A client's IPv6 socket that connected to our IPv4 address is listed
    // in tcp6, with both ends v4-mapped.
    for (const char* name : {"tcp", "tcp6"}) {
        std::ifstream table(net + name);
        if (const std::optional<unsigned> owner = socket_owner(table, far_end, our_end))
            return owner;
    }
    return std::nullopt;
}

}  // namespace web
