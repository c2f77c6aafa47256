#include "analytics/RQKNConnect/RQKNRequest.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

#include "analytics/RQKNConnect/RQKNSession.h"
#include "analytics/RQKNConnect/RQKNXMLHandler.h"
#include "platform/CommonCrypto/CommonDigest.h"
#include "platform/Device/DeviceSettings.h"
#include "platform/Foundation/NSRunLoop.h"
#include "platform/Foundation/NSString.h"
#include "platform/Foundation/NSThread.h"
#include "platform/Foundation/NSURL.h"
#include "platform/Foundation/NSURLRequest.h"

namespace {

constexpr double kImageQuality = 0.75;

// Byte order after folding ASCII letters; keys are ASCII in this protocol.
bool caseInsensitiveLess(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](unsigned char x, unsigned char y) { return std::tolower(x) < std::tolower(y); });
}

void append(Data& data, std::string_view text) {
    data.insert(data.end(), text.begin(), text.end());
}

// The integer a text begins with, after white space and an optional sign; 0 when none.
long leadingInteger(const Value& value) {
    if (!value.isString())
        return 0;
    return std::strtol(value.string().c_str(), nullptr, 10);
}

}  // namespace

std::shared_ptr<RQKNRequest> RQKNRequest::request() {
    return requestWithSession(RQKNSession::session());
}

std::shared_ptr<RQKNRequest> RQKNRequest::requestWithDelegate(
    std::weak_ptr<RQKNRequestDelegate> delegate) {
    return requestWithSession(RQKNSession::session(), std::move(delegate));
}

std::shared_ptr<RQKNRequest> RQKNRequest::requestWithSession(std::weak_ptr<RQKNSession> session) {
    return initWithSession(std::move(session));
}

std::shared_ptr<RQKNRequest> RQKNRequest::requestWithSession(
    std::weak_ptr<RQKNSession> session, std::weak_ptr<RQKNRequestDelegate> delegate) {
    auto request = initWithSession(std::move(session));
    request->setDelegate(std::move(delegate));
    return request;
}

std::shared_ptr<RQKNRequest> RQKNRequest::initWithSession(std::weak_ptr<RQKNSession> session) {
    return std::shared_ptr<RQKNRequest>(new RQKNRequest(std::move(session)));
}

RQKNRequest::RQKNRequest(std::weak_ptr<RQKNSession> session) : session_(std::move(session)) {}

RQKNRequest::~RQKNRequest() {
    // Only reachable without a running connection (which keeps the request), but cheap to be
    // sure: no message follows.
    if (connection_)
        connection_->cancel();
}

std::string RQKNRequest::description() const {
    return "<KNRequest " + (method_ ? *method_ : url_) + ">";
}

std::string RQKNRequest::urlForMethod(const std::string& /*method*/) const {
    auto session = session_.lock();
    return session ? session->apiURL() : DeviceSettings::current().restURL;
}

std::string RQKNRequest::apiHostName() const {
    auto url = NSURL::URLWithString(urlForMethod(""));
    return url ? url->host() : std::string();
}

bool RQKNRequest::isSpecialMethod() const {
    return method_ == "kinnet.auth.getSession" || method_ == "kinnet.auth.createToken";
}

std::string RQKNRequest::generateCallId() {
    return stringWithFormat("%.0f", NSDate::date().timeIntervalSince1970());
}

// Calls.

void RQKNRequest::call(const std::string& method, const RQKNParameters& params) {
    NSThread::assertMainThread("RQKNRequest", __func__);
    auto session = session_.lock();
    url_ = urlForMethod(method);
    method_ = method;
    params_ = params;
    const bool special = isSpecialMethod();
    if (!session || method.empty() || !session->apiKey() || (!special && !session->sessionKey())) {
        failLater(NSError::make(apiHostName(), NSURLErrorUnknown,
                                "The call needs a session with an API key and, for this method, "
                                "a session key."));
        return;
    }
    params_["method"] = method;
    params_["api_key"] = *session->apiKey();
    params_["v"] = std::string(kAPIVersion);
    params_["format"] = std::string(kAPIFormat);
    if (!special) {
        params_["session_key"] = *session->sessionKey();
        params_["call_id"] = generateCallId();
        if (session->sessionSecret())
            params_["ss"] = std::string("1");
    }
    // Signed over every entry so far, a caller's own "sig" included, before it is replaced.
    const std::string sig = generateSig();
    params_["sig"] = sig;
    session->send(retained(this));
}

