#include "http/uri.h"

#include <algorithm>

#include "framework/text_tokens.h"

namespace ah {

TIdURI::TIdURI(std::string_view uri) {
  if (!uri.empty()) ParseURI(uri);
}

void TIdURI::NormalizeSlashes(std::string& text) {
  // The system code page has no lead bytes, so no byte pair needs guarding.
  for (char& c : text)
    if (c == '\\') c = '/';
}

void TIdURI::ParseURI(std::string_view uri) {
  uri_text_ = std::string(uri);
  NormalizeSlashes(uri_text_);
  std::string w = uri_text_;
  document_.clear();
  protocol_.clear();
  port_.clear();
  path_.clear();
  host_.clear();
  bookmark_.clear();
  username_.clear();
  password_.clear();
  params_.clear();

  const size_t p = TextPos("://", w);
  const bool absolute = p > 0;
  if (absolute) {
    protocol_ = w.substr(0, p - 1);
    w.erase(0, p - 1 + 3);
    // The authority ends at the first "/", "?" or "#"; only a "/" goes with it.
    const size_t end = std::min(w.size(), w.find_first_of("/?#"));
    std::string authority = w.substr(0, end);
    w.erase(0, end < w.size() && w[end] == '/' ? end + 1 : end);
    TakeAuthority(std::move(authority));
  }

  // Without "?", a "=" starts the parameters: callers rely on that split.
  size_t s = TextPos("?", w);
  if (s == 0) s = TextPos("=", w);
  const size_t e = s > 0 ? LastPos("/", w, long(s)) : LastPos("/", w);
  path_ = absolute ? "/" + w.substr(0, e) : w.substr(0, e);
  if (s > 0) {
    document_ = w.substr(0, s - 1);
    params_ = w.substr(s - 1);
  } else {
    document_ = w;
  }
  document_.erase(0, e);
  // A relative address keeps its fragment in the document.
  if (absolute) {
    bookmark_ = document_;
    document_ = TakeToken(bookmark_, "#");
  }
  if (bookmark_.empty()) {
    bookmark_ = params_;
    params_ = TakeToken(bookmark_, "#");
  }
}

void TIdURI::TakeAuthority(std::string authority) {
  const size_t q = TextPos("@", authority);
  if (q > 0) {
    password_ = authority.substr(0, q - 1);
    authority.erase(0, q);
  }
  username_ = TakeToken(password_, ":");
  if (username_.empty()) password_.clear();
  if (!authority.empty() && authority[0] == '[') {
    // An IPv6 address: its colons are no port's.
    const size_t close = std::min(authority.size(), authority.find(']'));
    host_ = authority.substr(1, close - 1);
    authority.erase(0, close + 1);
    if (!authority.empty() && authority[0] == ':') port_ = authority.substr(1);
  } else {
    host_ = TakeToken(authority, ":");
    port_ = authority;
  }
}

std::string TIdURI::ComposeURI(unsigned options) const {
  if (protocol_.empty()) throw EIdURIException("Protocol field is empty");
  std::string text = protocol_ + "://";
  if ((options & IncludeUserInfo) && !username_.empty()) {
    text += username_;
    if (!password_.empty()) text += ":" + password_;
    text += "@";
  }
  if (host_.empty()) throw EIdURIException("Host field is empty");
  // Brackets keep an IPv6 address's colons (and a bracket that began the
  // host) from reading as the port's.
  const bool bracketed = host_.find(':') != std::string::npos || host_[0] == '[';
  text += bracketed ? "[" + host_ + "]" : host_;
  if (!port_.empty()) text += ":" + port_;
  text += path_ + document_ + params_;
  if ((options & IncludeBookmark) && !bookmark_.empty()) text += "#" + bookmark_;
  return text;
}

std::string TIdURI::GetURI() {
  uri_text_ = ComposeURI(IncludeUserInfo | IncludeBookmark);
  return ComposeURI(0);
}

std::string TIdURI::EncodeFormValue(std::string_view text) {
  std::string out = PercentEncode(text, [](unsigned char c) {
    return c == ' ' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  });
  // A "+" of the text is "%2B" by now.
  std::replace(out.begin(), out.end(), ' ', '+');
  return out;
}

std::string TIdURI::PercentEncode(std::string_view text, bool (*keep)(unsigned char)) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (unsigned char c : text) {
    if (keep(c)) {
      out += char(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace ah
