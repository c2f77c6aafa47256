// CTest labels: threads

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "analytics/RQKNConnect/RQKNRequest.h"
#include "analytics/RQKNConnect/RQKNSession.h"
#include "platform/Device/DeviceSettings.h"
#include "platform/Foundation/NSRunLoop.h"
#include "platform/Foundation/NSXMLParser.h"
#include "tests/analytics/AnalyticsTestHome.h"
#include "tests/support/LoopbackHTTPService.h"

namespace {

const std::string kBoundary = "3i2ndDfv2rTHiSisAbouNdArYfORhtTPEefj3q2f";

// One part of a multipart body: its name (empty for a file part), its header lines, its bytes.
struct Part {
    std::string name;
    std::string headers;
    std::string content;
};

// Splits a body on the request's fixed boundary; fails the test when the framing is off.
std::vector<Part> parseMultipart(const std::string& body) {
    const std::string opening = "--" + kBoundary + "\r\n";
    const std::string delimiter = "\r\n--" + kBoundary + "\r\n";
    const std::string closing = "\r\n--" + kBoundary + "--\r\n";
    std::vector<Part> parts;
    EXPECT_TRUE(body.starts_with(opening)) << body.substr(0, 60);
    EXPECT_TRUE(body.ends_with(closing))
        << body.substr(body.size() - std::min<size_t>(60, body.size()));
    if (!body.starts_with(opening) || !body.ends_with(closing))
        return parts;
    std::string rest = body.substr(opening.size(), body.size() - opening.size() - closing.size());
    for (;;) {
        size_t end = rest.find(delimiter);
        std::string text = rest.substr(0, end);
        size_t split = text.find("\r\n\r\n");
        Part part{"", text.substr(0, split), text.substr(split + 4)};
        std::smatch match;
        if (std::regex_search(part.headers, match, std::regex("; name=\"([^\"]*)\"")))
            part.name = match[1];
        parts.push_back(part);
        if (end == std::string::npos)
            break;
        rest = rest.substr(end + delimiter.size());
    }
    return parts;
}

// The service's own MD5: OpenSSL's digest interface, not the client's CC_MD5.
std::string md5Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    char hex[2 * EVP_MAX_MD_SIZE + 1] = {};
    for (unsigned int i = 0; i < length; ++i) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

// The signature as the REST service checks it: the text parts sorted by name without regard to
// case, name=value each, an image part as its field name and "=" alone, then the secret.
std::string expectedSig(const std::vector<Part>& parts, const std::string& imageKey,
                        const std::string& secret) {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const Part& p : parts)
        if (p.name != "sig" && !p.name.empty())
            pairs.emplace_back(p.name, p.content);
    if (!imageKey.empty())
        pairs.emplace_back(imageKey, "");
    std::sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) {
        return strcasecmp(a.first.c_str(), b.first.c_str()) < 0;
    });
    std::string text;
    for (const auto& [k, v] : pairs) text += k + "=" + v;
    return md5Hex(text + secret);
}

// Notes every message in order.
class RecordingDelegate : public RQKNRequestDelegate {
  public:
    bool respondsToRequestLoading() const override { return true; }
    void requestLoading(RQKNRequest& r) override { note("loading", r); }
    bool respondsToRequestDidReceiveResponse() const override { return true; }
    void requestDidReceiveResponse(RQKNRequest& r, const NSHTTPURLResponse& response) override {
        note("response " + std::to_string(response.statusCode()), r);
    }
    bool respondsToRequestDidFailWithError() const override { return true; }
    void requestDidFailWithError(RQKNRequest& r, const NSErrorPtr& e) override {
        note("fail", r);
        error = e;
    }
    bool respondsToRequestDidLoad() const override { return true; }
    void requestDidLoad(RQKNRequest& r, const Value& value) override {
        note(std::string("load") + (r.loading() ? " while loading" : ""), r);
        result = value;
    }
    bool respondsToRequestWasCancelled() const override { return true; }
    void requestWasCancelled(RQKNRequest& r) override { note("cancelled", r); }

    std::vector<std::string> messages;
    Value result;
    NSErrorPtr error;
    RQKNRequest* request = nullptr;

  private:
    void note(std::string message, RQKNRequest& r) {
        messages.push_back(std::move(message));
        request = &r;
    }
};

using Seen = LoopbackHTTPService::Request;

