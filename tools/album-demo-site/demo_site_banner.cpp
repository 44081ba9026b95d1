// What album-demo-site prints as it starts: where it listens and how to
// harvest it.

#include "tools/album-demo-site/demo_site.h"
#include "tools/album-demo-site/form_fields.h"

namespace ah {

std::string DemoSite::HarvestCommand(std::string_view program) const {
  const DemoSiteOptions& o = Options();
  const std::vector<std::string> urls = AlbumUrls();
  // One album keeps the --album form that scripts know.
  std::string command = ShellQuote(program);
  if (urls.size() == 1) command += " --album " + ShellQuote(urls.front());
  command += " --login " + ShellQuote(o.login) + " --password " + ShellQuote(o.password) +
             " --domain " + ShellQuote(o.domain) + " --site-root " + ShellQuote(SiteRoot()) +
             " --title-suffix " + ShellQuote(TitleSuffix()) + " --image-host-marker " +
             ShellQuote(ImageHostMarker());
  for (size_t i = 0; urls.size() > 1 && i < urls.size(); ++i) command += " " + ShellQuote(urls[i]);
  return command;
}

std::string DemoSite::Banner() const {
  std::string banner = "SITE_ROOT=" + ShellQuote(SiteRoot()) + " TITLE_SUFFIX=" +
                       ShellQuote(TitleSuffix()) + " IMAGE_HOST_MARKER=" +
                       ShellQuote(ImageHostMarker()) + " ALBUM_URL=" + ShellQuote(AlbumUrl()) +
                       " STATS_URL=" + ShellQuote(SiteRoot() + "/__stats");
  const std::vector<std::string> urls = AlbumUrls();
  if (urls.size() == 1) return banner;
  std::string all;
  for (const std::string& url : urls) all += (all.empty() ? "" : " ") + url;
  return banner + " ALBUM_URLS=" + ShellQuote(all);
}

}  // namespace ah
