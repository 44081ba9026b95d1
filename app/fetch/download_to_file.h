#pragma once

#include <string_view>

namespace ah {

// Saves one image address to a file (Windows-1251 name) through the URL
// download service; true on success. No failure gets out.
bool DownloadToFile(std::string_view address, std::string_view file_name) noexcept;

}  // namespace ah
