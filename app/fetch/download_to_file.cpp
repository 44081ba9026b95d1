#include "app/fetch/download_to_file.h"

#include "app/fetch/url_download.h"

namespace ah {

bool DownloadToFile(std::string_view address, std::string_view file_name) noexcept {
  try {
    return UrlDownloadToFile(address, file_name);
  } catch (...) {
    return false;
  }
}

}  // namespace ah
