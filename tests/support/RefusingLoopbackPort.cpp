#include "tests/support/RefusingLoopbackPort.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

RefusingLoopbackPort::RefusingLoopbackPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), length), 0);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
}

RefusingLoopbackPort::~RefusingLoopbackPort() {
    ::close(fd_);
}

std::string RefusingLoopbackPort::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}
