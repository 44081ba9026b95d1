#include "app/cli/settings_sources.h"

#include <istream>
#include <iterator>

#include "app/cli/album_list.h"
#include "app/cli/private_file.h"

namespace ah {

namespace {

using Problem = std::optional<SettingsProblem>;

constexpr size_t kLargestInputFile = 64 << 20;

Problem Fault(std::string line) { return SettingsProblem{std::move(line)}; }

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

}  // namespace

std::optional<SettingsProblem> CompleteHarvestCommandLine(HarvestCommandLine& line,
                                                          const HarvestEnvironment& env) {
  Problem problem = AddListedAlbums(line, env);
  if (!problem && !line.password && env.password) line.password = env.password;
  return problem;
}

}  // namespace ah
