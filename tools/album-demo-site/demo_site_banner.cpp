// What album-demo-site prints as it starts: where it listens and how to
// harvest it.

#include "tools/album-demo-site/demo_site.h"
#include "tools/album-demo-site/form_fields.h"

namespace ah {

std::string DemoSite::HarvestCommand(std::string_view program) const {
  const DemoSiteOptions& o = Options();
  return ShellQuote(program) + " --album " + ShellQuote(AlbumUrl()) + " --login " +
         ShellQuote(o.login) + " --password " + ShellQuote(o.password) + " --domain " +
         ShellQuote(o.domain) + " --site-root " + ShellQuote(SiteRoot()) + " --title-suffix " +
         ShellQuote(TitleSuffix()) + " --image-host-marker " + ShellQuote(ImageHostMarker());
}

std::string DemoSite::Banner() const {
  return "SITE_ROOT=" + ShellQuote(SiteRoot()) + " TITLE_SUFFIX=" + ShellQuote(TitleSuffix()) +
         " IMAGE_HOST_MARKER=" + ShellQuote(ImageHostMarker()) + " ALBUM_URL=" +
         ShellQuote(AlbumUrl()) + " STATS_URL=" + ShellQuote(SiteRoot() + "/__stats");
}

}  // namespace ah
