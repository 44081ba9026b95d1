#include "app/site/default_fields.h"

namespace ah {

FieldTexts DefaultFieldTexts(const SiteProfile& profile) {
  return FieldTexts{
      "lisichka",
      "lapki5lisa!",
      "@fotopolka.example",
      profile.SiteRoot + "/users/lisichka/1044/",
  };
}

}  // namespace ah
