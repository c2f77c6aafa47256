#pragma once
// A URL load request: URL, cache policy, time-out, method, header fields and body. A plain value:
// copies are independent. NSMutableURLRequest adds the setters.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Foundation/Clock.h"
#include "platform/Foundation/Value.h"

enum NSURLRequestCachePolicy {
    NSURLRequestUseProtocolCachePolicy = 0,
    NSURLRequestReloadIgnoringLocalCacheData = 1,
    NSURLRequestReturnCacheDataElseLoad = 2,
    NSURLRequestReturnCacheDataDontLoad = 3,
};

// Header fields in the order they were set; names compare without regard to case.
using HTTPHeaderFields = std::vector<std::pair<std::string, std::string>>;

class NSURLRequest {
  public:
    static constexpr NSTimeInterval kDefaultTimeoutInterval = 60.0;

    // A GET of `URL` with the default cache policy and the default time-out of 60 s.
    static NSURLRequest requestWithURL(std::string URL);
    static NSURLRequest requestWithURL(std::string URL, NSURLRequestCachePolicy cachePolicy,
                                       NSTimeInterval timeoutInterval);

    const std::string& URL() const { return URL_; }
    NSURLRequestCachePolicy cachePolicy() const { return cachePolicy_; }
    // Seconds the whole exchange may take; a connection always applies it.
    NSTimeInterval timeoutInterval() const { return timeoutInterval_; }
    const std::string& HTTPMethod() const { return HTTPMethod_; }
    const HTTPHeaderFields& allHTTPHeaderFields() const { return headers_; }
    // The field's value, or the empty string when it is not set.
    std::string valueForHTTPHeaderField(std::string_view field) const;
    const Data& HTTPBody() const { return body_; }

  protected:
    NSURLRequest(std::string URL, NSURLRequestCachePolicy cachePolicy,
                 NSTimeInterval timeoutInterval);

    std::string URL_;
    NSURLRequestCachePolicy cachePolicy_;
    NSTimeInterval timeoutInterval_;
    std::string HTTPMethod_ = "GET";
    HTTPHeaderFields headers_;
    Data body_;
};

class NSMutableURLRequest : public NSURLRequest {
  public:
    static NSMutableURLRequest requestWithURL(std::string URL);
    static NSMutableURLRequest requestWithURL(std::string URL, NSURLRequestCachePolicy cachePolicy,
                                              NSTimeInterval timeoutInterval);

    // A time-out that is not positive falls back to the default.
    void setTimeoutInterval(NSTimeInterval seconds);
    void setHTTPMethod(std::string method) { HTTPMethod_ = std::move(method); }
    // Replaces every field of that name (any case); an empty value removes the field.
    void setValue(std::string value, std::string_view forHTTPHeaderField);
    // Appends to an existing field as "old, value", else sets it.
    void addValue(std::string_view value, std::string_view forHTTPHeaderField);
    void setHTTPBody(Data body) { body_ = std::move(body); }

  private:
    using NSURLRequest::NSURLRequest;
};
