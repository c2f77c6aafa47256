#pragma once
// An HTTP server of cpp-httplib on a free port of 127.0.0.1, serving on a thread of its own from
// start() until stop() or destruction. Routes are set on routes() before start().
//
// start() returns only once the server runs: a stop that came before would be lost, and the
// serving thread would never end. stop() is safe to call twice, and without a start.

#include <httplib.h>

#include <string>
#include <thread>

class LoopbackHTTPService {
  public:
    LoopbackHTTPService() = default;
    ~LoopbackHTTPService() { stop(); }
    LoopbackHTTPService(const LoopbackHTTPService&) = delete;
    LoopbackHTTPService& operator=(const LoopbackHTTPService&) = delete;

    httplib::Server& routes() { return server_; }

    // The port, or -1 when no port could be bound (then nothing serves).
    int start() {
        port_ = server_.bind_to_any_port("127.0.0.1");
        if (port_ <= 0)
            return port_ = -1;
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::yield();
        return port_;
    }
    void stop() {
        if (!thread_.joinable())
            return;
        server_.stop();
        thread_.join();
    }

    int port() const { return port_; }
    std::string url(const std::string& path = "/") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

  private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = -1;
};
