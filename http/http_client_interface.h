#pragma once
// The operations of the HTTP client that the album harvester calls. The
// client component implements them; tests substitute scripted clients.

#include <cstdint>
#include <functional>
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

  // Beyond the text result: what the replies of the last operation showed.
  // Stand-ins without a wire may leave these alone.
  struct ReplyFacts {
    bool redirected = false;  // a redirect was followed
    bool set_cookie = false;  // a reply on the way set a cookie
    std::string retry_after;  // the last reply's Retry-After, as sent
  };
  virtual ReplyFacts LastReplyFacts() { return {}; }
  // Milliseconds a connect may take and a wait for the peer's next bytes
  // may last; 0 sets no limit.
  virtual void SetTimeouts(int connect_ms, int read_ms) {
    (void)connect_ms;
    (void)read_ms;
  }
  // Milliseconds all the reading of one request may take, however steadily
  // bytes trickle in; 0 sets no limit.
  virtual void SetTransferTimeout(int ms) { (void)ms; }
  // The HTTP proxy for later requests; an empty host means none.
  virtual void SetProxy(const std::string& host, int port) {
    (void)host;
    (void)port;
  }
  // Later text results stop at `limit` bytes with an error (the text then
  // holds those bytes); 0 sets no limit.
  virtual void SetMaxTextBytes(int64_t limit) { (void)limit; }
  // Told of the body bytes of later replies as they are read, piece by
  // piece, on the reading thread; it may hold the reading back (a rate
  // limit). Meanwhile one read takes in at most `most_per_read` bytes (0:
  // as many as it would). Empty: nobody is told.
  virtual void SetOnReceived(std::function<void(int64_t bytes)> told, int32_t most_per_read = 0) {
    (void)told;
    (void)most_per_read;
  }
  // Closes the open connection, so the next request starts on a new one.
  virtual void DropConnection() {}
  // From now on keeps and sends its cookies in the jar of `holder` (made
  // there when it has none yet), so several clients act in one session.
  // The holder keeps the jar; when it goes, this client starts a jar of its
  // own again. Not while either of them is in a request.
  virtual void ShareCookiesOf(IHTTPClient& holder) { (void)holder; }
};

}  // namespace ah
