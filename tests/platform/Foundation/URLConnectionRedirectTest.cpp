// CTest labels: threads

// Redirects, followed by both kinds of request against one loopback server.

#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/Foundation/NSHTTPCookieStorage.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "platform/Foundation/NSRunLoop.h"
#include "platform/Foundation/NSURLConnection.h"
#include "tests/support/LoopbackHTTPService.h"
#include "tests/support/TemporaryFolder.h"

namespace {

// What a load came to, read the same way from both kinds of request.
struct Outcome {
    long status = 0;        // of the last answer
    std::string body;       // of the last answer
    std::string URL;        // of the last answer
    long error = 0;         // the failure's code, 0 without one
    std::string failedURL;  // the failure's URL
    // Asynchronous only: the status of each response message, and every byte delivered.
    std::vector<long> responses;
    std::string delivered;
};

// Empties its body at each response, as the delegates of this system do.
class OutcomeDelegate : public NSURLConnectionDelegate {
  public:
    Outcome outcome;
    void connectionDidReceiveResponse(NSURLConnection*, const NSHTTPURLResponse& r) override {
        outcome.responses.push_back(r.statusCode());
        outcome.status = r.statusCode();
        outcome.URL = r.URL();
        outcome.body.clear();
    }
    void connectionDidReceiveData(NSURLConnection*, const Data& data) override {
        outcome.body.append(data.begin(), data.end());
        outcome.delivered.append(data.begin(), data.end());
    }
    void connectionDidFailWithError(NSURLConnection*, const NSErrorPtr& e) override {
        outcome.error = e->code();
        outcome.failedURL = e->userInfo()[NSURLErrorFailingURLStringErrorKey].string();
    }
};

Outcome loadSynchronously(const NSURLRequest& request) {
    Outcome outcome;
    NSHTTPURLResponse response;
    NSErrorPtr error;
    auto body = NSURLConnection::sendSynchronousRequest(request, &response, &error);
    if (body) {
        outcome.status = response.statusCode();
        outcome.body.assign(body->begin(), body->end());
        outcome.URL = response.URL();
    } else if (error) {
        outcome.error = error->code();
        outcome.failedURL = error->userInfo()[NSURLErrorFailingURLStringErrorKey].string();
    }
    return outcome;
}

Outcome loadAsynchronously(const NSURLRequest& request) {
    auto delegate = std::make_shared<OutcomeDelegate>();
    EXPECT_NE(NSURLConnection::connectionWithRequest(request, delegate), nullptr);
    NSRunLoop::currentRunLoop()->run();
    return delegate->outcome;
}

class URLConnectionRedirectTest : public ::testing::Test {
  protected:
    void SetUp() override {
        NSSetHomeDirectory(home_.path());
        NSHTTPCookieStorage::resetSharedHTTPCookieStorage();
        auto& routes = service_.routes();
        // "/redirect?status=S&to=URL": answers S with that Location (none without `to`).
        auto redirect = [](const httplib::Request& req, httplib::Response& res) {
            res.status = std::stoi(req.get_param_value("status"));
            if (req.has_param("to"))
                res.set_header("Location", req.get_param_value("to"));
            res.set_content("moved", "text/plain");
        };
        // "/arrive": the method and body it received.
        auto arrive = [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(
                req.method + " " + req.get_header_value("Content-Type") + " " + req.body,
                "text/plain");
        };
        for (const char* path : {"/redirect", "/arrive"}) {
            auto handler = std::string(path) == "/redirect" ? redirect : arrive;
            routes.Get(path, handler);
            routes.Post(path, handler);
            routes.Put(path, handler);
        }
        // "/chain/N": N redirects, then the end.
        routes.Get(R"(/chain/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
            int left = std::stoi(req.matches[1]);
            if (left == 0)
                return res.set_content("end of chain", "text/plain");
            res.set_redirect("/chain/" + std::to_string(left - 1), 302);
        });
        // A cookie set by the redirect goes with the next hop.
        routes.Get("/login", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Set-Cookie", "sid=abc; Path=/");
            res.set_redirect("/whoami", 302);
        });
        routes.Get("/whoami", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content("cookie " + req.get_header_value("Cookie"), "text/plain");
        });
        ASSERT_GT(service_.start(), 0);
    }
    void TearDown() override {
        service_.stop();
        NSHTTPCookieStorage::resetSharedHTTPCookieStorage();
        NSSetHomeDirectory("");
    }
    std::string url(const std::string& path) const { return service_.url(path); }

    TemporaryFolder home_;
    LoopbackHTTPService service_;
};

