#pragma once
// A scripted photo site for window tests: the client answers GETs from a
// table of page texts and records every call, so a test sees exactly what
// a click made the window do. No sockets.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/window/window_client.h"
#include "http/http_client_interface.h"

namespace ah {

struct ScriptedSite {
  std::map<std::string, std::string> pages;  // address -> body (UTF-8)
  // "POST <address> <lines joined by &>" and "GET <address>", in call order.
  std::vector<std::string> calls;
  // Runs before a GET is answered (after it is recorded).
  std::function<void(const std::string& address)> on_get;
  // Runs after a POST is recorded.
  std::function<void()> on_post;
  int created = 0;
  int alive = 0;
  std::vector<std::string> user_agents;  // one per client, as last set
  std::vector<bool> follows_redirects;   // one per client, as last set

  // A factory for the window that makes clients of this site.
  WindowClientFactory Factory();
};

class ScriptedClient : public IHTTPClient {
 public:
  explicit ScriptedClient(ScriptedSite& site);
  ~ScriptedClient() override;

  void GetText(const std::string& address, std::string& text) override;
  void PostFormText(const std::string& address, TStrings& lines, std::string& text) override;
  bool HandleRedirects() const override { return site_.follows_redirects[index_]; }
  void SetHandleRedirects(bool value) override { site_.follows_redirects[index_] = value; }
  void SetRequestUserAgent(const std::string& value) override;
  // Every sign-in is taken: the site sets its session cookie.
  ReplyFacts LastReplyFacts() override { return {false, posted_, ""}; }

 private:
  ScriptedSite& site_;
  size_t index_;
  bool posted_ = false;
};

}  // namespace ah
