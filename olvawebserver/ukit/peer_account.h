// Which account owns the other end of a loopback connection. Another
// account on the same machine reaches the listener as easily as the user's
// browser does, and could read and delete the user's recordings, change the
// settings and hold every connection slot. The kernel knows the owner of
// every socket: its tables /proc/net/tcp and /proc/net/tcp6 list each one
// with its two ends and its owner's uid, so the row whose local end is the
// connection's far end and whose remote end is ours names the account.
#pragma once

#include <array>
#include <cstddef>
#include <istream>
#include <optional>
#include <string_view>

#include <boost/asio/ip/tcp.hpp>

#include "ukit/first_refusals.h"

namespace web {

// One end of a TCP socket: the address in IPv6 form (an IPv4 address as
// ::ffff:a.b.c.d) and the port.
struct SocketEnd {
    std::array<unsigned char, 16> address{};
    unsigned short port = 0;

    bool operator==(const SocketEnd&) const = default;
};

SocketEnd socket_end(const boost::asio::ip::tcp::endpoint& endpoint);

// One row of a kernel socket table. A row written for a socket that no
// process holds any more (one closed before we looked) has inode 0.
struct SocketRow {
    SocketEnd local;
    SocketEnd remote;
    unsigned uid = 0;
    unsigned long inode = 0;
};

// One line of /proc/net/tcp or /proc/net/tcp6; nothing for the heading and
// for a line that does not read as a row. Addresses are printed as 32-bit
// words in the machine's byte order and ports in hex:
//   "   0: 0100007F:D2C4 0100007F:1F76 01 00000000:00000000 00:00000000 00000000  1000        0 48121 1 ..."
// is 127.0.0.1:53956 to 127.0.0.1:8054 on a little-endian machine, owned by
// uid 1000.
std::optional<SocketRow> parse_socket_row(std::string_view line);

// The uid of the socket, held by a process, whose local end is local and
// whose remote end is remote, found in the table's lines; nothing when no
// such row is there.
std::optional<unsigned> socket_owner(std::istream& table, const SocketEnd& local, const SocketEnd& remote);

// The account that owns the other end of an accepted connection, read from
// the kernel's tables under the /proc root; nothing when it cannot be found.
std::optional<unsigned> peer_account(const boost::asio::ip::tcp::endpoint& peer,
                                     const boost::asio::ip::tcp::endpoint& ours);

// The accounts refused so far; an owner that cannot be found counts as one
// more.
using RefusedAccounts = FirstRefusals<std::optional<unsigned>, 256>;

}  // namespace web