class RQKNRequestTest : public AnalyticsTestHome {
  protected:
    RQKNRequestTest() {
        answer("<ok/>");
        server_.answer("/plain", "<ok/>");
        EXPECT_GT(server_.start(), 0);
        DeviceSettings settings = DeviceSettings::fromEnvironment();
        settings.restURL = url("/restserver.php");
        DeviceSettings::install(settings);
    }
    ~RQKNRequestTest() override { DeviceSettings::uninstall(); }

    std::string url(const std::string& path) const { return server_.url(path); }
    void answer(std::string xml, int status = 200) {
        server_.answer("/restserver.php", std::move(xml), status);
    }
    // The latest request (empty before the first).
    Seen seen() {
        auto requests = server_.requests();
        return requests.empty() ? Seen{} : requests.back();
    }
    size_t serverRequests() { return server_.requests().size(); }
    // A session of its own for each call, so that pacing never holds one back.
    std::shared_ptr<RQKNSession> session(std::optional<std::string> apiSecret,
                                         std::optional<std::string> sessionSecret) {
        auto s = RQKNSession::initWithKey("apikey123", std::move(apiSecret), {});
        s->begin(1234567890123ull, "sessionkey456", std::move(sessionSecret), {});
        sessions_.push_back(s);
        return s;
    }
    // Runs the loop until the connection has ended.
    static void runToEnd() { NSRunLoop::currentRunLoop()->run(); }

  private:
    LoopbackHTTPService server_;
    std::vector<std::shared_ptr<RQKNSession>> sessions_;
};

std::shared_ptr<UIImage> smallImage() {
    return UIImage::imageWithCGImage(CGImage::make(8, 8, true, [](uint8_t* rows, size_t stride) {
        for (size_t y = 0; y < 8; ++y)
            std::fill_n(reinterpret_cast<uint32_t*>(rows + y * stride), 8, 0xFF336699u);
    }));
}

using Names = std::vector<std::string>;

}  // namespace

