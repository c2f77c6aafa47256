#include "platform/Foundation/NSURLConnection.h"

#include <curl/curl.h>
#include <strings.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <variant>

#include "platform/Foundation/Clock.h"
#include "platform/Foundation/NSHTTPCookieStorage.h"
#include "platform/Foundation/NSRunLoop.h"
#include "platform/Foundation/NSTimer.h"
#include "platform/Foundation/NSURL.h"

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
    long status = 0;
    Data body;
    HTTPHeaderFields headers;
    bool tooLarge = false;
};

size_t appendBody(char* bytes, size_t size, size_t count, void* context) {
    auto* exchange = static_cast<Exchange*>(context);
    if (size * count > NSURLConnectionMaximumBodyLength - exchange->body.size()) {
        // Returning short makes libcurl stop with a write error.
        exchange->tooLarge = true;
        Data().swap(exchange->body);
        return 0;
    }
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
        case CURLE_TOO_MANY_REDIRECTS:
            return {NSURLErrorHTTPTooManyRedirects, "too many HTTP redirects"};
        case CURLE_FILESIZE_EXCEEDED:
            return {NSURLErrorDataLengthExceedsMaximum,
                    "The server's answer is larger than the largest answer accepted."};
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

// The cookies an answer sets go to the shared store, whoever asked.
void storeCookies(const HTTPHeaderFields& fields, const std::string& URL) {
    auto cookies = NSHTTPCookie::cookiesWithResponseHeaderFields(fields, URL);
    if (!cookies.empty())
        NSHTTPCookieStorage::sharedHTTPCookieStorage()->setCookies(cookies);
}

long timeoutMilliseconds(NSTimeInterval seconds) {
    return static_cast<long>(std::ceil(seconds * 1000.0));
}

// Everything both kinds of connection set: URL, method, body, headers, and libcurl's own
// real-time limit. `request` (its body) must outlive the transfer. Returns the header list that
// the caller frees after the transfer.
std::unique_ptr<curl_slist, CurlFree> configure(CURL* c, const NSURLRequest& request) {
    curl_easy_setopt(c, CURLOPT_URL, request.URL().c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects are followed here hop by hop, each with the cookies of its own URL.
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, timeoutMilliseconds(request.timeoutInterval()));
    // Refuses at once an answer that declares a length past the cap; the write callbacks count
    // the rest.
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(NSURLConnectionMaximumBodyLength));
    setMethodAndBody(c, request);

    // curl adds "Expect: 100-continue" to large bodies, which some servers never answer.
    curl_slist* list = curl_slist_append(nullptr, "Expect:");
    HTTPHeaderFields fields = request.allHTTPHeaderFields();
    // The stored cookies for this URL, unless the caller wrote its own "Cookie" field.
    if (request.valueForHTTPHeaderField("Cookie").empty())
        for (auto& field : NSHTTPCookie::requestHeaderFieldsWithCookies(
                 NSHTTPCookieStorage::sharedHTTPCookieStorage()->cookiesForURL(request.URL())))
            fields.push_back(std::move(field));
    for (const auto& [name, value] : fields)
        if (curl_slist* longer = curl_slist_append(list, (name + ": " + value).c_str()))
            list = longer;
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, list);
    return std::unique_ptr<curl_slist, CurlFree>(list);
}

// The result of the one transfer of `multi`, once libcurl reports it done.
std::optional<CURLcode> finishedResult(CURLM* multi) {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued))
        if (message->msg == CURLMSG_DONE)
            return message->data.result;
    return std::nullopt;
}

// Runs the transfer of `c` to its end, or until `deadline` has come on the Clock. libcurl's
// real-time limit stays as a backstop, so a manual clock that nobody moves cannot hang us.
CURLcode performUntil(CURL* c, NSTimeInterval deadline) {
    CURLM* multi = curl_multi_init();
    if (!multi)
        return CURLE_OUT_OF_MEMORY;
    curl_multi_add_handle(multi, c);
    CURLcode result = CURLE_OK;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (auto finished = finishedResult(multi)) {
            result = *finished;
            break;
        }
        const NSTimeInterval left = deadline - Clock::current().monotonic();
        if (left <= 0) {
            result = CURLE_OPERATION_TIMEDOUT;
            break;
        }
        // Under a manual clock, look at it often: another thread moves it.
        const int waitMs =
            Clock::current().isManual()
                ? 2
                : static_cast<int>(std::clamp(std::ceil(left * 1000.0), 1.0, 1000.0));
        curl_multi_poll(multi, nullptr, 0, waitMs, nullptr);
    }
    curl_multi_remove_handle(multi, c);
    curl_multi_cleanup(multi);
    return result;
}

