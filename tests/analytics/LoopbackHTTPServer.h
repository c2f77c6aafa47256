#pragma once
// A loopback HTTP server for the analytics tests that keeps every request exactly as it came
// (a multipart body is not taken apart) and answers by path with a set status and text, one
// connection at a time, closing each. Unknown paths get 200 and "<ok/>".

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LoopbackHTTPServer {
  public:
    struct Request {
        std::string method;
        std::string target;  // path and query as sent
        std::string userAgent;
        std::string contentType;
        std::string body;
    };

    LoopbackHTTPServer();
    ~LoopbackHTTPServer();
    LoopbackHTTPServer(const LoopbackHTTPServer&) = delete;
    LoopbackHTTPServer& operator=(const LoopbackHTTPServer&) = delete;

    // "http://127.0.0.1:<port><path>".
    std::string url(const std::string& path) const;
    // The answer to requests whose path (without query) is `path`.
    void answer(const std::string& path, std::string body, int status = 200);
    // Every request so far, oldest first.
    std::vector<Request> requests();
    // The latest request (empty before the first).
    Request last();

  private:
    void serve();
    void handle(int client);

    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::map<std::string, std::pair<int, std::string>> answers_;
    std::vector<Request> requests_;
};
