#pragma once
// A port of 127.0.0.1 that refuses every connection: a socket holds it bound and never listens,
// so that nothing else takes the port while this object lives.

#include <string>

class RefusingLoopbackPort {
  public:
    RefusingLoopbackPort();
    ~RefusingLoopbackPort();
    RefusingLoopbackPort(const RefusingLoopbackPort&) = delete;
    RefusingLoopbackPort& operator=(const RefusingLoopbackPort&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port><path>".
    std::string url(const std::string& path = "/") const;

  private:
    int fd_ = -1;
    int port_ = 0;
};