bool isHTTP(const std::string& URL) {
    auto hasScheme = [&](std::string_view scheme) {
        return URL.size() > scheme.size() &&
               ::strncasecmp(URL.data(), scheme.data(), scheme.size()) == 0;
    };
    return hasScheme("http://") || hasScheme("https://");
}

bool neverResolves(const std::string& URL) {
    auto url = NSURL::URLWithString(URL);
    return url && hostNeverResolves(url->host());
}

// Why `URL` is not loaded at all; CURLE_OK when it may be.
CURLcode refusalOf(const std::string& URL) {
    if (!isHTTP(URL))
        return CURLE_UNSUPPORTED_PROTOCOL;
    if (neverResolves(URL))
        return CURLE_COULDNT_RESOLVE_HOST;
    return CURLE_OK;
}

// Where a redirecting answer sends its request: the Location read against the answer's URL.
// None for an answer of another status, or without a Location that can be read.
std::optional<std::string> redirectTarget(const NSHTTPURLResponse& answer) {
    const long status = answer.statusCode();
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308)
        return std::nullopt;
    std::string location = answer.valueForHTTPHeaderField("Location");
    auto base = NSURL::URLWithString(answer.URL());
    auto target = base && !location.empty() ? NSURL::URLWithString(location, *base) : std::nullopt;
    if (!target)
        return std::nullopt;
    return target->absoluteString();
}

// The request that goes on to `target` after `request` was answered with the redirect `status`.
NSURLRequest redirectedRequest(const NSURLRequest& request, long status,
                               const std::string& target) {
    auto next = NSMutableURLRequest::requestWithURL(target, request.cachePolicy(),
                                                    request.timeoutInterval());
    const std::string& method = request.HTTPMethod();
    const bool asGET = (status == 303 && method != "HEAD") ||
                       ((status == 301 || status == 302) && method == "POST");
    next.setHTTPMethod(asGET ? "GET" : method);
    for (const auto& [name, value] : request.allHTTPHeaderFields()) next.addValue(value, name);
    if (asGET)
        next.setValue("", "Content-Type");  // a GET carries no body to describe
    else
        next.setHTTPBody(request.HTTPBody());
    return next;
}

// The status of a status line "HTTP/1.1 200 OK", 0 when it has none.
long statusOf(std::string_view line) {
    size_t space = line.find(' ');
    if (space == std::string_view::npos)
        return 0;
    std::string digits(line.substr(space + 1, 3));
    return std::strtol(digits.c_str(), nullptr, 10);
}

// One hop of a synchronous load: `request` to its answer, or until `deadline` on the Clock.
CURLcode exchangeOnce(const NSURLRequest& request, NSTimeInterval deadline, Exchange* exchange) {
    std::unique_ptr<CURL, CurlFree> curl(curl_easy_init());
    if (!curl)
        return CURLE_FAILED_INIT;
    CURL* c = curl.get();
    auto headers = configure(c, request);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &appendBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, exchange);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &collectHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, exchange);
    CURLcode code = performUntil(c, deadline);
    if (exchange->tooLarge)
        return CURLE_FILESIZE_EXCEEDED;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &exchange->status);
    return code;
}

}  // namespace

std::optional<Data> NSURLConnection::sendSynchronousRequest(const NSURLRequest& request,
                                                            NSHTTPURLResponse* response,
                                                            NSErrorPtr* error) {
    initialiseCurlOnce();
    const NSTimeInterval deadline = Clock::current().monotonic() + request.timeoutInterval();
    NSURLRequest current = request;
    CURLcode code = refusalOf(current.URL());
    for (int redirects = 0; code == CURLE_OK;) {
        Exchange exchange;
        code = exchangeOnce(current, deadline, &exchange);
        if (code != CURLE_OK)
            break;
        storeCookies(exchange.headers, current.URL());
        NSHTTPURLResponse answer(current.URL(), exchange.status, std::move(exchange.headers));
        auto target = redirectTarget(answer);
        if (!target) {
            if (response)
                *response = std::move(answer);
            return std::move(exchange.body);
        }
        current = redirectedRequest(current, answer.statusCode(), *target);
        code = ++redirects > NSURLConnectionMaximumRedirects ? CURLE_TOO_MANY_REDIRECTS
                                                             : refusalOf(current.URL());
    }
    if (error)
        *error = makeError(code, current.URL());
    return std::nullopt;
}

