#include "scripted_client.h"

#include "framework/exception.h"
#include "framework/strings.h"

namespace ah {

ScriptedClient::ScriptedClient(ScriptedSite& site) : site_(site), id_(++site.clients_created) {
  ++site_.clients_alive;
  site_.journal.push_back("new #" + std::to_string(id_));
}

ScriptedClient::~ScriptedClient() {
  --site_.clients_alive;
  site_.journal.push_back("delete #" + std::to_string(id_));
}

void ScriptedClient::GetText(const std::string& address, std::string& text) {
  site_.journal.push_back("GET #" + std::to_string(id_) + " " + address);
  auto it = site_.answers.find(address);
  if (it == site_.answers.end()) throw Exception("Socket Error # 10061\r\nConnection refused.");
  if (it->second.fail) {
    if (!it->second.body.empty()) text = it->second.body;
    throw Exception("Connection Closed Gracefully.");
  }
  text = it->second.body;
}

void ScriptedClient::PostFormText(const std::string& address, TStrings& lines, std::string& text) {
  std::string form;
  for (int i = 0; i < lines.Count(); ++i) form += (i ? "|" : "") + lines.Get(i);
  site_.journal.push_back("POST #" + std::to_string(id_) + " " + address + " " + form);
  text.clear();
  auto it = site_.answers.find(address);
  if (it == site_.answers.end()) throw Exception("HTTP/1.1 403 Forbidden");
  text = it->second.body;
  if (it->second.fail) throw Exception("Connection Closed Gracefully.");
}

void ScriptedClient::SetHandleRedirects(bool value) {
  handle_redirects_ = value;
  site_.journal.push_back("redirects #" + std::to_string(id_) + (value ? " on" : " off"));
}

void ScriptedClient::SetRequestUserAgent(const std::string& value) {
  user_agent_ = value;
  site_.journal.push_back("agent #" + std::to_string(id_) + " " + value);
}

}  // namespace ah
