#pragma once
// Typed header records: one property per header, converted to and from the
// raw lines of a header list.
//
// Assignment: any header record into an entity, request or response record
// copies the entity fields (a request into a request copies the request
// settings instead); a proxy record into a proxy record copies the proxy
// settings; every other pair raises EConvertError "Cannot assign a %s to a
// %s".

#include <cstdint>
#include <memory>
#include <string>

#include "framework/date_time.h"
#include "framework/persistent.h"
#include "http/authentication.h"
#include "http/header_list.h"

namespace ah {

// The headers that describe a body. Dates count as set when > 0.
class TIdEntityHeaderInfo : public TPersistent {
 public:
  AH_CLASS_NAME(TIdEntityHeaderInfo)
  TIdEntityHeaderInfo();
  ~TIdEntityHeaderInfo() override;

  // Fills the fields from HeaderLines; absent headers read as empty.
  virtual void ParseHeaderLines();
  // Rebuilds HeaderLines from the fields, custom lines after the entity
  // headers.
  virtual void ComposeHeaderLines();
  // CacheControl, Pragma, CustomHeaders and LengthKnown survive a reset.
  virtual void ResetFields();

  const std::string& CacheControl() const { return cache_control_; }
  void SetCacheControl(std::string v) { cache_control_ = std::move(v); }
  // Owned; fold width 1024.
  TIdHeaderList& HeaderLines() { return *header_lines_; }
  const TIdHeaderList& HeaderLines() const { return *header_lines_; }
  const std::string& Connection() const { return connection_; }
  void SetConnection(std::string v) { connection_ = std::move(v); }
  const std::string& ContentEncoding() const { return content_encoding_; }
  void SetContentEncoding(std::string v) { content_encoding_ = std::move(v); }
  const std::string& ContentLanguage() const { return content_language_; }
  void SetContentLanguage(std::string v) { content_language_ = std::move(v); }
  // 64 bits: bodies of 2 GiB and more are announced and read by length.
  int64_t ContentLength() const { return content_length_; }
  // Also sets LengthKnown to (value >= 0).
  void SetContentLength(int64_t v) {
    content_length_ = v;
    length_known_ = v >= 0;
  }
  uint32_t ContentRangeEnd() const { return content_range_end_; }
  void SetContentRangeEnd(uint32_t v) { content_range_end_ = v; }
  uint32_t ContentRangeStart() const { return content_range_start_; }
  void SetContentRangeStart(uint32_t v) { content_range_start_ = v; }
  const std::string& ContentType() const { return content_type_; }
  void SetContentType(std::string v) { content_type_ = std::move(v); }
  const std::string& ContentVersion() const { return content_version_; }
  void SetContentVersion(std::string v) { content_version_ = std::move(v); }
  // Owned; lines sent as they stand. Setting copies the lines.
  TIdHeaderList& CustomHeaders() { return *custom_headers_; }
  const TIdHeaderList& CustomHeaders() const { return *custom_headers_; }
  void SetCustomHeaders(const TStrings& lines) { custom_headers_->Assign(lines); }
  TDateTime Date() const { return date_; }
  void SetDate(TDateTime v) { date_ = v; }
  TDateTime Expires() const { return expires_; }
  void SetExpires(TDateTime v) { expires_ = v; }
  TDateTime LastModified() const { return last_modified_; }
  void SetLastModified(TDateTime v) { last_modified_ = v; }
  const std::string& Pragma() const { return pragma_; }
  void SetPragma(std::string v) { pragma_ = std::move(v); }
  bool LengthKnown() const { return length_known_; }
  void SetLengthKnown(bool v) { length_known_ = v; }

 protected:
  void AssignTo(TPersistent& dest) const override;

  std::string cache_control_;
  std::unique_ptr<TIdHeaderList> header_lines_;
  std::string connection_;
  std::string content_encoding_;
  std::string content_language_;
  int64_t content_length_ = -1;
  uint32_t content_range_end_ = 0;
  uint32_t content_range_start_ = 0;
  std::string content_type_;
  std::string content_version_;
  std::unique_ptr<TIdHeaderList> custom_headers_;
  TDateTime date_ = 0;
  TDateTime expires_ = 0;
  TDateTime last_modified_ = 0;
  std::string pragma_;
  bool length_known_ = false;
};

// The entity headers plus the ones a client sends.
class TIdRequestHeaderInfo : public TIdEntityHeaderInfo {
 public:
  AH_CLASS_NAME(TIdRequestHeaderInfo)
  TIdRequestHeaderInfo();
  ~TIdRequestHeaderInfo() override;

  // The inverse of composition, for a received request.
  void ParseHeaderLines() override;
  // Entity headers, custom lines, then the request headers. With
  // BasicAuthentication and no AuthHandler it creates a Basic handler from
  // Username and Password; later changes of those do not reach it.
  void ComposeHeaderLines() override;
  void ResetFields() override;

