#include "app/window/start_options.h"

#include <string_view>

namespace ah {

const char* const kStartUsage =
    "usage: album-harvester [--site-root URL] [--title-suffix TEXT] [--image-host-marker TEXT]\n";

StartOptionsResult ParseStartOptions(const std::vector<std::string>& args) {
  StartOptionsResult result;
  StartOptions& o = result.options;
  struct Flag {
    std::string_view name;
    std::optional<std::string>* value;
  };
  const Flag flags[] = {
      {"--site-root", &o.site_root},
      {"--title-suffix", &o.title_suffix},
      {"--image-host-marker", &o.image_host_marker},
  };
  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (arg == "--help" || arg == "-h") {
      o.help = true;
      continue;
    }
    const Flag* match = nullptr;
    std::optional<std::string> inline_value;
    for (const Flag& f : flags) {
      if (arg == f.name) {
        match = &f;
      } else if (arg.size() > f.name.size() && arg.substr(0, f.name.size()) == f.name &&
                 arg[f.name.size()] == '=') {
        match = &f;
        inline_value = std::string(arg.substr(f.name.size() + 1));
      }
      if (match) break;
    }
    if (!match) {
      result.error = "unknown argument: " + std::string(arg);
      return result;
    }
    if (!inline_value) {
      if (i + 1 >= args.size()) {
        result.error = std::string(match->name) + " needs a value";
        return result;
      }
      inline_value = args[++i];
    }
    *match->value = std::move(*inline_value);
  }
  return result;
}

}  // namespace ah