TEST_F(RQKNRequestTest, CallsAreSignedMultipartPosts) {
    struct Case {
        const char* name;
        std::optional<std::string> apiSecret, sessionSecret;
        std::string method;
        RQKNParameters params;
        Names parts;  // in body order
        std::string secret;
        std::map<std::string, std::string> values;  // parts whose value the case fixes
        std::string imageKey = "";
    };
    const std::string query = "select sex,birthday from user where uid == 1234567890123";
    const std::vector<Case> cases = {
        {"with a session secret",
         "apisecret",
         "sessionsecret",
         "kinnet.kql.query",
         {{"query", query}},
         {"api_key", "call_id", "format", "method", "query", "session_key", "sig", "ss", "v"},
         "sessionsecret",
         {{"query", query},
          {"ss", "1"},
          {"v", "1.0"},
          {"format", "XML"},
          {"method", "kinnet.kql.query"},
          {"api_key", "apikey123"},
          {"session_key", "sessionkey456"},
          {"call_id", "1300000000"}}},
        {"without a session secret: the API secret, no ss",
         "apisecret",
         {},
         "kinnet.kql.query",
         {},
         {"api_key", "call_id", "format", "method", "session_key", "sig", "v"},
         "apisecret",
         {}},
        {"with neither secret the pairs alone",
         {},
         {},
         "kinnet.users.getInfo",
         {{"Uids", "1,2"}},
         {"Uids", "api_key", "call_id", "format", "method", "session_key", "sig", "v"},
         "",
         {{"Uids", "1,2"}}},
        {"a special method: no session fields, the API secret",
         "apisecret",
         "sessionsecret",
         "kinnet.auth.getSession",
         {{"auth_token", "tok"}, {"session_key", "caller's"}},
         {"api_key", "auth_token", "format", "method", "session_key", "sig", "v"},
         "apisecret",
         {{"session_key", "caller's"}, {"auth_token", "tok"}}},
        {"createToken is special too, with no API secret",
         {},
         "sessionsecret",
         "kinnet.auth.createToken",
         {},
         {"api_key", "format", "method", "sig", "v"},
         "",
         {}},
        {"a caller's entry under a protocol key is replaced",
         "apisecret",
         "sessionsecret",
         "kinnet.kql.query",
         {{"method", "evil"},
          {"v", "9"},
          {"api_key", "other"},
          {"ss", "0"},
          {"call_id", "7"},
          {"format", "JSON"},
          {"extra", "kept"}},
         {"api_key", "call_id", "extra", "format", "method", "session_key", "sig", "ss", "v"},
         "sessionsecret",
         {{"method", "kinnet.kql.query"},
          {"v", "1.0"},
          {"api_key", "apikey123"},
          {"ss", "1"},
          {"call_id", "1300000000"},
          {"format", "XML"},
          {"extra", "kept"}}},
        {"an image goes after the text parts and is signed as its key alone",
         "apisecret",
         "sessionsecret",
         "kinnet.photos.upload",
         {{"aaa_photo", smallImage()}, {"zcaption", "hi"}},
         {"api_key", "call_id", "format", "method", "session_key", "sig", "ss", "v", "zcaption",
          ""},
         "sessionsecret",
         {{"zcaption", "hi"}},
         "aaa_photo"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto delegate = std::make_shared<RecordingDelegate>();
        auto request =
            RQKNRequest::requestWithSession(session(c.apiSecret, c.sessionSecret), delegate);
        request->call(c.method, c.params);
        runToEnd();
        EXPECT_EQ(delegate->messages, (Names{"loading", "response 200", "load while loading"}));
        EXPECT_FALSE(request->loading());

        const Seen s = seen();
        EXPECT_EQ(s.method, "POST");
        EXPECT_EQ(s.target, "/restserver.php");
        EXPECT_EQ(s.header("User-Agent"), "KinnetConnect");
        EXPECT_EQ(s.header("Content-Type"), "multipart/form-data; boundary=" + kBoundary);
        const auto parts = parseMultipart(s.body);
        Names names;
        for (const Part& p : parts) names.push_back(p.name);
        EXPECT_EQ(names, c.parts);
        std::map<std::string, std::string> byName;
        for (const Part& p : parts) {
            if (!p.name.empty()) {
                EXPECT_EQ(p.headers, "Content-Disposition: form-data; name=\"" + p.name + "\"");
                byName[p.name] = p.content;
            }
        }
        for (const auto& [key, value] : c.values) EXPECT_EQ(byName[key], value) << key;
        EXPECT_EQ(byName["sig"], expectedSig(parts, c.imageKey, c.secret));
        if (!c.imageKey.empty()) {
            const Part& image = parts.back();
            EXPECT_EQ(image.headers,
                      "Content-Disposition: form-data; filename=\"photo\"\r\n"
                      "Content-Type: image/jpeg");
            ASSERT_GE(image.content.size(), 4u);
            EXPECT_EQ(image.content.substr(0, 2), "\xFF\xD8");
            EXPECT_NE(UIImage::initWithData(Data(image.content.begin(), image.content.end())),
                      nullptr);
        }
    }
}

TEST_F(RQKNRequestTest, ACallersSigIsSignedBeforeItIsReplaced) {
    auto delegate = std::make_shared<RecordingDelegate>();
    auto request = RQKNRequest::requestWithSession(session("apisecret", "sessionsecret"), delegate);
    request->call("kinnet.kql.query", {{"sig", "forged"}});
    runToEnd();
    auto parts = parseMultipart(seen().body);
    std::string signedText;
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const Part& p : parts) pairs.emplace_back(p.name, p.name == "sig" ? "forged" : p.content);
    std::sort(pairs.begin(), pairs.end());
    for (const auto& [k, v] : pairs) signedText += k + "=" + v;
    const auto sig =
        std::find_if(parts.begin(), parts.end(), [](auto& p) { return p.name == "sig"; });
    ASSERT_NE(sig, parts.end());
    EXPECT_EQ(sig->content, md5Hex(signedText + "sessionsecret"));
}

TEST_F(RQKNRequestTest, AKnownCallCarriesItsKnownSignature) {
    // The digest was computed outside the project, by hand, with printf '%s' TEXT | md5sum,
    // where TEXT is these three lines joined without line ends:
    //   api_key=apikey123call_id=1300000000format=XMLmethod=kinnet.kql.query
    //   query=select sex,birthday from user where uid == 1234567890123
    //   session_key=sessionkey456ss=1Uids=1,2v=1.0sessionsecret
    // ("Uids" sorts between "ss" and "v" only when case is ignored; the clock reads 1300000000.)
    auto delegate = std::make_shared<RecordingDelegate>();
    auto request = RQKNRequest::requestWithSession(session("apisecret", "sessionsecret"), delegate);
    request->call(
        "kinnet.kql.query",
        {{"query", "select sex,birthday from user where uid == 1234567890123"}, {"Uids", "1,2"}});
    runToEnd();
    std::string sig;
    for (const Part& p : parseMultipart(seen().body))
        if (p.name == "sig")
            sig = p.content;
    EXPECT_EQ(sig, "90f1759e06f9ff11a66c1eee4d039b21");
}

