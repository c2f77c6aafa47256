#include "platform/Foundation/NSURLResponse.h"

#include <strings.h>

#include <cstdlib>

namespace {

std::string findField(const HTTPHeaderFields& fields, std::string_view field) {
    for (const auto& [name, value] : fields)
        if (name.size() == field.size() &&
            ::strncasecmp(name.data(), field.data(), name.size()) == 0)
            return value;
    return {};
}

std::string mediaType(const std::string& contentType) {
    std::string type = contentType.substr(0, contentType.find(';'));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.pop_back();
    return type;
}

int64_t contentLength(const HTTPHeaderFields& fields) {
    std::string text = findField(fields, "Content-Length");
    if (text.empty())
        return -1;
    char* end = nullptr;
    long long n = std::strtoll(text.c_str(), &end, 10);
    return (end != text.c_str() && n >= 0) ? n : -1;
}

}  // namespace

NSHTTPURLResponse::NSHTTPURLResponse(std::string URL, long statusCode,
                                     HTTPHeaderFields headerFields)
    : NSURLResponse(std::move(URL), mediaType(findField(headerFields, "Content-Type")),
                    contentLength(headerFields)),
      statusCode_(statusCode),
      headerFields_(std::move(headerFields)) {}

std::string NSHTTPURLResponse::valueForHTTPHeaderField(std::string_view field) const {
    return findField(headerFields_, field);
}
