#pragma once
// What a server answered, without the body. Plain values, filled in by NSURLConnection.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Foundation/NSURLRequest.h"

class NSURLResponse {
  public:
    NSURLResponse() = default;
    NSURLResponse(std::string URL, std::string MIMEType, int64_t expectedContentLength)
        : URL_(std::move(URL)),
          MIMEType_(std::move(MIMEType)),
          expectedContentLength_(expectedContentLength) {}

    // The URL that answered (the request's: redirects are not followed).
    const std::string& URL() const { return URL_; }
    // The media type of the body without parameters ("text/html"), empty when not given.
    const std::string& MIMEType() const { return MIMEType_; }
    // The announced length of the body, -1 when unknown.
    int64_t expectedContentLength() const { return expectedContentLength_; }

  private:
    std::string URL_;
    std::string MIMEType_;
    int64_t expectedContentLength_ = -1;
};

class NSHTTPURLResponse : public NSURLResponse {
  public:
    NSHTTPURLResponse() = default;
    NSHTTPURLResponse(std::string URL, long statusCode, HTTPHeaderFields headerFields);

    // 0 until a response has been received.
    long statusCode() const { return statusCode_; }
    // The fields of the final response, in the order the server sent them.
    // The field's value (names compare without regard to case), empty when absent.
    std::string valueForHTTPHeaderField(std::string_view field) const;

  private:
    long statusCode_ = 0;
    HTTPHeaderFields headerFields_;
};
