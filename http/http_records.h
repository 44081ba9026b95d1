#pragma once
// The client's long-lived request and response records and the exchange
// object that owns them. The wire steps of the exchange come with the
// client component.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/streams.h"
#include "http/header_info.h"

namespace ah {

class TIdCustomHTTP;  // the client component that owns the records

enum TIdHTTPMethod { hmHead, hmGet, hmPost, hmOptions, hmTrace, hmPut, hmDelete, hmConnect };
enum TIdHTTPProtocolVersion { pv1_0, pv1_1 };

// The route of the last connection step.
enum TIdHTTPRoute {
  hrDirect,       // to the origin server, plain
  hrDirectTLS,    // to the origin server over TLS
  hrProxy,        // to the HTTP proxy, the request line carrying the absolute URL
  hrProxyTunnel,  // CONNECT through the HTTP proxy, then TLS to the origin
};

class TIdHTTPRequest : public TIdRequestHeaderInfo {
 public:
  AH_CLASS_NAME(TIdHTTPRequest)
  // The owner is only referenced; it may be null until the client sets it.
  explicit TIdHTTPRequest(TIdCustomHTTP* owner);

  TIdCustomHTTP* Owner() const { return owner_; }
  void SetOwner(TIdCustomHTTP* owner) { owner_ = owner; }
  const std::string& RequestURL() const { return request_url_; }
  void SetRequestURL(std::string v) { request_url_ = std::move(v); }
  TIdHTTPMethod RequestMethod() const { return request_method_; }
  void SetRequestMethod(TIdHTTPMethod m) { request_method_ = m; }
  // Not owned: the caller's stream whose whole content is the body.
  TStream* BodySource() const { return body_source_; }
  void SetBodySource(TStream* s) { body_source_ = s; }
  TIdHTTPRoute Route() const { return route_; }
  void SetRoute(TIdHTTPRoute r) { route_ = r; }

 private:
  TIdCustomHTTP* owner_;
  std::string request_url_;
  TIdHTTPMethod request_method_ = hmGet;
  TStream* body_source_ = nullptr;
  TIdHTTPRoute route_ = hrDirect;
};

class TIdHTTPResponse : public TIdResponseHeaderInfo {
 public:
  AH_CLASS_NAME(TIdHTTPResponse)
  // Decides whether the connection may serve the next request; installed
  // by the client, which knows the connection and the protocol version.
  using ReusableHook = std::function<bool(TIdHTTPResponse&)>;

  explicit TIdHTTPResponse(TIdCustomHTTP* owner);

  TIdCustomHTTP* Owner() const { return owner_; }
  void SetOwner(TIdCustomHTTP* owner) { owner_ = owner; }
  // The number after the version in StatusLine, parsed on every read and
  // stored; -1 when there is none.
  int32_t StatusCode();
  const std::string& StatusLine() const { return status_line_; }
  void SetStatusLine(std::string v) { status_line_ = std::move(v); }
  // Asks the hook on every read and stores the answer; false without one.
  bool ConnectionReusable();
  void SetReusableHook(ReusableHook hook) { reusable_hook_ = std::move(hook); }
  // Not owned: the caller's stream that receives the body.
  TStream* BodyStream() const { return body_stream_; }
  void SetBodyStream(TStream* s) { body_stream_ = s; }

 private:
  TIdCustomHTTP* owner_;
  int32_t status_code_ = -1;
  std::string status_line_;
  bool connection_reusable_ = false;
  TStream* body_stream_ = nullptr;
  ReusableHook reusable_hook_;
};

// The status number of a status line: -1 when there is none.
int32_t ParseStatusCode(std::string_view status_line);

// One request and one response record, created and freed with the
// exchange.
class TIdHTTPProtocol {
 public:
  explicit TIdHTTPProtocol(TIdCustomHTTP* owner);
  TIdHTTPProtocol(const TIdHTTPProtocol&) = delete;
  TIdHTTPProtocol& operator=(const TIdHTTPProtocol&) = delete;

  TIdCustomHTTP* Owner() const { return owner_; }
  TIdHTTPRequest& Request() { return *request_; }
  TIdHTTPResponse& Response() { return *response_; }

 private:
  TIdCustomHTTP* owner_;
  std::unique_ptr<TIdHTTPRequest> request_;
  std::unique_ptr<TIdHTTPResponse> response_;
};

}  // namespace ah
