#include "http/header_info.h"

#include <optional>

#include "framework/sysutils.h"
#include "framework/text_tokens.h"
#include "http/protocol_utils.h"

namespace ah {

namespace {

// The lenient range reading of a received request: 0 for anything that is
// not an integer of the field's range.
uint32_t RangeNumber(std::string_view text) {
  std::optional<int64_t> n = TryStrToInt64(text);
  return n && *n >= 0 && *n <= int64_t(UINT32_MAX) ? uint32_t(*n) : 0;
}

// A numeric "Expires" is a count of seconds from now. Any count is read
// that way, so counts of a day or more and negative ones give a date
// instead of failing the whole parse.
TDateTime ExpiresValue(const std::string& value) {
  const int32_t seconds = StrToIntDef(value, -1);
  if (seconds != -1) return Now() + TDateTime(seconds) / TDateTime(SecsPerDay);
  return InternetDateToLocal(value);
}

}  // namespace

// --- entity -----------------------------------------------------------------

TIdEntityHeaderInfo::TIdEntityHeaderInfo()
    : header_lines_(std::make_unique<TIdHeaderList>()),
      custom_headers_(std::make_unique<TIdHeaderList>()) {
  header_lines_->SetFoldWidth(1024);
  TIdEntityHeaderInfo::ResetFields();
}

TIdEntityHeaderInfo::~TIdEntityHeaderInfo() = default;

void TIdEntityHeaderInfo::ResetFields() {
  connection_.clear();
  content_version_.clear();
  content_encoding_.clear();
  content_language_.clear();
  content_type_ = "text/html";
  content_length_ = -1;
  content_range_start_ = 0;
  content_range_end_ = 0;
  date_ = 0;
  expires_ = 0;
  last_modified_ = 0;
  header_lines_->Clear();
}

void TIdEntityHeaderInfo::ComposeHeaderLines() {
  TIdHeaderList& h = *header_lines_;
  h.Clear();
  auto put_text = [&](const char* name, const std::string& value) {
    if (!value.empty()) h.SetHeaderValue(name, value);
  };
  put_text("Connection", connection_);
  put_text("Content-Version", content_version_);
  put_text("Content-Encoding", content_encoding_);
  put_text("Content-Language", content_language_);
  put_text("Content-Type", content_type_);
  if (content_length_ >= 0) h.SetHeaderValue("Content-Length", IntToStr(content_length_));
  put_text("Cache-control", cache_control_);
  if (date_ > 0) h.SetHeaderValue("Date", FormatInternetDate(date_, false));
  if (expires_ > 0) h.SetHeaderValue("Expires", FormatInternetDate(expires_, false));
  put_text("Pragma", pragma_);
  // Custom lines are taken one by one, so a line break inside one stays
  // there for the sending side to refuse instead of becoming a header of
  // its own; a folded custom header goes out joined on one line.
  for (int i = 0; i < custom_headers_->Count(); ++i) {
    const std::string& line = (*custom_headers_)[i];
    if (TIdHeaderList::IsContinuationLine(line) && h.Count() > 0) {
      h.Put(h.Count() - 1, TrimRight(h[h.Count() - 1]) + " " + Trim(line));
    } else {
      h.Add(line);
    }
  }
}

void TIdEntityHeaderInfo::ParseHeaderLines() {
  const TIdHeaderList& h = *header_lines_;
  connection_ = h.HeaderValue("Connection");
  content_version_ = h.HeaderValue("Content-Version");
  content_encoding_ = h.HeaderValue("Content-Encoding");
  content_language_ = h.HeaderValue("Content-Language");
  content_type_ = h.HeaderValue("Content-Type");
  content_length_ = StrToInt64Def(Trim(h.HeaderValue("Content-Length")), -1);
  length_known_ = content_length_ >= 0;
  date_ = InternetDateToLocal(h.HeaderValue("Date"));
  last_modified_ = InternetDateToLocal(h.HeaderValue("Last-Modified"));
  expires_ = ExpiresValue(h.HeaderValue("Expires"));
  pragma_ = h.HeaderValue("Pragma");
}

void TIdEntityHeaderInfo::AssignTo(TPersistent& dest) const {
  auto* d = dynamic_cast<TIdEntityHeaderInfo*>(&dest);
  if (!d) {
    TPersistent::AssignTo(dest);
    return;
  }
  if (d == this) return;
  d->header_lines_->Assign(*header_lines_);
  d->content_encoding_ = content_encoding_;
  d->content_language_ = content_language_;
  d->content_length_ = content_length_;
  d->content_range_end_ = content_range_end_;
  d->content_range_start_ = content_range_start_;
  d->content_type_ = content_type_;
  d->content_version_ = content_version_;
  d->date_ = date_;
  d->expires_ = expires_;
  d->last_modified_ = last_modified_;
}

// --- request ----------------------------------------------------------------

TIdRequestHeaderInfo::TIdRequestHeaderInfo() {
  // Outgoing headers are never folded: continuation lines are obsolete on
  // the wire, and servers refuse them.
  header_lines_->SetFoldOnWrite(false);
  TIdRequestHeaderInfo::ResetFields();
}

TIdRequestHeaderInfo::~TIdRequestHeaderInfo() = default;

void TIdRequestHeaderInfo::ResetFields() {
  accept_ = "text/html, */*";
  accept_char_set_.clear();
  user_agent_ = "Mozilla/3.0 (compatible; Orvane Library)";
  basic_authentication_ = false;
  TIdEntityHeaderInfo::ResetFields();
}

void TIdRequestHeaderInfo::ComposeHeaderLines() {
  TIdEntityHeaderInfo::ComposeHeaderLines();
  TIdHeaderList& h = *header_lines_;
  auto put_text = [&](const char* name, const std::string& value) {
    if (!value.empty()) h.SetHeaderValue(name, value);
  };
  put_text("Proxy-Connection", proxy_connection_);
  put_text("Host", host_);
  put_text("Accept", accept_);
  put_text("Accept-Charset", accept_char_set_);
  put_text("Accept-Encoding", accept_encoding_);
  put_text("Accept-Language", accept_language_);
  put_text("From", from_);
  put_text("Referer", referer_);
  put_text("User-Agent", user_agent_);
  if (last_modified_ > 0)
    h.SetHeaderValue("If-Modified-Since", FormatInternetDate(last_modified_, false));
  if (content_range_start_ != 0 || content_range_end_ != 0) {
    std::string range = "bytes=" + std::to_string(content_range_start_) + "-";
    if (content_range_end_ != 0) range += std::to_string(content_range_end_);
    h.SetHeaderValue("Range", range);
  }
  if (!auth_handler_ && basic_authentication_) {
    auth_handler_ = std::make_unique<TIdBasicAuthentication>();
    auth_handler_->CredentialLines().SetHeaderValue("Username", username_);
    auth_handler_->CredentialLines().SetHeaderValue("Password", password_);
  }
  if (auth_handler_) put_text("Authorization", auth_handler_->AuthorizationText());
}

void TIdRequestHeaderInfo::ParseHeaderLines() {
  const TIdHeaderList& h = *header_lines_;
  accept_ = h.HeaderValue("Accept");
  accept_char_set_ = h.HeaderValue("Accept-Charset");
  accept_encoding_ = h.HeaderValue("Accept-Encoding");
  accept_language_ = h.HeaderValue("Accept-Language");
  host_ = h.HeaderValue("Host");
  from_ = h.HeaderValue("From");
  referer_ = h.HeaderValue("Referer");
  user_agent_ = h.HeaderValue("User-Agent");
  std::string range = h.HeaderValue("Range");
  if (!range.empty()) {
    TakeToken(range, "=");
    content_range_start_ = RangeNumber(TakeToken(range, "-"));
    content_range_end_ = RangeNumber(TakeToken(range, " "));
  }
  TIdEntityHeaderInfo::ParseHeaderLines();
}

void TIdRequestHeaderInfo::AssignTo(TPersistent& dest) const {
  auto* d = dynamic_cast<TIdRequestHeaderInfo*>(&dest);
  if (!d) {
    TIdEntityHeaderInfo::AssignTo(dest);
    return;
  }
  if (d == this) return;
  d->accept_ = accept_;
  d->accept_char_set_ = accept_char_set_;
  d->accept_encoding_ = accept_encoding_;
  d->accept_language_ = accept_language_;
  d->from_ = from_;
  d->password_ = password_;
  d->referer_ = referer_;
  d->user_agent_ = user_agent_;
  d->username_ = username_;
  d->basic_authentication_ = basic_authentication_;
}

// --- response ---------------------------------------------------------------

TIdResponseHeaderInfo::TIdResponseHeaderInfo()
    : proxy_authenticate_(std::make_unique<TIdHeaderList>()),
      www_authenticate_(std::make_unique<TIdHeaderList>()) {
  TIdResponseHeaderInfo::ResetFields();
}

TIdResponseHeaderInfo::~TIdResponseHeaderInfo() = default;

void TIdResponseHeaderInfo::ResetFields() {
  TIdEntityHeaderInfo::ResetFields();
  location_.clear();
  server_.clear();
  if (proxy_authenticate_) proxy_authenticate_->Clear();
  if (www_authenticate_) www_authenticate_->Clear();
}

void TIdResponseHeaderInfo::ParseHeaderLines() {
  const TIdHeaderList& h = *header_lines_;
  location_ = h.HeaderValue("Location");
  server_ = h.HeaderValue("Server");
  proxy_connection_ = h.HeaderValue("Proxy-Connection");
  std::string range = h.HeaderValue("Content-Range");
  if (!range.empty()) {
    TakeToken(range, " ");
    content_range_start_ = uint32_t(StrToInt(TakeToken(range, "-")));
    content_range_end_ = uint32_t(StrToInt(TakeToken(range, "/")));
  }
  www_authenticate_->Clear();
  h.ExtractValues("WWW-Authenticate", www_authenticate_.get());
  proxy_authenticate_->Clear();
  h.ExtractValues("Proxy-Authenticate", proxy_authenticate_.get());
  TIdEntityHeaderInfo::ParseHeaderLines();
}

// --- proxy ------------------------------------------------------------------

TIdProxyConnectionInfo::TIdProxyConnectionInfo() { Clear(); }

TIdProxyConnectionInfo::~TIdProxyConnectionInfo() = default;

void TIdProxyConnectionInfo::Clear() {
  proxy_server_.clear();
  proxy_username_.clear();
  proxy_password_.clear();
  proxy_port_ = 0;
}

void TIdProxyConnectionInfo::SetProxyPort(int32_t port) {
  if (port != proxy_port_) auth_handler_.reset();
  proxy_port_ = port;
}

void TIdProxyConnectionInfo::SetProxyServer(std::string server) {
  if (!SameText(server, proxy_server_)) auth_handler_.reset();
  proxy_server_ = std::move(server);
}

void TIdProxyConnectionInfo::AddProxyAuthorization(TIdHeaderList& headers) {
  if (!auth_handler_ && basic_authentication_) {
    auth_handler_ = std::make_unique<TIdBasicAuthentication>();
    auth_handler_->CredentialLines().SetHeaderValue("Username", proxy_username_);
    auth_handler_->CredentialLines().SetHeaderValue("Password", proxy_password_);
  }
  if (!auth_handler_) return;
  const std::string text = auth_handler_->AuthorizationText();
  if (!text.empty()) headers.SetHeaderValue("Proxy-Authorization", text);
}

void TIdProxyConnectionInfo::AssignTo(TPersistent& dest) const {
  auto* d = dynamic_cast<TIdProxyConnectionInfo*>(&dest);
  if (!d) {
    TPersistent::AssignTo(dest);
    return;
  }
  if (d == this) return;
  d->proxy_password_ = proxy_password_;
  d->proxy_port_ = proxy_port_;
  d->proxy_server_ = proxy_server_;
  d->proxy_username_ = proxy_username_;
  d->basic_authentication_ = basic_authentication_;
}

}  // namespace ah
