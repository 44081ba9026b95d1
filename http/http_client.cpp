#include "http/http_client.h"

#include <algorithm>

#include "framework/sysutils.h"
#include "http/exceptions.h"

namespace ah {

TIdCustomHTTP::TIdCustomHTTP(TComponent* owner)
    : TIdTCPClient(owner), target_uri_(std::make_unique<TIdURI>()), router_(*this) {
  SetPort(80);
  exchange_ = std::make_unique<TIdHTTPProtocol>(this);
  exchange_->Response().SetReusableHook(
      [this](TIdHTTPResponse& response) { return router_.Reusable(response, protocol_version_); });
  proxy_params_ = std::make_unique<TIdProxyConnectionInfo>();
  proxy_params_->Clear();
}

TIdCustomHTTP::~TIdCustomHTTP() {
  exchange_.reset();
  target_uri_.reset();
  proxy_params_.reset();
}

void TIdCustomHTTP::SetHost(const std::string& value) {
  TIdTCPClient::SetHost(value);
  target_uri_->SetHost(value);
}

void TIdCustomHTTP::SetPort(int value) {
  TIdTCPClient::SetPort(value);
  target_uri_->SetPort(IntToStr(value));
}

void TIdCustomHTTP::SetCookieManager(TIdCookieManager* value) {
  if (value == cookie_manager_) return;
  TIdCookieManager* old = cookie_manager_;
  cookie_manager_ = nullptr;
  if (old) {
    if (owns_cookie_manager_) {
      delete old;
    } else {
      old->RemoveFreeNotification(this);
    }
  }
  owns_cookie_manager_ = false;
  cookie_manager_ = value;
  if (value) value->FreeNotification(this);
}

void TIdCustomHTTP::Notification(TComponent* component, TOperation operation) {
  TIdTCPClient::Notification(component, operation);
  if (operation == opRemove && component == cookie_manager_) {
    cookie_manager_ = nullptr;
    owns_cookie_manager_ = false;
  }
}

void TIdCustomHTTP::GetToStream(const std::string& url, TStream* stream) {
  PerformRequest(hmGet, url, nullptr, stream);
}

namespace {

// A text result that ends with EIdHTTPBodyTooLarge once it would pass its
// limit (0: none), holding the bytes up to it.
class TextResultStream : public TStringStream {
 public:
  explicit TextResultStream(int64_t limit) : limit_(limit) {}
  int64_t Write(const void* buffer, int64_t count) override {
    if (limit_ <= 0 || Position() + count <= limit_) return TStringStream::Write(buffer, count);
    TStringStream::Write(buffer, std::max<int64_t>(0, limit_ - Position()));
    throw EIdHTTPBodyTooLarge(Format("The body is larger than %lld bytes.",
                                     static_cast<long long>(limit_)));
  }
  // A reservation ahead of the data never goes past the limit.
  void SetSize(int64_t size) override {
    TStringStream::SetSize(limit_ > 0 ? std::min(size, limit_) : size);
  }

 private:
  int64_t limit_;
};

}  // namespace

void TIdCustomHTTP::GetText(const std::string& url, std::string& text) {
  TextResultStream stream(max_text_bytes_);
  try {
    GetToStream(url, &stream);
  } catch (...) {
    if (stream.Size() > 0) text = stream.TakeDataString();
    throw;
  }
  text = stream.TakeDataString();
}

void TIdCustomHTTP::PostStream(const std::string& url, TStream* source, TStream* response) {
  if (IsConnected()) CloseConnection();
  TIdHTTPProtocolVersion saved = protocol_version_;
  if (!(http_options_ & hoKeepOrigProtocol)) protocol_version_ = pv1_0;
  try {
    PerformRequest(hmPost, url, source, response);
  } catch (...) {
    protocol_version_ = saved;
    throw;
  }
  protocol_version_ = saved;
}

void TIdCustomHTTP::PostFormToStream(const std::string& url, TStrings* lines,
                                     TStream* response) {
  TIdHTTPRequest& request = Request();
  if (request.ContentType().empty() || SameText(request.ContentType(), "text/html")) {
    request.SetContentType("application/x-www-form-urlencoded");
  }
  TStringStream body(BuildFormBody(lines));
  PostStream(url, &body, response);
}

void TIdCustomHTTP::PostFormText(const std::string& url, TStrings* lines, std::string& text) {
  TextResultStream stream(max_text_bytes_);
  try {
    PostFormToStream(url, lines, &stream);
  } catch (...) {
    text = stream.TakeDataString();
    throw;
  }
  text = stream.TakeDataString();
}

std::string TIdCustomHTTP::BuildFormBody(TStrings* lines) {
  if (!lines) return {};
  if (http_options_ & hoForceEncodeParams) EncodeFormLines(*lines);
  std::string text = lines->Text();
  if (lines->Count() < 2) return Trim(text);
  std::string joined;
  joined.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      joined += '&';
      ++i;
    } else {
      joined += text[i];
    }
  }
  return Trim(joined);
}

void TIdCustomHTTP::EncodeFormLines(TStrings& lines) {
  for (int i = 0; i < lines.Count(); ++i) {
    std::string line = lines.Get(i);
    size_t eq = line.find('=');
    std::string name = eq == std::string::npos ? std::string() : line.substr(0, eq);
    // The first line of that name is the one looked up and rewritten, so a
    // repeated name encodes the first value once per occurrence.
    std::string value = lines.Values(name);
    if (!value.empty()) lines.SetValues(name, TIdURI::EncodeFormValue(value));
  }
}

IHTTPClient::ReplyFacts TIdHTTP::LastReplyFacts() {
  ReplyFacts facts;
  facts.redirected = LastRequestRedirected();
  facts.set_cookie = LastRequestSetCookie();
  facts.retry_after = Response().HeaderLines().HeaderValue("Retry-After");
  return facts;
}

void TIdHTTP::ShareCookiesOf(IHTTPClient& holder) {
  auto* other = dynamic_cast<TIdCustomHTTP*>(&holder);
  if (!other || other == this || !AllowCookies() || !other->AllowCookies()) return;
  // Made as the holder's own jar would be at its first response: a child
  // that goes with it.
  if (!other->CookieManager()) other->SetCookieManager(new TIdCookieManager(other));
  SetCookieManager(other->CookieManager());
}

void TIdHTTP::SetOnReceived(std::function<void(int64_t bytes)> told, int32_t most_per_read) {
  // 0 is the connection's default block.
  SetRecvBufferSize(told ? std::max<int32_t>(most_per_read, 0) : 0);
  if (!told) {
    SetOnWorkBegin(nullptr);
    SetOnWork(nullptr);
    return;
  }
  // OnWork tells the running total of a read; the pieces are what it grew by.
  auto counted = std::make_shared<uint32_t>(0);
  SetOnWorkBegin([counted](TComponent*, TWorkMode mode, int32_t) {
    if (mode == wmRead) *counted = 0;
  });
  SetOnWork([counted, told = std::move(told)](TComponent*, TWorkMode mode, int32_t total) {
    if (mode != wmRead) return;
    const uint32_t piece = uint32_t(total) - *counted;
    *counted = uint32_t(total);
    if (piece > 0) told(int64_t(piece));
  });
}

void TIdHTTP::SetProxy(const std::string& host, int port) {
  TIdProxyConnectionInfo& proxy = ProxyParams();
  if (proxy.ProxyServer() == host && proxy.ProxyPort() == port) return;
  // The open connection goes to the old route.
  if (IsConnected()) CloseConnection();
  proxy.SetProxyServer(host);
  proxy.SetProxyPort(host.empty() ? 0 : port);
}

}  // namespace ah