  const std::string& Accept() const { return accept_; }
  void SetAccept(std::string v) { accept_ = std::move(v); }
  const std::string& AcceptCharSet() const { return accept_char_set_; }
  void SetAcceptCharSet(std::string v) { accept_char_set_ = std::move(v); }
  const std::string& AcceptEncoding() const { return accept_encoding_; }
  void SetAcceptEncoding(std::string v) { accept_encoding_ = std::move(v); }
  const std::string& AcceptLanguage() const { return accept_language_; }
  void SetAcceptLanguage(std::string v) { accept_language_ = std::move(v); }
  const std::string& From() const { return from_; }
  void SetFrom(std::string v) { from_ = std::move(v); }
  const std::string& Password() const { return password_; }
  void SetPassword(std::string v) { password_ = std::move(v); }
  const std::string& Referer() const { return referer_; }
  void SetReferer(std::string v) { referer_ = std::move(v); }
  const std::string& UserAgent() const { return user_agent_; }
  void SetUserAgent(std::string v) { user_agent_ = std::move(v); }
  const std::string& Username() const { return username_; }
  void SetUsername(std::string v) { username_ = std::move(v); }
  const std::string& Host() const { return host_; }
  void SetHost(std::string v) { host_ = std::move(v); }
  bool BasicAuthentication() const { return basic_authentication_; }
  void SetBasicAuthentication(bool v) { basic_authentication_ = v; }
  const std::string& ProxyConnection() const { return proxy_connection_; }
  void SetProxyConnection(std::string v) { proxy_connection_ = std::move(v); }
  // Owned by the record; null when none. Setting frees the previous one.
  TIdAuthentication* AuthHandler() const { return auth_handler_.get(); }
  void SetAuthHandler(std::unique_ptr<TIdAuthentication> handler) {
    auth_handler_ = std::move(handler);
  }
  // Hands the handler over; the record has none afterwards.
  std::unique_ptr<TIdAuthentication> ReleaseAuthHandler() { return std::move(auth_handler_); }

 protected:
  void AssignTo(TPersistent& dest) const override;

  std::string accept_;
  std::string accept_char_set_;
  std::string accept_encoding_;
  std::string accept_language_;
  std::string from_;
  std::string password_;
  std::string referer_;
  std::string user_agent_;
  std::string username_;
  std::string host_;
  bool basic_authentication_ = false;
  std::string proxy_connection_;
  std::unique_ptr<TIdAuthentication> auth_handler_;
};

// The entity headers plus the ones a client reads from a response.
class TIdResponseHeaderInfo : public TIdEntityHeaderInfo {
 public:
  AH_CLASS_NAME(TIdResponseHeaderInfo)
  TIdResponseHeaderInfo();
  ~TIdResponseHeaderInfo() override;

  // A "Content-Range" whose positions are not integers raises
  // EConvertError and leaves the entity fields unread.
  void ParseHeaderLines() override;
  void ResetFields() override;

  const std::string& Location() const { return location_; }
  void SetLocation(std::string v) { location_ = std::move(v); }
  const std::string& Server() const { return server_; }
  void SetServer(std::string v) { server_ = std::move(v); }
  const std::string& ProxyConnection() const { return proxy_connection_; }
  void SetProxyConnection(std::string v) { proxy_connection_ = std::move(v); }
  // Owned; one entry per challenge header. Setting copies the lines.
  TIdHeaderList& ProxyAuthenticate() { return *proxy_authenticate_; }
  const TIdHeaderList& ProxyAuthenticate() const { return *proxy_authenticate_; }
  void SetProxyAuthenticate(const TStrings& lines) { proxy_authenticate_->Assign(lines); }
  TIdHeaderList& WWWAuthenticate() { return *www_authenticate_; }
  const TIdHeaderList& WWWAuthenticate() const { return *www_authenticate_; }
  void SetWWWAuthenticate(const TStrings& lines) { www_authenticate_->Assign(lines); }

 protected:
  std::string location_;
  std::string server_;
  std::string proxy_connection_;
  std::unique_ptr<TIdHeaderList> proxy_authenticate_;
  std::unique_ptr<TIdHeaderList> www_authenticate_;
};

// Proxy settings and the Proxy-Authorization built from them. An empty
// ProxyServer means no proxy.
class TIdProxyConnectionInfo : public TPersistent {
 public:
  AH_CLASS_NAME(TIdProxyConnectionInfo)
  TIdProxyConnectionInfo();
  ~TIdProxyConnectionInfo() override;

  // Server, user name and password empty, port 0; the AuthHandler stays.
  void Clear();
  // Writes "Proxy-Authorization" into the list from the AuthHandler, or
  // from a Basic handler created from the proxy credentials when
  // BasicAuthentication is set.
  void AddProxyAuthorization(TIdHeaderList& headers);

  // Owned; discarded when the server or the port changes.
  TIdAuthentication* AuthHandler() const { return auth_handler_.get(); }
  void SetAuthHandler(std::unique_ptr<TIdAuthentication> handler) {
    auth_handler_ = std::move(handler);
  }
  const std::string& ProxyPassword() const { return proxy_password_; }
  void SetProxyPassword(std::string v) { proxy_password_ = std::move(v); }
  int32_t ProxyPort() const { return proxy_port_; }
  void SetProxyPort(int32_t port);
  const std::string& ProxyServer() const { return proxy_server_; }
  // A different name (ignoring case) discards the AuthHandler.
  void SetProxyServer(std::string server);
  const std::string& ProxyUsername() const { return proxy_username_; }
  void SetProxyUsername(std::string v) { proxy_username_ = std::move(v); }
  bool BasicAuthentication() const { return basic_authentication_; }
  void SetBasicAuthentication(bool v) { basic_authentication_ = v; }

 protected:
  void AssignTo(TPersistent& dest) const override;

 private:
  std::unique_ptr<TIdAuthentication> auth_handler_;
  std::string proxy_password_;
  int32_t proxy_port_ = 0;
  std::string proxy_server_;
  std::string proxy_username_;
  bool basic_authentication_ = false;
};

}  // namespace ah
