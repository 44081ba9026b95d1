#pragma once
// Shared pieces of the wire tests: addresses of a scripted server, request
// heads as the client writes them, and replies as servers send them.

#include <string>
#include <vector>

#include "tests/support/scripted_server.h"

namespace ah::test {

inline const char kAgent[] = "User-Agent: Mozilla/3.0 (compatible; Orvane Library)";

inline std::string Url(const ScriptedServer& server, const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(server.Port()) + path;
}

inline std::string HostLine(const ScriptedServer& server) {
  return "Host: 127.0.0.1:" + std::to_string(server.Port());
}

// A request head: the lines, each with CR LF, then the empty line.
inline std::string Head(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  return text + "\r\n";
}

// One request answered with reply, then the server closes.
inline Script Answer(const std::string& reply) {
  return Script().ReadUntil("\r\n\r\n").Send(reply).Close();
}

inline std::string Reply(const std::string& status, const std::string& body,
                         const std::string& extra = "") {
  return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
         extra + "\r\n" + body;
}

}  // namespace ah::test
