#pragma once
// The shared cookie store of the process. Connections store the cookies that answers set and
// send back the ones that match each request (NSURLConnection); others read and delete them.
//
// Cookies with an expiry date are kept across runs in HOME/Library/Cookies/Cookies.plist (HOME as
// NSHomeDirectory() says when the shared store is made), rewritten after each change to them;
// session cookies live as long as the store. A file that is missing or unreadable counts as
// empty. Expired cookies are never returned and are dropped when the store next changes.
//
// Threads: every method may be called from any thread (one mutex guards the cookies).

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Foundation/NSHTTPCookie.h"

class NSHTTPCookieStorage {
  public:
    // The shared store, made (and its file read) on first use.
    static std::shared_ptr<NSHTTPCookieStorage> sharedHTTPCookieStorage();
    // Drops the shared store, so that the next sharedHTTPCookieStorage() reads the file of the
    // current home again (tests, a new home). The file stays.
    static void resetSharedHTTPCookieStorage();

    // A store kept in the file at `path`, read now.
    explicit NSHTTPCookieStorage(std::string path);

    const std::string& path() const { return path_; }

    // Every cookie that has not expired, in the order they were first stored.
    std::vector<NSHTTPCookie> cookies() const;
    // The unexpired cookies a request to `URL` carries, longer paths first (then in stored
    // order); none for a URL that cannot be read.
    std::vector<NSHTTPCookie> cookiesForURL(const std::string& URL) const;

    // Stores the cookie, replacing the one of the same identity in its place; an expired cookie
    // only removes that one.
    void setCookie(const NSHTTPCookie& cookie);
    // setCookie for each, with one write of the file. The cookies are trusted as they are: take
    // them from NSHTTPCookie::cookiesWithResponseHeaderFields, which checks their domains.
    void setCookies(const std::vector<NSHTTPCookie>& cookies);
    // Removes the stored cookie of the same identity; nothing when there is none.
    void deleteCookie(const NSHTTPCookie& cookie);

  private:
    void storeLocked(const NSHTTPCookie& cookie);
    void saveLocked();

    const std::string path_;
    mutable std::mutex mutex_;
    std::vector<NSHTTPCookie> cookies_;
};
