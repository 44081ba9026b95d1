#include "app/album/photo_file_name.h"

#include "framework/sysutils.h"
#include "platform/files.h"

namespace ah {
namespace {

constexpr std::string_view kImageFileExtension = ".jpg";

}  // namespace

std::string PhotoFileName(int number, std::string_view name) {
  const std::string prefix = IntToStr(number) + "_";
  return prefix + FitName(name, kLongestMadeName - prefix.size() - kImageFileExtension.size()) +
         std::string(kImageFileExtension);
}

std::string NameInFileName(std::string_view file_name) {
  file_name.remove_prefix(file_name.find('_') + 1);
  if (file_name.ends_with(kImageFileExtension)) file_name.remove_suffix(kImageFileExtension.size());
  return std::string(file_name);
}

}  // namespace ah