// ---- Asynchronous connection ----
//
// libcurl runs inside the loop's callbacks and only queues what it reports (answers, pieces of
// body, the end); the queue goes to the delegate after libcurl has returned, so a delegate may
// cancel or start connections without re-entering libcurl.

namespace {

struct ResponseMessage {
    NSHTTPURLResponse response;
};
struct DataMessage {
    Data data;
};
struct FinishMessage {};
struct FailMessage {
    NSErrorPtr error;
};
using Message = std::variant<ResponseMessage, DataMessage, FinishMessage, FailMessage>;

}  // namespace

// Owns the curl handles and the timer descriptor until endTransfer; a copy would free them twice.
struct NSURLConnection::Transfer {
    explicit Transfer(const NSURLRequest& request) : current(request) {}
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    std::shared_ptr<NSRunLoop> loop;
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    std::unique_ptr<curl_slist, CurlFree> headers;
    // libcurl's sockets and its own (real-time) timer, as descriptor sources of the loop.
    std::map<curl_socket_t, NSRunLoop::FileDescriptorSource> sockets;
    int timerFd = -1;
    NSRunLoop::FileDescriptorSource timerSource;
    // The request's time-out on the Clock.
    std::shared_ptr<NSTimer> timeout;
    std::weak_ptr<NSURLConnection> owner;

    // The request of the current hop, and the redirects followed so far.
    NSURLRequest current;
    int redirects = 0;
    // The answer being read: its status and header fields so far, and where it redirects to.
    long status = 0;
    HTTPHeaderFields fields;
    std::optional<std::string> target;

    std::deque<Message> queue;
    // Retained until the last message or cancel.
    std::shared_ptr<NSURLConnection> self;
    std::shared_ptr<NSURLConnectionDelegate> delegate;
    bool ended = false;      // no more messages will be queued
    bool cancelled = false;  // no more messages will be sent
    size_t received = 0;     // body bytes of the current answer
    bool tooLarge = false;   // the answer went past the cap

    static size_t onBody(char* bytes, size_t size, size_t count, void* context) {
        auto* t = static_cast<Transfer*>(context);
        if (t->target)
            return size * count;  // a redirect's own body is nobody's
        if (size * count > NSURLConnectionMaximumBodyLength - t->received) {
            t->tooLarge = true;
            return 0;  // libcurl stops with a write error
        }
        t->received += size * count;
        const auto* begin = reinterpret_cast<const uint8_t*>(bytes);
        t->queue.push_back(DataMessage{Data(begin, begin + size * count)});
        return size * count;
    }

    static size_t onHeader(char* bytes, size_t size, size_t count, void* context) {
        auto* t = static_cast<Transfer*>(context);
        std::string_view line(bytes, size * count);
        if (line.starts_with("HTTP/")) {
            t->status = statusOf(line);
            t->fields.clear();
        } else if (line == "\r\n" || line == "\n") {
            if (t->status >= 200) {
                storeCookies(t->fields, t->current.URL());
                NSHTTPURLResponse answer(t->current.URL(), t->status, std::move(t->fields));
                t->target = redirectTarget(answer);
                t->queue.push_back(ResponseMessage{std::move(answer)});
            }
            t->fields.clear();
        } else if (size_t colon = line.find(':'); colon != std::string_view::npos) {
            t->fields.emplace_back(trimmed(line.substr(0, colon)), trimmed(line.substr(colon + 1)));
        }
        return size * count;
    }

    static int onSocketChange(CURL*, curl_socket_t fd, int what, void* context, void*) {
        auto* t = static_cast<Transfer*>(context);
        auto known = t->sockets.find(fd);
        if (what == CURL_POLL_REMOVE) {
            if (known != t->sockets.end())
                t->sockets.erase(known);
            return 0;
        }
        short events = static_cast<short>(((what & CURL_POLL_IN) ? POLLIN : 0) |
                                          ((what & CURL_POLL_OUT) ? POLLOUT : 0));
        if (known != t->sockets.end()) {
            known->second.setEvents(events);
            return 0;
        }
        std::weak_ptr<NSURLConnection> owner = t->owner;
        t->sockets[fd] = t->loop->addFileDescriptor(fd, events, [owner, fd](short revents) {
            if (auto connection = owner.lock())
                connection->onSocket(fd, revents);
        });
        return 0;
    }

