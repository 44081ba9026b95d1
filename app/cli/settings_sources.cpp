#include "app/cli/settings_sources.h"

#include <algorithm>
#include <istream>
#include <iterator>

#include "app/cli/album_list.h"
#include "app/cli/config_file.h"
#include "app/cli/netrc.h"
#include "app/cli/private_file.h"
#include "http/uri_resolution.h"

namespace ah {

namespace {

using Problem = std::optional<SettingsProblem>;

constexpr size_t kLargestInputFile = 64 << 20;
constexpr size_t kLargestSecretFile = 1 << 20;

Problem Fault(std::string line) { return SettingsProblem{std::move(line)}; }

// The host of a site root, as netrc names it: no scheme, login, port or
// IPv6 brackets.
std::string HostOf(std::string_view root) {
  const std::optional<WebOrigin> origin = WebOriginOf(root);
  return origin ? origin->host : std::string();
}

Problem ReadConfig(const HarvestCommandLine& line, const HarvestEnvironment& env,
                   HarvestCommandLine& config) {
  if (line.no_config) return std::nullopt;
  std::optional<std::string> path = line.config_file;
  if (!path) path = DefaultConfigFile(env.config_home, env.home);
  if (!path) return std::nullopt;
  std::string error = ReadConfigFile(*path, line.config_file.has_value(), config);
  return error.empty() ? std::nullopt : Fault(error);
}

Problem AddListedAlbums(HarvestCommandLine& line, const HarvestEnvironment& env) {
  for (const std::string& name : line.input_files) {
    std::string text, error;
    if (name == "-" && env.input) {
      text.assign(std::istreambuf_iterator<char>(*env.input), {});
    } else if (name == "-") {
      return Fault("--input-file -: there is no standard input");
    } else if (std::optional<FileText> file = ReadFileText(name, kLargestInputFile, error)) {
      text = std::move(file->bytes);
    } else {
      return Fault(error);
    }
    for (ListedAlbum& album : ReadAlbumList(text)) {
      if (!IsAlbumAddress(album.address))
        return Fault(name + " line " + std::to_string(album.line) +
                     ": the album address must begin with http:// or https://");
      line.albums.push_back(std::move(album.address));
    }
  }
  KeepFirstOfEach(line.albums);
  if (line.albums.empty()) return SettingsProblem{"the album address is required", true};
  return std::nullopt;
}

// The login and mail domain the netrc entry of the site gives, and its
// password in `password`.
Problem ReadNetrcFile(HarvestCommandLine& line, const HarvestEnvironment& env,
                      const HarvestCommandLine& config, std::optional<std::string>& password) {
  if (!line.netrc && !line.netrc_file) return std::nullopt;
  if (!line.netrc_file && env.home.empty()) return Fault("--netrc: there is no home folder");
  const std::string path = line.netrc_file ? *line.netrc_file : env.home + "/.netrc";
  std::string error;
  std::optional<FileText> file = ReadFileText(path, kLargestSecretFile, error);
  if (!file) return Fault(error);
  const std::vector<NetrcEntry> entries = ReadNetrc(file->bytes);
  const bool holds_password = std::any_of(entries.begin(), entries.end(),
                                          [](const NetrcEntry& e) { return e.password; });
  if (holds_password && file->open_to_others) return Fault(OpenToOthersError(path));
  HarvestCommandLine site = line;
  FillMissingSettings(site, config);
  const NetrcEntry* entry = FindNetrcEntry(entries, HostOf(SiteRootFor(site)), line.login);
  if (!entry) return std::nullopt;
  if (entry->login) {
    // "name@domain" is the login and the mail domain of the sign-in form.
    const size_t at = entry->login->rfind('@');
    if (!line.login) line.login = entry->login->substr(0, at);
    if (!line.domain && at != std::string::npos) line.domain = entry->login->substr(at + 1);
  }
  password = entry->password;
  return std::nullopt;
}

// The first line of the file, without its line end.
Problem ReadPasswordFile(const std::string& path, std::optional<std::string>& password) {
  std::string error;
  std::optional<FileText> file = ReadFileText(path, kLargestSecretFile, error);
  if (!file) return Fault(error);
  if (file->open_to_others) return Fault(OpenToOthersError(path));
  std::string first = file->bytes.substr(0, file->bytes.find('\n'));
  if (first.ends_with('\r')) first.pop_back();
  password = std::move(first);
  return std::nullopt;
}

Problem FillPassword(HarvestCommandLine& line, const HarvestEnvironment& env,
                     const HarvestCommandLine& config, std::optional<std::string> netrc_password) {
  if (line.password) return std::nullopt;
  if (line.password_file) return ReadPasswordFile(*line.password_file, line.password);
  if (line.ask_password) {
    const std::optional<std::string>& login = line.login ? line.login : config.login;
    if (env.ask_password)
      line.password = env.ask_password(login ? "Password for " + *login + ": " : "Password: ");
    if (line.password) return std::nullopt;
    return Fault("--ask-password: no password was read from a terminal");
  }
  if (env.password) line.password = env.password;
  else line.password = std::move(netrc_password);
  return std::nullopt;
}

}  // namespace

std::optional<SettingsProblem> CompleteHarvestCommandLine(HarvestCommandLine& line,
                                                          const HarvestEnvironment& env) {
  HarvestCommandLine config;
  std::optional<std::string> netrc_password;
  Problem problem = ReadConfig(line, env, config);
  if (!problem) problem = AddListedAlbums(line, env);
  if (!problem) problem = ReadNetrcFile(line, env, config, netrc_password);
  if (!problem) problem = FillPassword(line, env, config, std::move(netrc_password));
  if (!problem) FillMissingSettings(line, config);
  return problem;
}

}  // namespace ah
