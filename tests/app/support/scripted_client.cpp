#include "scripted_client.h"

#include "framework/exception.h"
#include "framework/strings.h"
#include "http/exceptions.h"

namespace ah {

ScriptedClient::ScriptedClient(ScriptedSite& site) : site_(site), id_(++site.clients_created) {
  ++site_.clients_alive;
  site_.journal.push_back("new #" + std::to_string(id_));
}

ScriptedClient::~ScriptedClient() {
  --site_.clients_alive;
  site_.journal.push_back("delete #" + std::to_string(id_));
}

void ScriptedClient::Answer(const std::string& address, std::string& text, bool post) {
  facts_ = {};
  ScriptedAnswer answer;
  if (auto seq = site_.sequences.find(address); seq != site_.sequences.end() && !seq->second.empty()) {
    answer = seq->second.front();
    seq->second.pop_front();
  } else if (auto it = site_.answers.find(address); it != site_.answers.end()) {
    answer = it->second;
  } else {
    throw EIdSocketError(10061, "Socket Error # 10061\r\nConnection refused.");
  }
  facts_.redirected = answer.redirected;
  facts_.set_cookie = answer.set_cookie;
  facts_.retry_after = answer.retry_after;
  if (answer.status != 0)
    throw EIdHTTPProtocolException(answer.status, "HTTP/1.1 " + std::to_string(answer.status) + " Refused", "");
  if (answer.fail) {
    if (!answer.body.empty() || post) text = answer.body;
    throw EIdConnClosedGracefully("Connection Closed Gracefully.");
  }
  text = answer.body;
}

void ScriptedClient::GetText(const std::string& address, std::string& text) {
  site_.journal.push_back("GET #" + std::to_string(id_) + " " + address);
  Answer(address, text, false);
}

void ScriptedClient::PostFormText(const std::string& address, TStrings& lines, std::string& text) {
  std::string form;
  for (int i = 0; i < lines.Count(); ++i) form += (i ? "|" : "") + lines.Get(i);
  site_.journal.push_back("POST #" + std::to_string(id_) + " " + address + " " + form);
  if (site_.on_post) site_.on_post();
  text.clear();
  Answer(address, text, true);
}

void ScriptedClient::SetHandleRedirects(bool value) {
  handle_redirects_ = value;
  site_.journal.push_back("redirects #" + std::to_string(id_) + (value ? " on" : " off"));
}

void ScriptedClient::SetRequestUserAgent(const std::string& value) {
  user_agent_ = value;
  site_.journal.push_back("agent #" + std::to_string(id_) + " " + value);
}

void ScriptedClient::SetTimeouts(int connect_ms, int read_ms) {
  site_.journal.push_back("timeouts #" + std::to_string(id_) + " " + std::to_string(connect_ms) +
                          "/" + std::to_string(read_ms));
}

void ScriptedClient::SetProxy(const std::string& host, int port) {
  std::string proxy = host.empty() ? "" : host + ":" + std::to_string(port);
  if (proxy == proxy_) return;
  proxy_ = proxy;
  site_.journal.push_back("proxy #" + std::to_string(id_) + " " + (proxy.empty() ? "none" : proxy));
}

void ScriptedClient::DropConnection() { site_.journal.push_back("drop #" + std::to_string(id_)); }

}  // namespace ah
