#include "tests/analytics/LoopbackHTTPServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>

namespace {

std::string header(const std::string& head, const std::string& name) {
    std::smatch match;
    if (std::regex_search(head, match,
                          std::regex("\\r\\n" + name + ": *([^\\r]*)", std::regex::icase)))
        return match[1];
    return "";
}

}  // namespace

LoopbackHTTPServer::LoopbackHTTPServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    ::listen(fd_, 8);
    thread_ = std::thread([this] { serve(); });
}

LoopbackHTTPServer::~LoopbackHTTPServer() {
    // Wakes the blocked accept.
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
}

std::string LoopbackHTTPServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackHTTPServer::answer(const std::string& path, std::string body, int status) {
    std::lock_guard lock(mutex_);
    answers_[path] = {status, std::move(body)};
}

std::vector<LoopbackHTTPServer::Request> LoopbackHTTPServer::requests() {
    std::lock_guard lock(mutex_);
    return requests_;
}

LoopbackHTTPServer::Request LoopbackHTTPServer::last() {
    std::lock_guard lock(mutex_);
    return requests_.empty() ? Request{} : requests_.back();
}

void LoopbackHTTPServer::serve() {
    for (;;) {
        int client = ::accept(fd_, nullptr, nullptr);
        if (client < 0)
            return;
        handle(client);
        ::close(client);
    }
}

void LoopbackHTTPServer::handle(int client) {
    std::string data;
    char buffer[65536];
    auto receive = [&] {
        ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n > 0)
            data.append(buffer, static_cast<size_t>(n));
        return n > 0;
    };
    size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos)
        if (!receive())
            return;
    const std::string head = data.substr(0, headEnd);
    const size_t length = std::strtoul(header(head, "Content-Length").c_str(), nullptr, 10);
    while (data.size() < headEnd + 4 + length)
        if (!receive())
            return;

    const size_t space = head.find(' ');
    Request request{
        head.substr(0, space), head.substr(space + 1, head.find(' ', space + 1) - space - 1),
        header(head, "User-Agent"), header(head, "Content-Type"), data.substr(headEnd + 4, length)};
    int status = 200;
    std::string body = "<ok/>";
    {
        std::lock_guard lock(mutex_);
        auto it = answers_.find(request.target.substr(0, request.target.find('?')));
        if (it != answers_.end())
            std::tie(status, body) = it->second;
        requests_.push_back(std::move(request));
    }
    const std::string response =
        "HTTP/1.1 " + std::to_string(status) +
        " Answer\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nConnection: close\r\n\r\n" + body;
    ::send(client, response.data(), response.size(), MSG_NOSIGNAL);
}
