#pragma once
// The command line of http-get:
//   http-get [-o FILE] [--timeout MS] [--proxy HOST:PORT] [--user NAME:PASSWORD]
//            [--post-form NAME=VALUE ...] [-v] URL [URL ...]

#include <optional>
#include <string>
#include <vector>

namespace ah {

struct HttpGetOptions {
  std::string output_file;               // empty: standard output
  std::optional<int> read_timeout_ms;    // --timeout
  std::string proxy_host;                // --proxy, empty: direct
  int proxy_port = 0;
  std::optional<std::string> user_name;  // --user, split at the first ":"
  std::string password;
  std::vector<std::string> form_lines;   // one per --post-form, in order
  bool verbose = false;
  std::vector<std::string> urls;
};

// The parse result: options, or the one-line complaint to print.
struct HttpGetArguments {
  HttpGetOptions options;
  std::string error;
  bool ok() const { return error.empty(); }
};

HttpGetArguments ParseHttpGetArguments(const std::vector<std::string>& args);

const char* HttpGetUsage();

}  // namespace ah
