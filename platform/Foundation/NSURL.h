#pragma once
// An absolute URL taken apart (scheme, host, port, path, query), on libcurl's URL parser. A plain
// value. Only what the cookie store, the REST client and the URL loading read: no escaping.
//
// Threads: a value; any thread.

#include <optional>
#include <string>
#include <string_view>

// True for a host name under the reserved top-level domain "invalid" (the name itself too, in
// any case, with or without a final dot): such a name never resolves, so no resolver is asked.
bool hostNeverResolves(std::string_view host);

class NSURL {
  public:
    // nullopt when `text` is not an absolute URL with a scheme and a host.
    static std::optional<NSURL> URLWithString(const std::string& text);
    // `text` read against `base` (as a redirect's Location is): a relative reference resolved,
    // an absolute URL as it is. Its absoluteString() is the resolved text.
    static std::optional<NSURL> URLWithString(const std::string& text, const NSURL& base);

    // The text it was made from.
    const std::string& absoluteString() const { return text_; }
    // In lower case ("http").
    const std::string& scheme() const { return scheme_; }
    // In lower case, without brackets around an IPv6 address.
    const std::string& host() const { return host_; }
    // The port written in the URL, if any.
    std::optional<int> port() const { return port_; }
    // "/" when the URL has no path.
    const std::string& path() const { return path_; }
    // The text after "?" (possibly empty), or nullopt when the URL has no "?".
    const std::optional<std::string>& query() const { return query_; }

  private:
    NSURL() = default;
    std::string text_;
    std::string scheme_;
    std::string host_;
    std::optional<int> port_;
    std::string path_;
    std::optional<std::string> query_;
};
