// The command line's readers of text the user gives: the arguments, with
// every password among them hidden in the argument list, a netrc file and
// an input file of album addresses. Whatever they hold, hiding rewrites
// nothing but the passwords, a netrc entry found is one of the file's, and
// every listed address is a trimmed line that is no comment.
//
// Input: the arguments, as parts; the whole input is also read as a netrc
// file and as an album list.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/album_list.h"
#include "app/cli/harvest_command_line.h"
#include "app/cli/hidden_arguments.h"
#include "app/cli/netrc.h"
#include "tests/support/fuzz_check.h"

namespace {

using namespace ah;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

void CheckFiles(std::string_view text) {
  const std::vector<NetrcEntry> entries = ReadNetrc(text);
  if (const NetrcEntry* entry = FindNetrcEntry(entries, "h.example", std::nullopt))
    AH_FUZZ_CHECK(entry >= entries.data() && entry < entries.data() + entries.size());
  int line = 0;
  for (const ListedAlbum& album : ReadAlbumList(text)) {
    const std::string& a = album.address;
    AH_FUZZ_CHECK(album.line > line && !a.empty() && a[0] != '#');
    AH_FUZZ_CHECK(a.find('\n') == std::string::npos && !IsBlank(a.front()) && !IsBlank(a.back()));
    line = album.line;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckFiles(std::string_view(reinterpret_cast<const char*>(data), size));
  fuzz::InputParts input(data, size);
  std::vector<std::string> args;
  while (!input.Empty()) args.emplace_back(input.Next());
  // A real argument list holds no NUL inside an argument.
  for (std::string& arg : args) std::replace(arg.begin(), arg.end(), '\0', ' ');
  const HarvestCommandParse parsed = ParseHarvestCommandLine(args);

  std::string block("album-harvest", 14);
  for (const std::string& arg : args) block += arg + '\0';
  std::vector<char*> argv = {block.data()};
  for (size_t i = 0, at = 14; i < args.size(); at += args[i++].size() + 1)
    argv.push_back(block.data() + at);
  const size_t length = block.size();
  std::vector<size_t> offsets(args.size(), std::string::npos);
  for (const SecretArgument& secret : parsed.secrets) {
    AH_FUZZ_CHECK(secret.index < args.size() && secret.offset <= args[secret.index].size());
    offsets[secret.index] = secret.offset;
    HideArgument(int(argv.size()), argv.data(), int(secret.index) + 1, secret.offset);
  }
  AH_FUZZ_CHECK(block.size() == length);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string shown = argv[i + 1];
    if (offsets[i] == std::string::npos) {
      AH_FUZZ_CHECK(shown == args[i]);
      continue;
    }
    const size_t kept = offsets[i], hidden = args[i].size() - kept;
    AH_FUZZ_CHECK(shown.compare(0, kept, args[i], 0, kept) == 0);
    AH_FUZZ_CHECK(shown.size() - kept == std::min<size_t>(hidden, 3));
    AH_FUZZ_CHECK(shown.find_first_not_of('*', kept) == std::string::npos);
  }
  return 0;
}
