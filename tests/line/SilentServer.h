#pragma once

// A server that never answers: a listener on a free loopback port whose connections the
// kernel accepts and nobody reads, as a dropped network or a frozen server looks to a
// client. Closed with the object.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qz::test {

class SilentServer {
public:
    SilentServer()
    {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof local;
        if (::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 && ::listen(socket_, 8) == 0
            && ::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length) == 0)
            port_ = ntohs(local.sin_port);
    }
    ~SilentServer() { ::close(socket_); }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    // 0 when no port could be had.
    int port() const { return port_; }

private:
    int socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int port_ = 0;
};

} // namespace qz::test
