#include "platform/Foundation/NSHTTPCookieStorage.h"

#include <algorithm>

#include "platform/Foundation/NSData.h"
#include "platform/Foundation/NSFileManager.h"
#include "platform/Foundation/NSPathUtilities.h"
#include "platform/Foundation/NSString.h"
#include "platform/Foundation/PropertyList.h"

namespace {

std::mutex sharedMutex;
std::shared_ptr<NSHTTPCookieStorage> shared;

Value toValue(const NSHTTPCookie& cookie) {
    ValueDictionary d;
    d.set("Name", cookie.name);
    d.set("Value", cookie.value);
    d.set("Domain", cookie.domain);
    d.set("Path", cookie.path);
    d.set("Expires", *cookie.expiresDate);
    d.set("HostOnly", cookie.hostOnly);
    d.set("Secure", cookie.secure);
    d.set("HTTPOnly", cookie.HTTPOnly);
    return Value(std::move(d));
}

std::optional<NSHTTPCookie> fromValue(const Value& v) {
    if (!v.isDictionary() || !v["Name"].isString() || !v["Domain"].isString() ||
        !v["Expires"].isDate())
        return std::nullopt;
    NSHTTPCookie cookie;
    cookie.name = v["Name"].string();
    cookie.value = v["Value"].string();
    cookie.domain = v["Domain"].string();
    cookie.path = v["Path"].isString() ? v["Path"].string() : "/";
    cookie.expiresDate = v["Expires"].date();
    cookie.hostOnly = v["HostOnly"].boolValue();
    cookie.secure = v["Secure"].boolValue();
    cookie.HTTPOnly = v["HTTPOnly"].boolValue();
    return cookie;
}

}  // namespace

std::shared_ptr<NSHTTPCookieStorage> NSHTTPCookieStorage::sharedHTTPCookieStorage() {
    std::lock_guard lock(sharedMutex);
    if (!shared) {
        const std::string folder =
            stringByAppendingPathComponent(NSHomeDirectory(), "Library/Cookies");
        shared = std::make_shared<NSHTTPCookieStorage>(
            stringByAppendingPathComponent(folder, "Cookies.plist"));
    }
    return shared;
}

void NSHTTPCookieStorage::resetSharedHTTPCookieStorage() {
    std::lock_guard lock(sharedMutex);
    shared.reset();
}

NSHTTPCookieStorage::NSHTTPCookieStorage(std::string path) : path_(std::move(path)) {
    auto bytes = NSData::dataWithContentsOfFile(path_);
    if (!bytes)
        return;
    auto list = PropertyList::read(*bytes);
    if (!list || !list->isArray())
        return;
    for (const Value& item : list->arrayRef())
        if (auto cookie = fromValue(item))
            cookies_.push_back(std::move(*cookie));
}

std::vector<NSHTTPCookie> NSHTTPCookieStorage::cookies() const {
    const NSDate now = NSDate::date();
    std::lock_guard lock(mutex_);
    std::vector<NSHTTPCookie> out;
    for (const NSHTTPCookie& cookie : cookies_)
        if (!cookie.isExpired(now))
            out.push_back(cookie);
    return out;
}

std::vector<NSHTTPCookie> NSHTTPCookieStorage::cookiesForURL(const std::string& URL) const {
    auto url = NSURL::URLWithString(URL);
    if (!url)
        return {};
    const NSDate now = NSDate::date();
    std::vector<NSHTTPCookie> out;
    {
        std::lock_guard lock(mutex_);
        for (const NSHTTPCookie& cookie : cookies_)
            if (!cookie.isExpired(now) && cookie.matchesURL(*url))
                out.push_back(cookie);
    }
    std::stable_sort(out.begin(), out.end(), [](const NSHTTPCookie& a, const NSHTTPCookie& b) {
        return a.path.size() > b.path.size();
    });
    return out;
}

void NSHTTPCookieStorage::setCookie(const NSHTTPCookie& cookie) {
    setCookies({cookie});
}

void NSHTTPCookieStorage::setCookies(const std::vector<NSHTTPCookie>& cookies) {
    if (cookies.empty())
        return;
    std::lock_guard lock(mutex_);
    for (const NSHTTPCookie& cookie : cookies) storeLocked(cookie);
    saveLocked();
}

void NSHTTPCookieStorage::deleteCookie(const NSHTTPCookie& cookie) {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(cookies_.begin(), cookies_.end(),
                           [&](const NSHTTPCookie& c) { return c.sameIdentity(cookie); });
    if (it == cookies_.end())
        return;
    cookies_.erase(it);
    saveLocked();
}

void NSHTTPCookieStorage::storeLocked(const NSHTTPCookie& cookie) {
    auto it = std::find_if(cookies_.begin(), cookies_.end(),
                           [&](const NSHTTPCookie& c) { return c.sameIdentity(cookie); });
    if (cookie.isExpired(NSDate::date())) {
        if (it != cookies_.end())
            cookies_.erase(it);
    } else if (it != cookies_.end()) {
        *it = cookie;
    } else {
        cookies_.push_back(cookie);
    }
}

void NSHTTPCookieStorage::saveLocked() {
    const NSDate now = NSDate::date();
    std::erase_if(cookies_, [&](const NSHTTPCookie& c) { return c.isExpired(now); });
    ValueArray persistent;
    for (const NSHTTPCookie& cookie : cookies_)
        if (!cookie.isSessionOnly())
            persistent.push_back(toValue(cookie));
    auto bytes = PropertyList::writeBinary(Value(std::move(persistent)));
    if (!bytes)
        return;
    // A store that cannot be written keeps its cookies in memory.
    const size_t slash = path_.rfind('/');
    if (slash != std::string::npos && slash > 0)
        NSFileManager::defaultManager().createDirectoryAtPath(path_.substr(0, slash), true);
    NSData::writeToFile(*bytes, path_, true);
}
