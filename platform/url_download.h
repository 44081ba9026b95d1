#pragma once
// The URL download service: fetches one address into one file.

#include <string_view>

namespace ah {

// Fetches `address` (http or https only, also after redirects, which are
// followed) into `file_name` (Windows-1251). The body goes to an
// exclusively created temporary file in the target's folder that is
// renamed over the target only when the whole transfer succeeded, so a
// failure never leaves a partial or empty file and an existing file is
// either kept or replaced whole. A status of 400 or more, an empty body,
// any other scheme and every transport error give false. Never throws.
bool UrlDownloadToFile(std::string_view address, std::string_view file_name) noexcept;

}  // namespace ah
