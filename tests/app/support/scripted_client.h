#pragma once
// A scripted stand-in for the HTTP client, for the harvest's tests and the
// window's: answers canned page texts by address or throws, and writes
// every call, with its arguments and form lines, into a journal shared
// with the test's other fakes. No sockets.

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "http/http_client_interface.h"

namespace ah {

struct ScriptedAnswer {
  std::string body;
  // Throw instead of answering; `body` is then what arrived before the
  // failure (empty: nothing arrived).
  bool fail = false;
  // Refuse with this status (an EIdHTTPProtocolException) instead.
  int status = 0;
  std::string retry_after = "";
  // What the reply showed besides its text.
  bool redirected = false;
  bool set_cookie = false;
};

struct ScriptedSite {
  // Unknown addresses fail as a refused connection.
  std::map<std::string, ScriptedAnswer> answers;
  // Taken first, one per request, before `answers` is looked at.
  std::map<std::string, std::deque<ScriptedAnswer>> sequences;
  std::vector<std::string> journal;
  // Run when a POST has been written into the journal, before it is
  // answered.
  std::function<void()> on_post;
  int clients_created = 0;
  int clients_alive = 0;
};

class ScriptedClient : public IHTTPClient {
 public:
  explicit ScriptedClient(ScriptedSite& site);
  ~ScriptedClient() override;

  void GetText(const std::string& address, std::string& text) override;
  void PostFormText(const std::string& address, TStrings& lines, std::string& text) override;
  bool HandleRedirects() const override { return handle_redirects_; }
  void SetHandleRedirects(bool value) override;
  void SetRequestUserAgent(const std::string& value) override;
  ReplyFacts LastReplyFacts() override { return facts_; }
  void SetTimeouts(int connect_ms, int read_ms) override;
  void SetProxy(const std::string& host, int port) override;
  void DropConnection() override;

  int id() const { return id_; }
  const std::string& user_agent() const { return user_agent_; }

 private:
  // The answer for this request; throws the scripted failure.
  void Answer(const std::string& address, std::string& text, bool post);

  ScriptedSite& site_;
  int id_;
  bool handle_redirects_ = true;
  std::string user_agent_;
  std::string proxy_;
  ReplyFacts facts_;
};

}  // namespace ah
