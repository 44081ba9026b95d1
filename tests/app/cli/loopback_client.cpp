#include "tests/app/cli/loopback_client.h"

#include <httplib.h>

#include "framework/exception.h"
#include "framework/strings.h"
#include "http/uri.h"

namespace ah {

LoopbackClient::LoopbackClient() = default;
LoopbackClient::~LoopbackClient() = default;

void LoopbackClient::GetText(const std::string& address, std::string& text) {
  text = Request(false, address, "");
}

void LoopbackClient::PostFormText(const std::string& address, TStrings& lines, std::string& text) {
  std::string body;
  for (int i = 0; i < lines.Count(); ++i) {
    std::string line = lines.Get(i);
    size_t eq = line.find('=');
    if (eq != std::string::npos)
      line = line.substr(0, eq + 1) + TIdURI::EncodeFormValue(line.substr(eq + 1));
    body += line + "&";
  }
  text = Request(true, address, body);
}

std::string LoopbackClient::Request(bool post, std::string address, const std::string& body) {
  for (int hop = 0; hop <= 15; ++hop) {
    if (!address.starts_with("http://")) throw Exception("unsupported address: " + address);
    size_t slash = address.find('/', 7);
    std::string authority = address.substr(7, slash == std::string::npos ? slash : slash - 7);
    std::string target = slash == std::string::npos ? "/" : address.substr(slash);
    target = target.substr(0, target.find('#'));
    size_t colon = authority.find(':');
    std::string host = authority.substr(0, colon);
    int port = colon == std::string::npos ? 80 : std::stoi(authority.substr(colon + 1));

    auto& connection = connections_[authority];
    if (!connection) {
      connection = std::make_unique<httplib::Client>(host, port);
      connection->set_keep_alive(true);
    }
    httplib::Headers headers;
    if (!user_agent_.empty()) headers.emplace("User-Agent", user_agent_);
    std::string cookie;
    for (const auto& [name, value] : cookies_)
      cookie += (cookie.empty() ? "" : "; ") + name + "=" + value;
    if (!cookie.empty()) headers.emplace("Cookie", cookie);

    auto res = post ? connection->Post(target.c_str(), headers, body,
                                       "application/x-www-form-urlencoded")
                    : connection->Get(target.c_str(), headers);
    if (!res) throw Exception("connection to " + authority + " failed");
    auto [from, to] = res->headers.equal_range("Set-Cookie");
    for (auto it = from; it != to; ++it) {
      std::string pair = it->second.substr(0, it->second.find(';'));
      size_t eq = pair.find('=');
      if (eq != std::string::npos) cookies_[pair.substr(0, eq)] = pair.substr(eq + 1);
    }
    if (res->status >= 300 && res->status < 400 && res->has_header("Location") &&
        handle_redirects_) {
      std::string location = res->get_header_value("Location");
      address = location.starts_with("http://") ? location : "http://" + authority + location;
      continue;
    }
    if (res->status < 200 || res->status >= 300)
      throw Exception("HTTP/1.1 " + std::to_string(res->status));
    return res->body;
  }
  throw Exception("Too many redirects");
}

}  // namespace ah
