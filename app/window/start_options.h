#pragma once
// What the window takes from its command line: the site profile overrides
// that point it at another site (the demo site). Without any of them the
// window is exactly the built-in one.

#include <optional>
#include <string>
#include <vector>

namespace ah {

struct StartOptions {
  std::optional<std::string> site_root;
  std::optional<std::string> title_suffix;
  std::optional<std::string> image_host_marker;
  bool help = false;
};

struct StartOptionsResult {
  StartOptions options;
  std::string error;  // empty when the arguments were understood
};

// `args` are the arguments after the program name, Qt's own already taken
// out. Each flag takes a value, as "--flag VALUE" or "--flag=VALUE".
StartOptionsResult ParseStartOptions(const std::vector<std::string>& args);

extern const char* const kStartUsage;

}  // namespace ah
