#pragma once
// An IHTTPClient over cpp-httplib for end-to-end runs against the demo site
// before the project's own client takes its place: GET and form POST with a
// cookie jar, redirects followed (a POST is sent again as a POST, as the
// component does), form values encoded as the component encodes them.
// Plain http to 127.0.0.1 only.

#include <map>
#include <memory>
#include <string>

#include "http/http_client_interface.h"

namespace httplib {
class Client;
}

namespace ah {

class LoopbackClient : public IHTTPClient {
 public:
  LoopbackClient();
  ~LoopbackClient() override;

  void GetText(const std::string& address, std::string& text) override;
  void PostFormText(const std::string& address, TStrings& lines, std::string& text) override;
  bool HandleRedirects() const override { return handle_redirects_; }
  void SetHandleRedirects(bool value) override { handle_redirects_ = value; }
  void SetRequestUserAgent(const std::string& value) override { user_agent_ = value; }

 private:
  // Throws ah::Exception on a connection failure or an unaccepted status.
  std::string Request(bool post, std::string address, const std::string& body);

  bool handle_redirects_ = false;
  std::string user_agent_;
  std::map<std::string, std::string> cookies_;  // name -> value
  std::map<std::string, std::unique_ptr<httplib::Client>> connections_;  // by "host:port"
};

}  // namespace ah
