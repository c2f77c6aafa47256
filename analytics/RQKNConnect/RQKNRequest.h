#pragma once
// One call to the Kinnet REST API: a method name with parameters, completed with the protocol
// fields ("method", "api_key", "v", "format", and for a method that is not special
// "session_key", "call_id" and "ss"), signed ("sig": MD5 of the case-insensitively sorted
// key=value pairs and a secret), sent as a multipart POST to the session's endpoint and answered
// in XML, which RQKNXMLHandler turns into values. An answer whose root element is
// "error_response" becomes an NSError in the domain of the API host name.
//
// A request serves one call (`call` or `post`, once). It starts through its session's `send`,
// which paces requests; the session's queue and then the running connection keep it alive until
// its last delegate message has returned, so its creator need not keep it. It owns neither its
// session nor its delegate: both must outlive it.
//
// Delegate messages: a request that runs to its end gets exactly one of `requestDidLoad` and
// `requestDidFailWithError`; a cancelled one gets `requestWasCancelled` instead. Nothing is
// retried and the HTTP status is not looked at: every answer body goes to the XML reader.
//
// Threads: the main thread only, like its session, whose pacing timer starts queued requests
// on the main run loop; the connection's callbacks and a failure's message arrive there too.
// `call`, `post`, `cancel` and `connect` check it (NSThread::assertMainThread).

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "platform/Foundation/NSDate.h"
#include "platform/Foundation/NSError.h"
#include "platform/Foundation/NSObject.h"
#include "platform/Foundation/NSURLConnection.h"
#include "platform/Foundation/Value.h"
#include "platform/UIKit/UIImage.h"

class RQKNSession;
class RQKNRequest;

// The multipart boundary of every POST body (40 characters).
inline constexpr const char* kStringBoundary = "3i2ndDfv2rTHiSisAbouNdArYfORhtTPEefj3q2f";
inline constexpr const char* kUserAgent = "KinnetConnect";
inline constexpr const char* kAPIFormat = "XML";
inline constexpr const char* kAPIVersion = "1.0";
inline constexpr NSTimeInterval kRequestTimeoutInterval = 180.0;

// A parameter: text, or (in a POST) an image sent as a JPEG part.
using RQKNParameter = std::variant<std::string, std::shared_ptr<UIImage>>;
// Enumerated in key order; the signature sorts its own way.
using RQKNParameters = std::map<std::string, RQKNParameter>;

// Every message is optional: the request asks `respondsTo...` before each one.
class RQKNRequestDelegate {
  public:
    virtual ~RQKNRequestDelegate() = default;
    // At the start of `connect`, before the HTTP request is built.
    virtual bool respondsToRequestLoading() const { return false; }
    virtual void requestLoading(RQKNRequest& request) { (void)request; }
    // Each response of the connection (the body gathered so far is dropped before).
    virtual bool respondsToRequestDidReceiveResponse() const { return false; }
    virtual void requestDidReceiveResponse(RQKNRequest& request,
                                           const NSHTTPURLResponse& response) {
        (void)request, (void)response;
    }
    // The connection failed, the answer was not well-formed XML, or it was an API error.
    virtual bool respondsToRequestDidFailWithError() const { return false; }
    virtual void requestDidFailWithError(RQKNRequest& request, const NSErrorPtr& error) {
        (void)request, (void)error;
    }
    // The answer's value (see RQKNXMLHandler); null when the root element is empty.
    virtual bool respondsToRequestDidLoad() const { return false; }
    virtual void requestDidLoad(RQKNRequest& request, const Value& result) {
        (void)request, (void)result;
    }
    // `cancel` stopped the running connection.
    virtual bool respondsToRequestWasCancelled() const { return false; }
    virtual void requestWasCancelled(RQKNRequest& request) { (void)request; }
};

