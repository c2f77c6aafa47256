#include "tests/support/LoopbackHTTPService.h"

namespace {

// Where the hook before routing keeps a multipart request's Content-Type while the server reads
// the body.
const char* const kSentContentType = "X-Loopback-Sent-Content-Type";

}  // namespace

std::string LoopbackHTTPService::Request::header(const std::string& name) const {
    auto found = headers.find(name);
    return found == headers.end() ? "" : found->second;
}

LoopbackHTTPService::LoopbackHTTPService() {
    // cpp-httplib decides by the Content-Type whether it reads the body whole or as form parts,
    // and hands this hook the request it is about to fill as const; the object itself is not.
    server_.set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
        auto& headers = const_cast<httplib::Request&>(request).headers;
        auto type = headers.find("Content-Type");
        if (type != headers.end() && type->second.starts_with("multipart/form-data")) {
            std::string sent = type->second;
            headers.erase(type);
            headers.emplace(kSentContentType, std::move(sent));
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // Runs after the route and before the answer is written, so that a client that has its
    // answer finds its request here.
    server_.set_post_routing_handler([this](const httplib::Request& request, httplib::Response&) {
        Request seen{request.method, request.target, request.headers, request.body};
        auto sent = seen.headers.find(kSentContentType);
        if (sent != seen.headers.end()) {
            std::string type = sent->second;
            seen.headers.erase(sent);
            seen.headers.emplace("Content-Type", std::move(type));
        }
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(seen));
    });
}

void LoopbackHTTPService::answer(const std::string& path, std::string body, int status) {
    std::lock_guard lock(mutex_);
    answers_[path] = {status, std::move(body)};
}

std::vector<LoopbackHTTPService::Request> LoopbackHTTPService::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void LoopbackHTTPService::answerFromTable(const httplib::Request& request,
                                          httplib::Response& response) {
    std::lock_guard lock(mutex_);
    auto found = answers_.find(request.path);
    if (found == answers_.end()) {
        response.status = 404;
        return;
    }
    response.status = found->second.first;
    response.set_content(found->second.second, "text/plain");
}

int LoopbackHTTPService::start() {
    // After the test's own routes: cpp-httplib takes the first that matches.
    auto table = [this](const httplib::Request& request, httplib::Response& response) {
        answerFromTable(request, response);
    };
    server_.Get(".*", table);
    server_.Post(".*", table);
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0)
        return port_ = -1;
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();
    return port_;
}

void LoopbackHTTPService::stop() {
    if (!thread_.joinable())
        return;
    server_.stop();
    thread_.join();
}
