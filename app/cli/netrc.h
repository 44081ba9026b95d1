#pragma once
// The netrc file of curl, wget and ftp: "machine HOST login NAME password
// SECRET" entries, and a "default" entry for every other host.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ah {

struct NetrcEntry {
  std::string machine;
  bool any_machine = false;  // the default entry
  std::optional<std::string> login;
  std::optional<std::string> password;
};

// The entries of a netrc file's text. Tokens are split by spaces, tabs and
// line ends; a token in double quotes may hold them, with \" \\ \n \r \t.
// A "macdef" macro (to the next empty line) and "account" are skipped.
std::vector<NetrcEntry> ReadNetrc(std::string_view text);

// The entry that gives the credentials for `host`: the first one of that
// machine (in any letter case) whose login (its name before any "@") is `login`, or the first
// one of that machine when no login is given; else the default entry. Null
// when none fits.
const NetrcEntry* FindNetrcEntry(const std::vector<NetrcEntry>& entries, std::string_view host,
                                 const std::optional<std::string>& login);

}  // namespace ah
