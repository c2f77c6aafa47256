#include "platform/Foundation/NSURLConnection.h"

#include <curl/curl.h>

#include <cmath>
#include <memory>
#include <mutex>

namespace {

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlFree {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct Exchange {
    Data body;
    HTTPHeaderFields headers;
};

size_t appendBody(char* bytes, size_t size, size_t count, void* context) {
    auto* exchange = static_cast<Exchange*>(context);
    exchange->body.insert(exchange->body.end(), reinterpret_cast<uint8_t*>(bytes),
                          reinterpret_cast<uint8_t*>(bytes) + size * count);
    return size * count;
}

std::string trimmed(std::string_view text) {
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    size_t last = text.find_last_not_of(blanks);
    return std::string(text.substr(first, last - first + 1));
}

// Called once per header line; a status line starts a new response (after "100 Continue").
size_t collectHeader(char* bytes, size_t size, size_t count, void* context) {
    auto* exchange = static_cast<Exchange*>(context);
    std::string_view line(bytes, size * count);
    if (line.starts_with("HTTP/")) {
        exchange->headers.clear();
    } else if (size_t colon = line.find(':'); colon != std::string_view::npos) {
        exchange->headers.emplace_back(trimmed(line.substr(0, colon)),
                                       trimmed(line.substr(colon + 1)));
    }
    return size * count;
}

std::pair<long, const char*> urlError(CURLcode code) {
    switch (code) {
        case CURLE_URL_MALFORMAT:
            return {NSURLErrorBadURL, "unsupported URL"};
        case CURLE_UNSUPPORTED_PROTOCOL:
            return {NSURLErrorUnsupportedURL, "unsupported URL"};
        case CURLE_OPERATION_TIMEDOUT:
            return {NSURLErrorTimedOut, "The request timed out."};
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return {NSURLErrorCannotFindHost,
                    "A server with the specified hostname could not be found."};
        case CURLE_COULDNT_CONNECT:
            return {NSURLErrorCannotConnectToHost, "Could not connect to the server."};
        case CURLE_GOT_NOTHING:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE:
            return {NSURLErrorNetworkConnectionLost, "The network connection was lost."};
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_BAD_CONTENT_ENCODING:
            return {NSURLErrorBadServerResponse, "The server returned a bad response."};
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
            return {NSURLErrorSecureConnectionFailed, "A secure connection could not be made."};
        default:
            return {NSURLErrorUnknown, "The request failed."};
    }
}

NSErrorPtr makeError(CURLcode code, const std::string& URL) {
    auto [errorCode, description] = urlError(code);
    ValueDictionary info;
    info.set(NSLocalizedDescriptionKey, description);
    info.set(NSURLErrorFailingURLStringErrorKey, URL);
    info.set("CurlError", std::string(curl_easy_strerror(code)));
    return std::make_shared<NSError>(NSURLErrorDomain, errorCode, Value(std::move(info)));
}

void setMethodAndBody(CURL* curl, const NSURLRequest& request) {
    const std::string& method = request.HTTPMethod();
    const Data& body = request.HTTPBody();
    if (method == "GET" && body.empty()) {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
        return;
    }
    if (method == "HEAD") {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        return;
    }
    // POSTFIELDS sends the body as it is; the method is then replaced unless it is POST. An empty
    // body still needs a pointer, or curl would read one from standard input.
    static const char empty[] = "";
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS,
                     body.empty() ? empty : reinterpret_cast<const char*>(body.data()));
    if (method != "POST")
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
}

}  // namespace

std::optional<Data> NSURLConnection::sendSynchronousRequest(const NSURLRequest& request,
                                                            NSHTTPURLResponse* response,
                                                            NSErrorPtr* error) {
    initialiseCurlOnce();
    std::unique_ptr<CURL, CurlFree> curl(curl_easy_init());
    if (!curl) {
        if (error)
            *error = makeError(CURLE_FAILED_INIT, request.URL());
        return std::nullopt;
    }
    CURL* c = curl.get();
    Exchange exchange;
    curl_easy_setopt(c, CURLOPT_URL, request.URL().c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS,
                     static_cast<long>(std::ceil(request.timeoutInterval() * 1000.0)));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &appendBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &exchange);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &collectHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &exchange);
    setMethodAndBody(c, request);

    // curl adds "Expect: 100-continue" to large bodies, which some servers never answer.
    curl_slist* list = curl_slist_append(nullptr, "Expect:");
    for (const auto& [name, value] : request.allHTTPHeaderFields())
        if (curl_slist* longer = curl_slist_append(list, (name + ": " + value).c_str()))
            list = longer;
    std::unique_ptr<curl_slist, CurlFree> headers(list);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, list);

    CURLcode code = curl_easy_perform(c);
    if (code != CURLE_OK) {
        if (error)
            *error = makeError(code, request.URL());
        return std::nullopt;
    }
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (response)
        *response = NSHTTPURLResponse(request.URL(), status, std::move(exchange.headers));
    return std::move(exchange.body);
}