    // libcurl asks to be called back after `ms` (0: at once; -1: never).
    static int onTimerChange(CURLM*, long ms, void* context) {
        auto* t = static_cast<Transfer*>(context);
        itimerspec when{};
        if (ms == 0)
            when.it_value.tv_nsec = 1;
        else if (ms > 0) {
            when.it_value.tv_sec = ms / 1000;
            when.it_value.tv_nsec = (ms % 1000) * 1'000'000L;
        }
        timerfd_settime(t->timerFd, 0, &when, nullptr);
        return 0;
    }
};

NSURLConnection::NSURLConnection(const NSURLRequest& request)
    : request_(request), transfer_(std::make_unique<Transfer>(request)) {}

NSURLConnection::~NSURLConnection() {
    endTransfer();
}

const NSURLRequest& NSURLConnection::originalRequest() const {
    return request_;
}

std::shared_ptr<NSURLConnection> NSURLConnection::connectionWithRequest(
    const NSURLRequest& request, std::shared_ptr<NSURLConnectionDelegate> delegate) {
    if (!isHTTP(request.URL()))
        return nullptr;
    initialiseCurlOnce();
    std::shared_ptr<NSURLConnection> connection(new NSURLConnection(request));
    connection->start(std::move(delegate));
    return connection;
}

void NSURLConnection::start(std::shared_ptr<NSURLConnectionDelegate> delegate) {
    Transfer& t = *transfer_;
    t.loop = NSRunLoop::currentRunLoop();
    t.owner = retained(this);
    t.self = retained(this);
    t.delegate = std::move(delegate);
    if (CURLcode refusal = refusalOf(request_.URL()); refusal != CURLE_OK) {
        t.ended = true;
        failFromLoop(makeError(refusal, request_.URL()));
        return;
    }

    std::weak_ptr<NSURLConnection> owner = t.owner;
    t.timeout = NSTimer::timerWithTimeInterval(
        request_.timeoutInterval(),
        [owner](NSTimer&) {
            if (auto connection = owner.lock())
                connection->onTimeout();
        },
        Value(), false);
    t.loop->addTimer(t.timeout);

    t.multi = curl_multi_init();
    t.easy = curl_easy_init();
    t.timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (!t.multi || !t.easy || t.timerFd < 0) {
        endTransfer();
        failFromLoop(makeError(CURLE_FAILED_INIT, request_.URL()));
        return;
    }
    t.timerSource = t.loop->addFileDescriptor(t.timerFd, POLLIN, [owner](short) {
        if (auto connection = owner.lock())
            connection->onCurlTimer();
    });
    curl_multi_setopt(t.multi, CURLMOPT_SOCKETFUNCTION, &Transfer::onSocketChange);
    curl_multi_setopt(t.multi, CURLMOPT_SOCKETDATA, &t);
    curl_multi_setopt(t.multi, CURLMOPT_TIMERFUNCTION, &Transfer::onTimerChange);
    curl_multi_setopt(t.multi, CURLMOPT_TIMERDATA, &t);
    load();
}