class RQKNRequest : public NSObject, public NSURLConnectionDelegate {
  public:
    // A request on the shared session (RQKNSession::session()).
    static std::shared_ptr<RQKNRequest> request();
    static std::shared_ptr<RQKNRequest> requestWithDelegate(
        std::weak_ptr<RQKNRequestDelegate> delegate);
    static std::shared_ptr<RQKNRequest> requestWithSession(std::weak_ptr<RQKNSession> session);
    static std::shared_ptr<RQKNRequest> requestWithSession(
        std::weak_ptr<RQKNSession> session, std::weak_ptr<RQKNRequestDelegate> delegate);
    static std::shared_ptr<RQKNRequest> initWithSession(std::weak_ptr<RQKNSession> session);

    ~RQKNRequest() override;

    // Builds the signed call of `method` to the session's endpoint and hands it to the
    // session's `send`. The caller's parameters go out as they are, except under the keys that
    // the call sets itself. Needs a method name, the session's API key and, for a method that
    // is not special, its session key: without them (or without a session) nothing is sent
    // and the delegate hears `requestDidFailWithError` from the run loop.
    void call(const std::string& method, const RQKNParameters& params);
    // A plain GET of `url` with the parameters in its query, unsigned and unescaped, through
    // the session's `send`.
    void post(const std::string& url, const RQKNParameters& params);
    // Stops a running connection and sends `requestWasCancelled`; otherwise does nothing (a
    // request still waiting in the session's queue stays there).
    void cancel();
    // Starts the HTTP exchange now and sets `timestamp`. The session calls it.
    virtual void connect();

    // "<KNRequest method>", or with the URL when there is no method.
    std::string description() const;

    std::shared_ptr<RQKNRequestDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<RQKNRequestDelegate> delegate) {
        delegate_ = std::move(delegate);
    }
    const std::string& url() const { return url_; }
    const std::optional<std::string>& method() const { return method_; }
    const RQKNParameters& params() const { return params_; }
    // The moment of the last `connect`; nullopt before.
    const std::optional<NSDate>& timestamp() const { return timestamp_; }
    const Value& userInfo() const { return userInfo_; }
    void setUserInfo(Value userInfo) { userInfo_ = std::move(userInfo); }
    // A connection is running.
    bool loading() const { return connection_ != nullptr; }

    // NSURLConnectionDelegate.
    void connectionDidReceiveResponse(NSURLConnection* connection,
                                      const NSHTTPURLResponse& response) override;
    void connectionDidReceiveData(NSURLConnection* connection, const Data& data) override;
    void connectionDidFinishLoading(NSURLConnection* connection) override;
    void connectionDidFailWithError(NSURLConnection* connection, const NSErrorPtr& error) override;

  protected:
    explicit RQKNRequest(std::weak_ptr<RQKNSession> session);
    void setTimestamp(NSDate timestamp) { timestamp_ = timestamp; }

  private:
    // "kinnet.auth.getSession" and "kinnet.auth.createToken" are special; the call id is the
    // time in whole seconds.
    bool isSpecialMethod() const;
    static std::string generateCallId();
    std::string generateSig() const;
    static std::string md5HexDigest(const std::string& text);
    std::string generateGetURL() const;
    Data generatePostBody() const;
    // The session's endpoint; every method goes to the same URL.
    std::string urlForMethod(const std::string& method) const;
    // The host of the REST endpoint, the domain of API errors.
    std::string apiHostName() const;
    // The answer's value, or nullopt with *error set.
    std::optional<Value> parseXMLResponse(const Data& data, NSErrorPtr* error) const;
    void handleResponseData(const Data& data);
    void failWithError(const NSErrorPtr& error);
    // failWithError from the run loop, after the current call has returned.
    void failLater(NSErrorPtr error);

    std::weak_ptr<RQKNSession> session_;
    std::weak_ptr<RQKNRequestDelegate> delegate_;
    std::string url_;
    std::optional<std::string> method_;
    Value userInfo_;
    RQKNParameters params_;
    std::optional<NSDate> timestamp_;
    std::shared_ptr<NSURLConnection> connection_;
    std::optional<Data> responseText_;
};
