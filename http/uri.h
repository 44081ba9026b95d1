#pragma once
// Splitting an address into its components and composing it again.

#include <string>
#include <string_view>

#include "http/exceptions.h"

namespace ah {

// Flags of ComposeURI.
enum TIdURIOptionalFields : unsigned {
  IncludeUserInfo = 1u << 0,
  IncludeBookmark = 1u << 1,
};

// The parser never fails: it only cuts the text at separators, never
// decodes and never changes letter case. Composing fails without a
// protocol or host.
class TIdURI {
 public:
  explicit TIdURI(std::string_view uri = {});

  // Sets every component from uri (backslashes read as slashes).
  void ParseURI(std::string_view uri);
  // Raises EIdURIException when Protocol or Host is empty; the object is
  // never changed.
  std::string ComposeURI(unsigned options) const;
  // Stores the full composition in URIText and returns the address without
  // user information and fragment.
  std::string GetURI();

  static void NormalizeSlashes(std::string& text);
  // Form encoding: space -> "+", ASCII letters and digits as they are,
  // every other byte as "%XX".
  static std::string EncodeFormValue(std::string_view text);
  // `text` with every byte that `keep` refuses as "%XX" (upper-case hex).
  static std::string PercentEncode(std::string_view text, bool (*keep)(unsigned char));

  const std::string& Document() const { return document_; }
  const std::string& Protocol() const { return protocol_; }
  const std::string& URIText() const { return uri_text_; }
  const std::string& Port() const { return port_; }
  const std::string& Path() const { return path_; }
  const std::string& Host() const { return host_; }
  const std::string& Bookmark() const { return bookmark_; }
  const std::string& Username() const { return username_; }
  const std::string& Password() const { return password_; }
  const std::string& Params() const { return params_; }

  void SetDocument(std::string v) { document_ = std::move(v); }
  void SetProtocol(std::string v) { protocol_ = std::move(v); }
  // Assigning the whole text parses it.
  void SetURI(std::string_view uri) { ParseURI(uri); }
  void SetPort(std::string v) { port_ = std::move(v); }
  void SetPath(std::string v) { path_ = std::move(v); }
  void SetHost(std::string v) { host_ = std::move(v); }
  void SetBookmark(std::string v) { bookmark_ = std::move(v); }
  void SetUsername(std::string v) { username_ = std::move(v); }
  void SetPassword(std::string v) { password_ = std::move(v); }
  void SetParams(std::string v) { params_ = std::move(v); }

 private:
  // User information, host and port from the authority.
  void TakeAuthority(std::string authority);

  std::string document_;
  std::string protocol_;
  std::string uri_text_;
  std::string port_;
  std::string path_;
  std::string host_;
  std::string bookmark_;
  std::string username_;
  std::string password_;
  std::string params_;
};

}  // namespace ah
