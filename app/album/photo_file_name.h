#pragma once
// The name a photo's image file has in its album folder: its number, "_",
// the name its title gives (cut so that the whole stays a name the file
// system takes) and ".jpg".

#include <string>
#include <string_view>

namespace ah {

// `name` is the title's name for the disk (UTF-8).
std::string PhotoFileName(int number, std::string_view name);
// The title's part of such a file name: between the number's "_" and the
// extension.
std::string NameInFileName(std::string_view file_name);

}  // namespace ah
