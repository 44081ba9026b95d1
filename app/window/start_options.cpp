#include "app/window/start_options.h"

#include <cstdio>
#include <string_view>

#include "app/site/site_profile.h"

namespace ah {

const char* const kStartUsage =
    "usage: album-harvester [--site-root URL] [--title-suffix TEXT] [--image-host-marker TEXT]\n";

namespace {

int UsageError(const std::string& error) {
  std::fprintf(stderr, "album-harvester: %s\n%s", error.c_str(), kStartUsage);
  return 2;
}

}  // namespace

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
    std::optional<std::string> joined_value;
    for (const Flag& f : flags) {
      if (arg == f.name) {
        match = &f;
      } else if (arg.size() > f.name.size() && arg.substr(0, f.name.size()) == f.name &&
                 arg[f.name.size()] == '=') {
        match = &f;
        joined_value = std::string(arg.substr(f.name.size() + 1));
      }
      if (match) break;
    }
    if (!match) {
      result.rest.emplace_back(arg);
      continue;
    }
    if (!joined_value) {
      if (i + 1 >= args.size()) {
        result.error = std::string(match->name) + " needs a value";
        return result;
      }
      joined_value = args[++i];
    }
    *match->value = std::move(*joined_value);
  }
  return result;
}

void ApplyStartOptions(const StartOptions& options, SiteProfile& profile) {
  if (options.site_root) profile.SiteRoot = *options.site_root;
  if (options.title_suffix) profile.TitleSuffix = *options.title_suffix;
  if (options.image_host_marker) profile.ImageHostMarker = *options.image_host_marker;
}

std::optional<int> TakeStartOptions(int& argc, char** argv, SiteProfile& profile) {
  if (argc < 1) return std::nullopt;
  StartOptionsResult read = ParseStartOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!read.error.empty()) return UsageError(read.error);
  if (read.options.help) {
    std::fputs(kStartUsage, stdout);
    return 0;
  }
  ApplyStartOptions(read.options, profile);
  // Keep what is left in its order, pointing at the original strings.
  int kept = 1;
  for (int i = 1; i < argc && kept <= int(read.rest.size()); ++i) {
    if (read.rest[size_t(kept - 1)] == argv[i]) argv[kept++] = argv[i];
  }
  argc = kept;
  argv[argc] = nullptr;
  return std::nullopt;
}

std::optional<int> RejectLeftoverArguments(int argc, char** argv) {
  if (argc > 1) return UsageError(std::string("unknown argument: ") + argv[1]);
  return std::nullopt;
}

}  // namespace ah