TEST_F(URLConnectionRedirectTest, BothKindsFollowRedirectsByTheSameRules) {
    const std::string payload = "beacons={}";
    struct Case {
        const char* name;
        const char* method;
        std::string path;
        int hops;          // redirect answers on the way
        long redirect;     // their status
        long status;       // of the last answer (none after a failure)
        std::string body;  // of the last answer
        std::string last;  // the last answer's path, or the failing URL
        long error;
    };
    const std::string absolute = url("/arrive");
    const std::string sent = "text/plain " + payload;
    const Case cases[] = {
        {"GET 302", "GET", "/redirect?status=302&to=/arrive", 1, 302, 200, "GET  ", "/arrive", 0},
        {"relative Location", "GET", "/redirect?status=301&to=arrive", 1, 301, 200, "GET  ",
         "/arrive", 0},
        {"absolute Location", "GET", "/redirect?status=307&to=" + absolute, 1, 307, 200, "GET  ",
         "/arrive", 0},
        {"POST 301 goes on as GET", "POST", "/redirect?status=301&to=/arrive", 1, 301, 200, "GET  ",
         "/arrive", 0},
        {"POST 302 goes on as GET", "POST", "/redirect?status=302&to=/arrive", 1, 302, 200, "GET  ",
         "/arrive", 0},
        {"POST 303 goes on as GET", "POST", "/redirect?status=303&to=/arrive", 1, 303, 200, "GET  ",
         "/arrive", 0},
        {"PUT 303 goes on as GET", "PUT", "/redirect?status=303&to=/arrive", 1, 303, 200, "GET  ",
         "/arrive", 0},
        {"PUT 302 keeps method and body", "PUT", "/redirect?status=302&to=/arrive", 1, 302, 200,
         "PUT " + sent, "/arrive", 0},
        {"POST 307 keeps method and body", "POST", "/redirect?status=307&to=/arrive", 1, 307, 200,
         "POST " + sent, "/arrive", 0},
        {"PUT 308 keeps method and body", "PUT", "/redirect?status=308&to=/arrive", 1, 308, 200,
         "PUT " + sent, "/arrive", 0},
        {"cookie set by the redirect", "GET", "/login", 1, 302, 200, "cookie sid=abc", "/whoami",
         0},
        {"16 redirects", "GET", "/chain/16", 16, 302, 200, "end of chain", "/chain/0", 0},
        {"17 redirects", "GET", "/chain/17", 17, 302, 0, "", url("/chain/0"),
         NSURLErrorHTTPTooManyRedirects},
        {"to another scheme", "GET", "/redirect?status=302&to=ftp://127.0.0.1/x", 1, 302, 0, "",
         "ftp://127.0.0.1/x", NSURLErrorUnsupportedURL},
        {"to a reserved name", "GET", "/redirect?status=302&to=http://collector.invalid/", 1, 302,
         0, "", "http://collector.invalid/", NSURLErrorCannotFindHost},
        // Not redirects: the answer itself.
        {"302 without Location", "GET", "/redirect?status=302", 0, 0, 302, "moved", "/redirect", 0},
        {"300 with Location", "GET", "/redirect?status=300&to=/arrive", 0, 0, 300, "moved",
         "/redirect", 0},
    };
    for (const Case& c : cases) {
        auto request = NSMutableURLRequest::requestWithURL(url(c.path));
        request.setHTTPMethod(c.method);
        if (std::string(c.method) != "GET") {
            request.setValue("text/plain", "Content-Type");
            request.setHTTPBody(Data(payload.begin(), payload.end()));
        }
        std::vector<long> responses(static_cast<size_t>(c.hops), c.redirect);
        if (!c.error)
            responses.push_back(c.status);

        const Outcome outcomes[] = {loadSynchronously(request), loadAsynchronously(request)};
        for (const Outcome& o : outcomes) {
            const bool async = &o == &outcomes[1];
            SCOPED_TRACE(std::string(c.name) + (async ? ", asynchronous" : ", synchronous"));
            EXPECT_EQ(o.error, c.error);
            if (c.error) {
                EXPECT_EQ(o.failedURL, c.last);
            } else {
                EXPECT_EQ(o.status, c.status);
                EXPECT_EQ(o.body, c.body);
                EXPECT_EQ(o.URL.substr(0, o.URL.find('?')), url(c.last));
            }
            if (async) {
                EXPECT_EQ(o.responses, responses) << "one response message per answer";
                EXPECT_EQ(o.delivered, o.body) << "a followed redirect's own body is not delivered";
            }
        }
    }
}

}  // namespace
