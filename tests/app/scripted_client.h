#pragma once
// A scripted stand-in for the HTTP client: answers canned page texts by
// address or throws, and writes every call, with its arguments and form
// lines, into a journal shared with the test's other fakes.

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
};

struct ScriptedSite {
  std::map<std::string, ScriptedAnswer> answers;  // unknown addresses fail with no data
  std::vector<std::string> journal;
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

  int id() const { return id_; }
  const std::string& user_agent() const { return user_agent_; }

 private:
  ScriptedSite& site_;
  int id_;
  bool handle_redirects_ = true;
  std::string user_agent_;
};

}  // namespace ah