void NSURLConnection::load() {
    Transfer& t = *transfer_;
    t.received = 0;
    t.target.reset();
    t.headers = configure(t.easy, t.current);
    curl_easy_setopt(t.easy, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    curl_easy_setopt(t.easy, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(t.easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(t.easy, CURLOPT_HEADERDATA, &t);
    // Arms the timer at once; the transfer begins on the loop's next pass.
    curl_multi_add_handle(t.multi, t.easy);
}

void NSURLConnection::follow() {
    Transfer& t = *transfer_;
    NSURLRequest next = redirectedRequest(t.current, t.status, *t.target);
    CURLcode refusal = ++t.redirects > NSURLConnectionMaximumRedirects ? CURLE_TOO_MANY_REDIRECTS
                                                                       : refusalOf(next.URL());
    if (refusal != CURLE_OK) {
        endTransfer();
        t.queue.push_back(FailMessage{makeError(refusal, next.URL())});
        return;
    }
    // The same handle serves the next hop, in the same multi (whose connections it may reuse);
    // the request whose body the last hop sent goes only once libcurl has let go of it.
    curl_multi_remove_handle(t.multi, t.easy);
    curl_easy_reset(t.easy);
    t.current = std::move(next);
    load();
}

void NSURLConnection::failFromLoop(NSErrorPtr error) {
    Transfer& t = *transfer_;
    t.queue.push_back(FailMessage{std::move(error)});
    std::weak_ptr<NSURLConnection> owner = t.owner;
    t.loop->post([owner] {
        if (auto connection = owner.lock())
            connection->deliver();
    });
}

void NSURLConnection::onSocket(int fd, short revents) {
    Transfer& t = *transfer_;
    if (!t.multi)
        return;
    int mask = 0;
    if (revents & (POLLIN | POLLHUP))
        mask |= CURL_CSELECT_IN;
    if (revents & POLLOUT)
        mask |= CURL_CSELECT_OUT;
    if (revents & (POLLERR | POLLNVAL))
        mask |= CURL_CSELECT_ERR;
    auto self = retained(this);
    int running = 0;
    curl_multi_socket_action(t.multi, fd, mask, &running);
    collectResult();
    deliver();
}

void NSURLConnection::onCurlTimer() {
    Transfer& t = *transfer_;
    if (!t.multi)
        return;
    uint64_t expirations = 0;
    [[maybe_unused]] auto n = read(t.timerFd, &expirations, sizeof expirations);
    auto self = retained(this);
    int running = 0;
    curl_multi_socket_action(t.multi, CURL_SOCKET_TIMEOUT, 0, &running);
    collectResult();
    deliver();
}

void NSURLConnection::onTimeout() {
    Transfer& t = *transfer_;
    if (t.ended)
        return;
    auto self = retained(this);
    endTransfer();
    t.queue.push_back(FailMessage{makeError(CURLE_OPERATION_TIMEDOUT, t.current.URL())});
    deliver();
}

void NSURLConnection::collectResult() {
    Transfer& t = *transfer_;
    auto result = finishedResult(t.multi);
    if (!result)
        return;
    if (*result == CURLE_OK && !t.tooLarge && t.target) {
        follow();
        return;
    }
    endTransfer();
    if (t.tooLarge)
        t.queue.push_back(FailMessage{makeError(CURLE_FILESIZE_EXCEEDED, t.current.URL())});
    else if (*result == CURLE_OK)
        t.queue.push_back(FinishMessage{});
    else
        t.queue.push_back(FailMessage{makeError(*result, t.current.URL())});
}

void NSURLConnection::endTransfer() {
    Transfer& t = *transfer_;
    t.ended = true;
    if (t.timeout) {
        t.timeout->invalidate();
        t.timeout.reset();
    }
    if (t.multi && t.easy)
        curl_multi_remove_handle(t.multi, t.easy);  // may report its sockets removed
    if (t.easy)
        curl_easy_cleanup(t.easy);
    if (t.multi)
        curl_multi_cleanup(t.multi);
    t.easy = nullptr;
    t.multi = nullptr;
    t.headers.reset();
    t.sockets.clear();
    t.timerSource.reset();
    if (t.timerFd >= 0) {
        close(t.timerFd);
        t.timerFd = -1;
    }
}

void NSURLConnection::deliver() {
    Transfer& t = *transfer_;
    // Kept here: the delegate may drop its last reference to us, or cancel, from any message.
    auto self = retained(this);
    auto delegate = t.delegate;
    while (!t.cancelled && !t.queue.empty()) {
        Message message = std::move(t.queue.front());
        t.queue.pop_front();
        const bool last = std::holds_alternative<FinishMessage>(message) ||
                          std::holds_alternative<FailMessage>(message);
        if (last) {
            t.cancelled = true;  // nothing may follow the last message
            t.self.reset();
            t.delegate.reset();
        }
        if (!delegate)
            continue;
        if (auto* m = std::get_if<ResponseMessage>(&message))
            delegate->connectionDidReceiveResponse(this, m->response);
        else if (auto* m = std::get_if<DataMessage>(&message))
            delegate->connectionDidReceiveData(this, m->data);
        else if (std::holds_alternative<FinishMessage>(message))
            delegate->connectionDidFinishLoading(this);
        else if (auto* m = std::get_if<FailMessage>(&message))
            delegate->connectionDidFailWithError(this, m->error);
    }
}

void NSURLConnection::cancel() {
    Transfer& t = *transfer_;
    if (t.cancelled)
        return;
    auto self = retained(this);
    t.cancelled = true;
    endTransfer();
    t.queue.clear();
    t.self.reset();
    t.delegate.reset();
}