TEST_F(RQKNRequestTest, AnswersBecomeResultsOrErrors) {
    struct Case {
        const char* name;
        std::string answer;
        int status;
        bool loads;
        Value result;
        std::string domain;
        long code;
        Value userInfo;
    };
    auto info = [](std::vector<std::pair<std::string, Value>> entries) {
        ValueDictionary d;
        for (auto& [k, v] : entries) d.set(k, v);
        return Value(std::move(d));
    };
    const std::vector<Case> cases = {
        {"a list of users",
         "<kql_query_response list=\"true\"><user><sex>male</sex></user></kql_query_response>", 200,
         true, Value(ValueArray{info({{"sex", "male"}})}), "", 0, Value()},
        {"the HTTP status is not looked at", "<r>x</r>", 500, true, Value("x"), "", 0, Value()},
        {"an API error",
         "<error_response><error_code> +102 apples</error_code><error_msg>Session key invalid"
         "</error_msg><request_args list=\"true\"><arg><key>v</key></arg></request_args>"
         "</error_response>",
         200, false, Value(), "127.0.0.1", 102,
         info({{NSLocalizedDescriptionKey, "Session key invalid"},
               {"request_args", Value(ValueArray{info({{"key", "v"}})})}})},
        {"an API error without request_args",
         "<error_response><error_code>-4</error_code><error_msg>m</error_msg></error_response>",
         200, false, Value(), "127.0.0.1", -4, info({{NSLocalizedDescriptionKey, "m"}})},
        {"without error_msg the user information is empty",
         "<error_response><error_code>5</error_code><request_args list=\"true\"/>"
         "</error_response>",
         200, false, Value(), "127.0.0.1", 5, info({})},
        {"without error_code the code is 0",
         "<error_response><error_msg>no code</error_msg></error_response>", 200, false, Value(),
         "127.0.0.1", 0, info({{NSLocalizedDescriptionKey, "no code"}})},
        {"a code that is no number is 0",
         "<error_response><error_code>abc</error_code></error_response>", 200, false, Value(),
         "127.0.0.1", 0, info({})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        answer(c.answer, c.status);
        auto delegate = std::make_shared<RecordingDelegate>();
        auto request = RQKNRequest::requestWithSession(session("a", "s"), delegate);
        request->call("kinnet.kql.query", {{"query", "q"}});
        runToEnd();
        const std::string last = c.loads ? "load while loading" : "fail";
        EXPECT_EQ(delegate->messages,
                  (Names{"loading", "response " + std::to_string(c.status), last}));
        if (c.loads) {
            EXPECT_EQ(delegate->result, c.result) << delegate->result.description();
        } else {
            ASSERT_NE(delegate->error, nullptr);
            EXPECT_EQ(delegate->error->domain(), c.domain);
            EXPECT_EQ(delegate->error->code(), c.code);
            EXPECT_EQ(delegate->error->userInfo(), c.userInfo)
                << delegate->error->userInfo().description();
        }
    }
}

TEST_F(RQKNRequestTest, AMalformedAnswerFailsWithTheParsersError) {
    answer("<html><body>Bad gateway</html>", 502);
    auto delegate = std::make_shared<RecordingDelegate>();
    auto request = RQKNRequest::requestWithSession(session("a", "s"), delegate);
    request->call("kinnet.kql.query", {});
    runToEnd();
    EXPECT_EQ(delegate->messages, (Names{"loading", "response 502", "fail"}));
    ASSERT_NE(delegate->error, nullptr);
    EXPECT_EQ(delegate->error->domain(), NSXMLParserErrorDomain);
    EXPECT_EQ(delegate->error->code(), NSXMLParserTagNameMismatchError);
}

TEST_F(RQKNRequestTest, AConnectionFailureReachesTheDelegateUnchanged) {
    DeviceSettings settings = DeviceSettings::current();
    settings.restURL = refusingURL() + "restserver.php";
    DeviceSettings::install(settings);

    auto delegate = std::make_shared<RecordingDelegate>();
    auto request = RQKNRequest::requestWithSession(session("a", "s"), delegate);
    request->call("kinnet.kql.query", {});
    runToEnd();
    EXPECT_EQ(delegate->messages, (Names{"loading", "fail"}));
    ASSERT_NE(delegate->error, nullptr);
    EXPECT_EQ(delegate->error->domain(), NSURLErrorDomain);
    EXPECT_EQ(delegate->error->code(), NSURLErrorCannotConnectToHost);
    EXPECT_FALSE(request->loading());
}

TEST_F(RQKNRequestTest, CancelStopsOnlyARunningRequest) {
    auto delegate = std::make_shared<RecordingDelegate>();
    auto s = session("a", "s");
    // Before it starts: nothing. The fourth request of a window waits in the queue.
    std::vector<std::shared_ptr<RQKNRequest>> first;
    for (int i = 0; i < 3; ++i) {
        first.push_back(RQKNRequest::requestWithSession(s));
        time.clock().advance(0.001);
        first.back()->call("kinnet.kql.query", {});
    }
    auto waiting = RQKNRequest::requestWithSession(s, delegate);
    waiting->call("kinnet.kql.query", {});
    EXPECT_FALSE(waiting->loading());
    waiting->cancel();
    EXPECT_TRUE(delegate->messages.empty());
    EXPECT_EQ(s->queuedRequestCount(), 1u);

    // Running: stopped, told, and nothing more follows.
    auto running = RQKNRequest::requestWithSession(session("a", "s"), delegate);
    running->call("kinnet.kql.query", {});
    ASSERT_TRUE(running->loading());
    running->cancel();
    EXPECT_FALSE(running->loading());
    EXPECT_EQ(delegate->messages, (Names{"loading", "cancelled"}));
    EXPECT_EQ(delegate->request, running.get());
    // After the end: nothing.
    running->cancel();
    EXPECT_EQ(delegate->messages, (Names{"loading", "cancelled"}));

    // The waiting request still starts when its window comes.
    delegate->messages.clear();
    time.advance(2.0);
    EXPECT_TRUE(waiting->loading());
    runToEnd();
    EXPECT_EQ(delegate->messages, (Names{"loading", "response 200", "load while loading"}));
}

TEST_F(RQKNRequestTest, ARequestNeedNotBeKeptByItsCreator) {
    auto delegate = std::make_shared<RecordingDelegate>();
    std::weak_ptr<RQKNRequest> weak;
    {
        auto request = RQKNRequest::requestWithSession(session("a", "s"), delegate);
        weak = request;
        request->call("kinnet.kql.query", {});
    }
    EXPECT_FALSE(weak.expired());
    runToEnd();
    EXPECT_EQ(delegate->messages.back(), "load while loading");
    EXPECT_TRUE(weak.expired());
}

TEST_F(RQKNRequestTest, PostIsAPlainGetWithTheParametersInTheQuery) {
    struct Case {
        std::string path;
        RQKNParameters params;
        std::string target;
    };
    const std::vector<Case> cases = {
        {"/plain", {{"a", "1"}, {"b", "x,y"}}, "/plain?a=1&b=x,y"},
        {"/plain?k=v", {{"a", "1"}}, "/plain?k=v&a=1"},
        {"/plain", {}, "/plain?"},
        {"/plain?k=v", {}, "/plain?k=v&"},
    };
    for (const Case& c : cases) {
        auto delegate = std::make_shared<RecordingDelegate>();
        auto request = RQKNRequest::requestWithSession(session("a", "s"), delegate);
        request->post(url(c.path), c.params);
        EXPECT_EQ(request->description(), "<KNRequest " + url(c.path) + ">");
        runToEnd();
        const Seen s = seen();
        EXPECT_EQ(s.method, "GET") << c.path;
        EXPECT_EQ(s.target, c.target) << c.path;
        EXPECT_EQ(s.header("User-Agent"), "KinnetConnect");
        EXPECT_EQ(s.header("Content-Type"), "");
        EXPECT_EQ(delegate->messages, (Names{"loading", "response 200", "load while loading"}));
    }
}

TEST_F(RQKNRequestTest, ADelegateHearsOnlyWhatItAnswers) {
    // Answers only the load: the other messages are not sent to it.
    class LoadOnly : public RQKNRequestDelegate {
      public:
        bool respondsToRequestDidLoad() const override { return true; }
        void requestDidLoad(RQKNRequest&, const Value&) override { ++loads; }
        void requestLoading(RQKNRequest&) override { ++others; }
        void requestDidReceiveResponse(RQKNRequest&, const NSHTTPURLResponse&) override {
            ++others;
        }
        int loads = 0;
        int others = 0;
    };
    auto delegate = std::make_shared<LoadOnly>();
    auto request = RQKNRequest::requestWithSession(session("a", "s"), delegate);
    request->call("kinnet.kql.query", {});
    EXPECT_EQ(request->description(), "<KNRequest kinnet.kql.query>");
    runToEnd();
    EXPECT_EQ(delegate->loads, 1);
    EXPECT_EQ(delegate->others, 0);
}

TEST_F(RQKNRequestTest, OnlyTheBytesAfterTheLastResponseAreRead) {
    // The connection's messages, as a connection with a second response sends them.
    auto delegate = std::make_shared<RecordingDelegate>();
    auto request = RQKNRequest::requestWithSession(session("a", "s"), delegate);
    const NSHTTPURLResponse interim(url("/restserver.php"), 200, {});
    const NSHTTPURLResponse final(url("/restserver.php"), 200, {});
    const std::string junk = "<broken", answer = "<r>x</r>";
    request->connectionDidReceiveResponse(nullptr, interim);
    request->connectionDidReceiveData(nullptr, Data(junk.begin(), junk.end()));
    request->connectionDidReceiveResponse(nullptr, final);
    request->connectionDidReceiveData(nullptr, Data(answer.begin(), answer.begin() + 3));
    request->connectionDidReceiveData(nullptr, Data(answer.begin() + 3, answer.end()));
    request->connectionDidFinishLoading(nullptr);
    EXPECT_EQ(delegate->messages, (Names{"response 200", "response 200", "load"}));
    EXPECT_EQ(delegate->result, Value("x"));
}

TEST_F(RQKNRequestTest, ACallThatCannotBeSignedFailsWithoutBeingSent) {
    struct Case {
        const char* name;
        std::optional<std::string> apiKey;
        std::optional<std::string> sessionKey;
        std::string method;
    };
    const std::vector<Case> cases = {
        {"no session key for a plain method", "key", {}, "kinnet.kql.query"},
        {"no API key", {}, "sk", "kinnet.kql.query"},
        {"no method name", "key", "sk", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto s = RQKNSession::initWithKey(c.apiKey, "secret", {});
        s->begin(1, c.sessionKey, {}, {});
        auto delegate = std::make_shared<RecordingDelegate>();
        const size_t before = serverRequests();
        RQKNRequest::requestWithSession(s, delegate)->call(c.method, {});
        EXPECT_TRUE(delegate->messages.empty()) << "told from the run loop, not during the call";
        runToEnd();
        EXPECT_EQ(delegate->messages, (Names{"fail"}));
        EXPECT_EQ(serverRequests(), before);
        EXPECT_EQ(s->requestBurstCount(), 0);
    }
    // A special method needs no session key.
    auto s = RQKNSession::initWithKey("key", "secret", {});
    auto delegate = std::make_shared<RecordingDelegate>();
    RQKNRequest::requestWithSession(s, delegate)->call("kinnet.auth.createToken", {});
    runToEnd();
    EXPECT_EQ(delegate->messages.back(), "load while loading");
}

TEST_F(RQKNRequestTest, RequestsWithoutASessionUseTheSharedOne) {
    auto shared = session("a", "s");
    RQKNSession::setSession(shared);
    auto delegate = std::make_shared<RecordingDelegate>();
    RQKNRequest::requestWithDelegate(delegate)->call("kinnet.kql.query", {});
    EXPECT_EQ(shared->requestBurstCount(), 1);
    runToEnd();
    EXPECT_EQ(delegate->messages.back(), "load while loading");
    EXPECT_NE(seen().body.find("name=\"session_key\"\r\n\r\nsessionkey456"), std::string::npos);
    RQKNSession::setSession(nullptr);
}