void RQKNRequest::post(const std::string& url, const RQKNParameters& params) {
    NSThread::assertMainThread("RQKNRequest", __func__);
    url_ = url;
    method_.reset();
    params_ = params;
    auto session = session_.lock();
    if (!session) {
        failLater(NSError::make(apiHostName(), NSURLErrorUnknown, "The request has no session."));
        return;
    }
    session->send(retained(this));
}

std::string RQKNRequest::generateSig() const {
    std::vector<std::string> keys;
    for (const auto& [key, value] : params_) keys.push_back(key);
    std::stable_sort(keys.begin(), keys.end(), caseInsensitiveLess);
    std::string text;
    for (const std::string& key : keys) {
        text += key + "=";
        if (auto* value = std::get_if<std::string>(&params_.at(key)))
            text += *value;
    }
    if (auto session = session_.lock()) {
        if (!isSpecialMethod() && session->sessionSecret())
            text += *session->sessionSecret();
        else if (session->apiSecret())
            text += *session->apiSecret();
    }
    return md5HexDigest(text);
}

std::string RQKNRequest::md5HexDigest(const std::string& text) {
    // Up to the first zero byte, as a C string.
    const std::string_view bytes(text.c_str());
    unsigned char digest[CC_MD5_DIGEST_LENGTH];
    CC_MD5(bytes.data(), static_cast<CC_LONG>(bytes.size()), digest);
    std::string hex;
    for (unsigned char byte : digest) hex += stringWithFormat("%02x", byte);
    return hex;
}

std::string RQKNRequest::generateGetURL() const {
    auto parsed = NSURL::URLWithString(url_);
    const char* separator = parsed && parsed->query() ? "&" : "?";
    std::string items;
    for (const auto& [key, value] : params_) {
        if (!items.empty())
            items += "&";
        items += key + "=";
        // An image has no text form in a query.
        if (auto* text = std::get_if<std::string>(&value))
            items += *text;
    }
    return url_ + separator + items;
}

Data RQKNRequest::generatePostBody() const {
    const std::string boundary = kStringBoundary;
    Data body;
    append(body, "--" + boundary + "\r\n");
    bool first = true;
    auto separate = [&] {
        if (!first)
            append(body, "\r\n--" + boundary + "\r\n");
        first = false;
    };
    for (const auto& [key, value] : params_) {
        if (auto* text = std::get_if<std::string>(&value)) {
            separate();
            append(body, "Content-Disposition: form-data; name=\"" + key + "\"\r\n\r\n");
            append(body, *text);
        }
    }
    // Images after all text parts, whatever their keys.
    for (const auto& [key, value] : params_) {
        if (auto* image = std::get_if<std::shared_ptr<UIImage>>(&value)) {
            separate();
            append(body, "Content-Disposition: form-data; filename=\"photo\"\r\n");
            append(body, "Content-Type: image/jpeg\r\n\r\n");
            const Data jpeg = UIImageJPEGRepresentation(*image, kImageQuality);
            body.insert(body.end(), jpeg.begin(), jpeg.end());
        }
    }
    append(body, "\r\n--" + boundary + "--\r\n");
    return body;
}

// The exchange.

