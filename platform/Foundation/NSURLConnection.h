#pragma once
// URL loading over libcurl. Only HTTP and HTTPS; redirects are not followed (a 3xx answer comes
// back as the response). Answers of any status come back as data; a failure to get an answer is
// an NSError in NSURLErrorDomain.

#include <optional>

#include "platform/Foundation/NSError.h"
#include "platform/Foundation/NSURLRequest.h"
#include "platform/Foundation/NSURLResponse.h"

inline constexpr const char* NSURLErrorDomain = "NSURLErrorDomain";
// The failing URL, in an error's user information.
inline constexpr const char* NSURLErrorFailingURLStringErrorKey = "NSErrorFailingURLStringKey";

enum NSURLErrorCode : long {
    NSURLErrorUnknown = -1,
    NSURLErrorBadURL = -1000,
    NSURLErrorTimedOut = -1001,
    NSURLErrorUnsupportedURL = -1002,
    NSURLErrorCannotFindHost = -1003,
    NSURLErrorCannotConnectToHost = -1004,
    NSURLErrorNetworkConnectionLost = -1005,
    NSURLErrorBadServerResponse = -1011,
    NSURLErrorSecureConnectionFailed = -1200,
};

class NSURLConnection {
  public:
    // Loads `request` on the calling thread and blocks until the answer is complete, the request's
    // time-out has passed or the exchange failed. On an answer: fills `response` (when not null)
    // and returns the body, possibly empty. On a failure: leaves `response` untouched, sets
    // `*error` (when not null) and returns nullopt. Safe from any thread; cookies are not kept.
    static std::optional<Data> sendSynchronousRequest(const NSURLRequest& request,
                                                      NSHTTPURLResponse* response,
                                                      NSErrorPtr* error);
};
