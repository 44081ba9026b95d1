#pragma once
// The command line of http-get; HttpGetHelp() lists every flag.

#include <optional>
#include <string>
#include <vector>

namespace ah {

struct HttpGetOptions {
  std::string output_file;               // -o; empty or "-": standard output
  std::optional<int> read_timeout_ms;    // --timeout, given in seconds
  std::string proxy_host;                // --proxy, empty: direct
  int proxy_port = 0;
  std::optional<std::string> user_name;  // --user, split at the first ":"
  std::string password;
  int socks_version = 0;                 // 4, 40 (4A), 5; 0: no SOCKS proxy
  std::string socks_host;
  int socks_port = 0;
  std::optional<std::string> socks_user;  // --socks-user; the SOCKS 4 user id
  std::string socks_password;             // SOCKS 5 only
  std::string ca_file;                   // --cacert: trusted besides the system's
  bool insecure = false;                 // --insecure: no certificate checks
  std::vector<std::string> form_lines;   // one per --post-form, in order
  bool verbose = false;
  std::vector<std::string> urls;
};

// The parse result: options, or the one-line complaint to print, or a wish
// for the help text.
struct HttpGetArguments {
  HttpGetOptions options;
  std::string error;
  bool help = false;  // -h or --help
  bool ok() const { return error.empty(); }
};

HttpGetArguments ParseHttpGetArguments(const std::vector<std::string>& args);

// One line, for the end of a complaint.
const char* HttpGetUsage();
// The usage, each flag and the exit codes.
const char* HttpGetHelp();

}  // namespace ah
