#pragma once
// What is particular to the photo site: its three site-specific values, the
// markers its pages carry and its sign-in form. A second site would be a
// profile and page scans of its own in this folder.

#include <string>
#include <string_view>

namespace ah {

class TStrings;

struct SiteProfile {
  // Scheme, "://" and host, no trailing slash.
  std::string SiteRoot;
  // " - " and the site's display name, as the site sends it (UTF-8).
  std::string TitleSuffix;
  // The image host's name followed by "/photo" (UTF-8).
  std::string ImageHostMarker;

  // Where the sign-in form is posted, below the site root.
  std::string SignInPath = "/login/";
  // Album page p is the album address followed by this and p.
  std::string PageQuery = "?page=";
  // The line of an album page that holds its title.
  std::string TitleMarker = "<title>";
  // A line of an album page that links a photo page, unless it also holds
  // the exclusion (a script handler that only shows the photo).
  std::string PhotoLinkMarker = "/#mainImageLink";
  std::string PhotoLinkExclusion = "); return";
  // On a photo page, the line after an image address that holds its title.
  std::string ImageTitleMarker = "title=";
};

// The built-in profile: the photo site Фотополка at fotopolka.example.
SiteProfile DefaultSiteProfile();

// Clears `form` and fills it with the site's sign-in form: the return
// address, login, domain, password and "remember", in that order. The
// values (UTF-8) go into the form in the code page, Windows-1251, as the
// site has always read its form ("?" for what the code page cannot hold).
void FillSignInForm(TStrings& form, std::string_view login, std::string_view domain,
                    std::string_view password);

}  // namespace ah
