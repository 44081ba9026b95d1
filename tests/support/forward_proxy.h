#pragma once
// A plain HTTP forward proxy on 127.0.0.1 (cpp-httplib both ways): takes
// requests in absolute form and passes them on to 127.0.0.1 only, answers
// with what the origin said, and remembers every address it was asked for.
//
// Header-only, so only the suites that use it link cpp-httplib.

#include <httplib.h>

#include <mutex>
#include <string>
#include <vector>

#include "tests/support/local_http_server.h"

namespace ah::test {

class ForwardProxy {
 public:
  ForwardProxy() {
    auto handler = [this](const httplib::Request& req, httplib::Response& res) { Forward(req, res); };
    server_.server().Get(".*", handler);
    server_.server().Post(".*", handler);
  }

  void Start() { server_.Start(); }
  int port() const { return server_.port(); }
  std::vector<std::string> Targets() {
    std::lock_guard<std::mutex> lock(mutex_);
    return targets_;
  }

 private:
  void Forward(const httplib::Request& req, httplib::Response& res) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      targets_.push_back(req.method + " " + req.target);
    }
    const std::string prefix = "http://127.0.0.1:";
    if (req.target.rfind(prefix, 0) != 0) {
      res.status = 403;  // not a request in absolute form, or not for this machine
      return;
    }
    std::string rest = req.target.substr(prefix.size());
    size_t slash = rest.find('/');
    int port = std::stoi(rest.substr(0, slash));
    std::string path = slash == std::string::npos ? "/" : rest.substr(slash);
    httplib::Client origin("127.0.0.1", port);
    httplib::Headers headers;
    for (const char* name : {"Cookie", "User-Agent", "Accept"})
      if (req.has_header(name)) headers.emplace(name, req.get_header_value(name));
    auto reply = req.method == "POST"
                     ? origin.Post(path, headers, req.body, req.get_header_value("Content-Type"))
                     : origin.Get(path, headers);
    if (!reply) {
      res.status = 502;
      return;
    }
    res.status = reply->status;
    for (const auto& [name, value] : reply->headers)
      if (name == "Set-Cookie" || name == "Location" || name == "Retry-After") res.headers.emplace(name, value);
    res.set_content(reply->body, reply->get_header_value("Content-Type"));
  }

  LocalHttpServer server_;
  std::mutex mutex_;
  std::vector<std::string> targets_;
};

}  // namespace ah::test