void RQKNRequest::connect() {
    NSThread::assertMainThread("RQKNRequest", __func__);
    auto self = retained(this);
    if (auto d = delegate(); d && d->respondsToRequestLoading())
        d->requestLoading(*this);
    const std::string urlText = method_ ? url_ : generateGetURL();
    NSMutableURLRequest request = NSMutableURLRequest::requestWithURL(
        urlText, NSURLRequestReloadIgnoringLocalCacheData, kRequestTimeoutInterval);
    request.setValue(kUserAgent, "User-Agent");
    if (method_) {
        request.setHTTPMethod("POST");
        request.setValue(std::string("multipart/form-data; boundary=") + kStringBoundary,
                         "Content-Type");
        request.setHTTPBody(generatePostBody());
    }
    timestamp_ = NSDate::date();
    connection_ = NSURLConnection::connectionWithRequest(request, self);
    if (!connection_) {
        ValueDictionary info;
        info.set(NSLocalizedDescriptionKey, "unsupported URL");
        info.set(NSURLErrorFailingURLStringErrorKey, urlText);
        failLater(std::make_shared<NSError>(NSURLErrorDomain, NSURLErrorUnsupportedURL,
                                            Value(std::move(info))));
    }
}

void RQKNRequest::cancel() {
    NSThread::assertMainThread("RQKNRequest", __func__);
    if (!connection_)
        return;
    auto self = retained(this);
    std::exchange(connection_, nullptr)->cancel();
    if (auto d = delegate(); d && d->respondsToRequestWasCancelled())
        d->requestWasCancelled(*this);
}

void RQKNRequest::connectionDidReceiveResponse(NSURLConnection* /*connection*/,
                                               const NSHTTPURLResponse& response) {
    responseText_ = Data();
    if (auto d = delegate(); d && d->respondsToRequestDidReceiveResponse())
        d->requestDidReceiveResponse(*this, response);
}

void RQKNRequest::connectionDidReceiveData(NSURLConnection* /*connection*/, const Data& data) {
    if (!responseText_)
        responseText_ = Data();
    responseText_->insert(responseText_->end(), data.begin(), data.end());
}

void RQKNRequest::connectionDidFinishLoading(NSURLConnection* /*connection*/) {
    auto self = retained(this);
    // The connection stays set during the message, so `loading` still answers true there.
    handleResponseData(responseText_.value_or(Data()));
    responseText_.reset();
    connection_.reset();
}

void RQKNRequest::connectionDidFailWithError(NSURLConnection* /*connection*/,
                                             const NSErrorPtr& error) {
    auto self = retained(this);
    failWithError(error);
    responseText_.reset();
    connection_.reset();
}

std::optional<Value> RQKNRequest::parseXMLResponse(const Data& data, NSErrorPtr* error) const {
    auto handler = RQKNXMLHandler::init();
    auto parser = NSXMLParser::initWithData(data);
    parser->setDelegate(handler);
    parser->parse();
    if (handler->parseError()) {
        if (error)
            *error = handler->parseError();
        return std::nullopt;
    }
    if (handler->rootName() == "error_response") {
        const Value& root = handler->rootObject();
        const Value* code = nullptr;
        const Value* message = nullptr;
        const Value* arguments = nullptr;
        if (root.isDictionary()) {
            code = root.dictionaryRef().find("error_code");
            message = root.dictionaryRef().find("error_msg");
            arguments = root.dictionaryRef().find("request_args");
        }
        // The list of entries ends at the first missing one.
        ValueDictionary info;
        if (message) {
            info.set(NSLocalizedDescriptionKey, *message);
            if (arguments)
                info.set("request_args", *arguments);
        }
        if (error)
            *error = std::make_shared<NSError>(apiHostName(), code ? leadingInteger(*code) : 0,
                                               Value(std::move(info)));
        return std::nullopt;
    }
    return handler->rootObject();
}

void RQKNRequest::handleResponseData(const Data& data) {
    NSErrorPtr error;
    auto result = parseXMLResponse(data, &error);
    if (!result) {
        failWithError(error);
        return;
    }
    if (auto d = delegate(); d && d->respondsToRequestDidLoad())
        d->requestDidLoad(*this, *result);
}

void RQKNRequest::failWithError(const NSErrorPtr& error) {
    if (auto d = delegate(); d && d->respondsToRequestDidFailWithError())
        d->requestDidFailWithError(*this, error);
}

void RQKNRequest::failLater(NSErrorPtr error) {
    auto self = retained(this);
    NSRunLoop::currentRunLoop()->post([self, error] { self->failWithError(error); });
}
