#include "app/site/site_profile.h"

namespace ah {

SiteProfile DefaultSiteProfile() {
  return SiteProfile{
      "http://fotopolka.example",
      " - \xD0\xA4\xD0\xBE\xD1\x82\xD0\xBE\xD0\xBF\xD0\xBE\xD0\xBB\xD0\xBA\xD0\xB0",  // " - Фотополка"
      "img.fotopolka.example/photo",
  };
}

}  // namespace ah
