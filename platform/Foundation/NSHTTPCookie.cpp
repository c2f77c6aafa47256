#include "platform/Foundation/NSHTTPCookie.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <string_view>

namespace {

std::string_view trimmed(std::string_view text) {
    const char* blanks = " \t";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool isIPAddress(const std::string& host) {
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

// The host is the domain, or a name inside it (not for addresses).
bool domainMatches(const std::string& host, const std::string& domain) {
    if (host == domain)
        return true;
    return !isIPAddress(host) && host.size() > domain.size() && host.ends_with(domain) &&
           host[host.size() - domain.size() - 1] == '.';
}

bool pathMatches(const std::string& requestPath, const std::string& cookiePath) {
    if (requestPath == cookiePath)
        return true;
    if (!requestPath.starts_with(cookiePath))
        return false;
    return cookiePath.ends_with('/') || requestPath[cookiePath.size()] == '/';
}

// The folder of the request's path: up to, not including, its last "/"; "/" at the top.
std::string defaultPath(const std::string& requestPath) {
    if (requestPath.empty() || requestPath[0] != '/')
        return "/";
    size_t last = requestPath.rfind('/');
    return last == 0 ? "/" : requestPath.substr(0, last);
}

std::optional<NSHTTPCookie> parseSetCookie(std::string_view field, const NSURL& url,
                                           const NSDate& now) {
    size_t semicolon = field.find(';');
    std::string_view pair = trimmed(field.substr(0, semicolon));
    size_t equals = pair.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    NSHTTPCookie cookie;
    cookie.name = std::string(trimmed(pair.substr(0, equals)));
    cookie.value = std::string(trimmed(pair.substr(equals + 1)));
    if (cookie.name.empty())
        return std::nullopt;

    std::optional<NSDate> expires;
    std::optional<NSDate> maxAge;
    std::string domain;
    std::string path;
    while (semicolon != std::string_view::npos) {
        field = field.substr(semicolon + 1);
        semicolon = field.find(';');
        std::string_view attribute = trimmed(field.substr(0, semicolon));
        size_t eq = attribute.find('=');
        const std::string key = lowered(trimmed(attribute.substr(0, eq)));
        const std::string value =
            eq == std::string_view::npos ? "" : std::string(trimmed(attribute.substr(eq + 1)));
        if (key == "expires") {
            time_t t = curl_getdate(value.c_str(), nullptr);
            if (t != -1)
                expires = NSDate::dateWithTimeIntervalSince1970(static_cast<double>(t));
        } else if (key == "max-age") {
            char* end = nullptr;
            long long seconds = std::strtoll(value.c_str(), &end, 10);
            if (!value.empty() && end && *end == '\0')
                maxAge = seconds <= 0 ? NSDate::dateWithTimeIntervalSince1970(0)
                                      : now.dateByAddingTimeInterval(static_cast<double>(seconds));
        } else if (key == "domain") {
            domain = lowered(value);
            if (domain.starts_with('.'))
                domain.erase(0, 1);
        } else if (key == "path") {
            path = value;
        } else if (key == "secure") {
            cookie.secure = true;
        } else if (key == "httponly") {
            cookie.HTTPOnly = true;
        }
    }
    cookie.expiresDate = maxAge ? maxAge : expires;
    if (domain.empty()) {
        cookie.domain = url.host();
        cookie.hostOnly = true;
    } else {
        if (!domainMatches(url.host(), domain))
            return std::nullopt;
        cookie.domain = domain;
        cookie.hostOnly = false;
    }
    cookie.path = path.starts_with('/') ? path : defaultPath(url.path());
    return cookie;
}

}  // namespace

bool NSHTTPCookie::sameIdentity(const NSHTTPCookie& other) const {
    return name == other.name && domain == other.domain && hostOnly == other.hostOnly &&
           path == other.path;
}

bool NSHTTPCookie::matchesURL(const NSURL& url) const {
    if (secure && url.scheme() != "https")
        return false;
    if (hostOnly ? url.host() != domain : !domainMatches(url.host(), domain))
        return false;
    return pathMatches(url.path(), path);
}

std::vector<NSHTTPCookie> NSHTTPCookie::cookiesWithResponseHeaderFields(
    const HTTPHeaderFields& headerFields, const std::string& URL) {
    std::vector<NSHTTPCookie> cookies;
    auto url = NSURL::URLWithString(URL);
    if (!url)
        return cookies;
    const NSDate now = NSDate::date();
    for (const auto& [name, value] : headerFields)
        if (strcasecmp(name.c_str(), "Set-Cookie") == 0)
            if (auto cookie = parseSetCookie(value, *url, now))
                cookies.push_back(std::move(*cookie));
    return cookies;
}

HTTPHeaderFields NSHTTPCookie::requestHeaderFieldsWithCookies(
    const std::vector<NSHTTPCookie>& cookies) {
    if (cookies.empty())
        return {};
    std::string text;
    for (const NSHTTPCookie& cookie : cookies) {
        if (!text.empty())
            text += "; ";
        text += cookie.name + "=" + cookie.value;
    }
    return {{"Cookie", text}};
}
