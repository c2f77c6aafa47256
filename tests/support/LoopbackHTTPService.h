#pragma once
// The tests' HTTP server: cpp-httplib on a free port of 127.0.0.1, serving on a thread of its own
// from start() until stop() or destruction. Routes are set on routes() before start(); answer()
// gives a path a fixed answer at any time, for requests that no route takes.
//
// Every request is kept as it came, with its body whole, before its answer is sent: a
// multipart/form-data body too, which cpp-httplib would otherwise take apart and keep no bytes
// of. (A route therefore sees such a request without its Content-Type; requests() has it.)
//
// start() returns only once the server runs: a stop that came before would be lost, and the
// serving thread would never end. stop() is safe to call twice, and without a start.

#include <httplib.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class LoopbackHTTPService {
  public:
    struct Request {
        std::string method;
        std::string target;  // path and query as sent
        httplib::Headers headers;
        std::string body;
        // The first value of the header `name` (any case), or "" without one.
        std::string header(const std::string& name) const;
    };

    LoopbackHTTPService();
    ~LoopbackHTTPService() { stop(); }
    LoopbackHTTPService(const LoopbackHTTPService&) = delete;
    LoopbackHTTPService& operator=(const LoopbackHTTPService&) = delete;

    httplib::Server& routes() { return server_; }
    // GET and POST requests for `path` (the target without its query) that no route takes get
    // `status` and `body`; a later call for the same path replaces it. Other paths get 404.
    void answer(const std::string& path, std::string body, int status = 200);
    // Every request so far, oldest first.
    std::vector<Request> requests() const;

    // The port, or -1 when no port could be bound (then nothing serves).
    int start();
    void stop();

    int port() const { return port_; }
    std::string url(const std::string& path = "/") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

  private:
    void answerFromTable(const httplib::Request& request, httplib::Response& response);

    httplib::Server server_;
    std::thread thread_;
    int port_ = -1;
    mutable std::mutex mutex_;
    std::map<std::string, std::pair<int, std::string>> answers_;
    std::vector<Request> requests_;
};
