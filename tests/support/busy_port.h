// A socket listening on a free loopback port, closed with the object.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace olva_test {

class BusyPort {
public:
    BusyPort()
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(fd_, 1) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen on loopback");
        port_ = ntohs(address.sin_port);
    }
    ~BusyPort() { close(fd_); }
    BusyPort(const BusyPort&) = delete;
    BusyPort& operator=(const BusyPort&) = delete;
    unsigned short port() const { return port_; }
    // Whether a client has connected: the socket never accepts, so a
    // connection made waits in its backlog.
    bool connection_waiting() const
    {
        pollfd ready{fd_, POLLIN, 0};
        return poll(&ready, 1, 0) == 1;
    }

private:
    int fd_ = -1;
    unsigned short port_ = 0;
};

// A loopback port that was free a moment ago.
inline unsigned short free_loopback_port()
{
    return BusyPort().port();
}

}  // namespace olva_test
