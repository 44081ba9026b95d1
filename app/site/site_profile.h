#pragma once
// The three site-specific values of the harvest run.

#include <string>

namespace ah {

struct SiteProfile {
  // Scheme, "://" and host, no trailing slash.
  std::string SiteRoot;
  // " - " and the site's display name, in the bytes the site sends (UTF-8):
  // it is matched against title lines before any conversion.
  std::string TitleSuffix;
  // The image host's name followed by "/photo".
  std::string ImageHostMarker;
};

// The built-in profile: the photo site Фотополка at fotopolka.example.
SiteProfile DefaultSiteProfile();

}  // namespace ah
