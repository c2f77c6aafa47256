#pragma once
// One HTTP cookie, a plain value, and the two conversions a connection needs: from the
// "Set-Cookie" fields of an answer, and to the "Cookie" field of a request.
//
// Threads: values; any thread.

#include <optional>
#include <string>
#include <vector>

#include "platform/Foundation/NSDate.h"
#include "platform/Foundation/NSURL.h"
#include "platform/Foundation/NSURLRequest.h"

class NSHTTPCookie {
  public:
    std::string name;
    std::string value;
    // In lower case, without a leading dot.
    std::string domain;
    std::string path = "/";
    // nullopt for a cookie that lasts as long as the process (a session cookie).
    std::optional<NSDate> expiresDate;
    // Set when the answer named no domain: the cookie goes back to exactly that host only.
    bool hostOnly = true;
    bool secure = false;
    bool HTTPOnly = false;

    bool isSessionOnly() const { return !expiresDate.has_value(); }
    // Expired at `now` (the expiry is now or past).
    bool isExpired(const NSDate& now) const { return expiresDate && *expiresDate <= now; }
    // The same cookie for the store: same name, domain, host-only flag and path.
    bool sameIdentity(const NSHTTPCookie& other) const;
    // Whether a request to `url` carries it (domain, path and secure rules; not the expiry).
    bool matchesURL(const NSURL& url) const;

    // The cookies set by the "Set-Cookie" fields among `headerFields` of an answer from `URL`.
    // A field that cannot be read, or whose domain does not cover the answering host, is left
    // out. A "Max-Age" wins over an "Expires"; a cookie that has already expired stays in the
    // list (storing it deletes the stored cookie of the same identity).
    static std::vector<NSHTTPCookie> cookiesWithResponseHeaderFields(
        const HTTPHeaderFields& headerFields, const std::string& URL);
    // {"Cookie", "a=1; b=2"} for the given cookies in order; empty for no cookies.
    static HTTPHeaderFields requestHeaderFieldsWithCookies(
        const std::vector<NSHTTPCookie>& cookies);
};
