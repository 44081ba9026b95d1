#pragma once
// What the four harvest fields hold when the window opens; the command line
// takes the same values when a flag is left out.

#include <string>

#include "app/site/site_profile.h"

namespace ah {

struct FieldTexts {
  std::string login;     // Edit1
  std::string password;  // Edit2
  std::string domain;    // Edit3, begins with "@"
  std::string album;     // Edit4
};

// The album address is built on the profile's site root, so a window
// pointed at another site opens with an album address of that site.
FieldTexts DefaultFieldTexts(const SiteProfile& profile);

}  // namespace ah
