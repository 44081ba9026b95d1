#include "scripted_client.h"

#include "framework/exception.h"
#include "framework/strings.h"
#include "http/exceptions.h"

namespace ah {

WindowClientFactory ScriptedSite::Factory() {
  return [this](TComponent&) -> IHTTPClient* { return new ScriptedClient(*this); };
}

ScriptedClient::ScriptedClient(ScriptedSite& site) : site_(site), index_(site.user_agents.size()) {
  ++site_.created;
  ++site_.alive;
  site_.user_agents.emplace_back();
  site_.follows_redirects.push_back(false);
}

ScriptedClient::~ScriptedClient() { --site_.alive; }

void ScriptedClient::GetText(const std::string& address, std::string& text) {
  site_.calls.push_back("GET " + address);
  posted_ = false;
  if (site_.on_get) site_.on_get(address);
  auto page = site_.pages.find(address);
  if (page == site_.pages.end()) throw EIdHTTPProtocolException(404, "HTTP/1.1 404 Not Found", "");
  text = page->second;
}

void ScriptedClient::PostFormText(const std::string& address, TStrings& lines, std::string& text) {
  std::string joined;
  for (int i = 0; i < lines.Count(); ++i) joined += (i ? "&" : "") + lines.Get(i);
  site_.calls.push_back("POST " + address + " " + joined);
  if (site_.on_post) site_.on_post();
  posted_ = true;
  text.clear();
}

void ScriptedClient::SetRequestUserAgent(const std::string& value) { site_.user_agents[index_] = value; }

}  // namespace ah
