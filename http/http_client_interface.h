#pragma once
// The operations of the HTTP client that the album harvester calls. The
// client component implements them; tests substitute scripted clients.

#include <string>

namespace ah {

class TStrings;

class IHTTPClient {
 public:
  IHTTPClient() = default;
  IHTTPClient(const IHTTPClient&) = delete;
  IHTTPClient& operator=(const IHTTPClient&) = delete;
  // Deleting through the interface destroys the client: its connection is
  // closed and its cookies are lost.
  virtual ~IHTTPClient() = default;

  // GET; the body's bytes (framing removed, no character-set conversion)
  // become `text`. Failures are exceptions; `text` then holds the body
  // bytes that had arrived, or is left as it was when none had.
  virtual void GetText(const std::string& address, std::string& text) = 0;
  // POST of the name=value `lines` as a form; the client may write encoded
  // values back into them. After a failure `text` holds what had arrived
  // (empty when nothing had).
  virtual void PostFormText(const std::string& address, TStrings& lines, std::string& text) = 0;

  virtual bool HandleRedirects() const = 0;
  virtual void SetHandleRedirects(bool value) = 0;
  // The user agent of the client's request record.
  virtual void SetRequestUserAgent(const std::string& value) = 0;
};

}  // namespace ah
