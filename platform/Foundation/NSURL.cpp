#include "platform/Foundation/NSURL.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace {

struct UrlFree {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

std::optional<std::string> part(CURLU* url, CURLUPart which) {
    char* text = nullptr;
    if (curl_url_get(url, which, &text, 0) != CURLUE_OK || !text)
        return std::nullopt;
    std::string out(text);
    curl_free(text);
    return out;
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

std::optional<NSURL> NSURL::URLWithString(const std::string& text) {
    std::unique_ptr<CURLU, UrlFree> url(curl_url());
    if (!url ||
        curl_url_set(url.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
        return std::nullopt;
    auto scheme = part(url.get(), CURLUPART_SCHEME);
    auto host = part(url.get(), CURLUPART_HOST);
    if (!scheme || !host || host->empty())
        return std::nullopt;
    NSURL out;
    out.text_ = text;
    out.scheme_ = lowered(*scheme);
    out.host_ = lowered(*host);
    if (out.host_.size() > 1 && out.host_.front() == '[' && out.host_.back() == ']')
        out.host_ = out.host_.substr(1, out.host_.size() - 2);
    if (auto port = part(url.get(), CURLUPART_PORT))
        out.port_ = std::stoi(*port);
    out.path_ = part(url.get(), CURLUPART_PATH).value_or("/");
    if (out.path_.empty())
        out.path_ = "/";
    // curl drops an empty query ("a?"), but the "?" is still there.
    out.query_ = part(url.get(), CURLUPART_QUERY);
    if (!out.query_ && text.find('?') < text.find('#'))
        out.query_ = "";
    return out;
}

std::optional<NSURL> NSURL::URLWithString(const std::string& text, const NSURL& base) {
    std::unique_ptr<CURLU, UrlFree> url(curl_url());
    if (!url ||
        curl_url_set(url.get(), CURLUPART_URL, base.absoluteString().c_str(),
                     CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
        return std::nullopt;
    auto resolved = part(url.get(), CURLUPART_URL);
    return resolved ? URLWithString(*resolved) : std::nullopt;
}

bool hostNeverResolves(std::string_view host) {
    if (host.ends_with('.'))
        host.remove_suffix(1);
    std::string lower(host);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower == "invalid" || lower.ends_with(".invalid");
}
