#include "platform/Foundation/NSURLRequest.h"

#include <strings.h>

#include <algorithm>

namespace {

bool sameField(std::string_view a, std::string_view b) {
    return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

NSTimeInterval usableTimeout(NSTimeInterval seconds) {
    return seconds > 0 ? seconds : NSURLRequest::kDefaultTimeoutInterval;
}

}  // namespace

NSURLRequest::NSURLRequest(std::string URL, NSURLRequestCachePolicy cachePolicy,
                           NSTimeInterval timeoutInterval)
    : URL_(std::move(URL)),
      cachePolicy_(cachePolicy),
      timeoutInterval_(usableTimeout(timeoutInterval)) {}

NSURLRequest NSURLRequest::requestWithURL(std::string URL) {
    return NSURLRequest(std::move(URL), NSURLRequestUseProtocolCachePolicy,
                        kDefaultTimeoutInterval);
}

NSURLRequest NSURLRequest::requestWithURL(std::string URL, NSURLRequestCachePolicy cachePolicy,
                                          NSTimeInterval timeoutInterval) {
    return NSURLRequest(std::move(URL), cachePolicy, timeoutInterval);
}

std::string NSURLRequest::valueForHTTPHeaderField(std::string_view field) const {
    for (const auto& [name, value] : headers_)
        if (sameField(name, field))
            return value;
    return {};
}

NSMutableURLRequest NSMutableURLRequest::requestWithURL(std::string URL) {
    return NSMutableURLRequest(std::move(URL), NSURLRequestUseProtocolCachePolicy,
                               kDefaultTimeoutInterval);
}

NSMutableURLRequest NSMutableURLRequest::requestWithURL(std::string URL,
                                                        NSURLRequestCachePolicy cachePolicy,
                                                        NSTimeInterval timeoutInterval) {
    return NSMutableURLRequest(std::move(URL), cachePolicy, timeoutInterval);
}

void NSMutableURLRequest::setTimeoutInterval(NSTimeInterval seconds) {
    timeoutInterval_ = usableTimeout(seconds);
}

void NSMutableURLRequest::setValue(std::string value, std::string_view forHTTPHeaderField) {
    std::erase_if(headers_, [&](const auto& h) { return sameField(h.first, forHTTPHeaderField); });
    if (!value.empty())
        headers_.emplace_back(std::string(forHTTPHeaderField), std::move(value));
}

void NSMutableURLRequest::addValue(std::string_view value, std::string_view forHTTPHeaderField) {
    for (auto& [name, existing] : headers_) {
        if (sameField(name, forHTTPHeaderField)) {
            existing.append(", ").append(value);
            return;
        }
    }
    headers_.emplace_back(std::string(forHTTPHeaderField), std::string(value));
}
