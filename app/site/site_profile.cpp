#include "app/site/site_profile.h"

#include "framework/strings.h"
#include "platform/code_page.h"

namespace ah {

SiteProfile DefaultSiteProfile() {
  return SiteProfile{
      "http://fotopolka.example",
      " - \xD0\xA4\xD0\xBE\xD1\x82\xD0\xBE\xD0\xBF\xD0\xBE\xD0\xBB\xD0\xBA\xD0\xB0",  // " - Фотополка"
      "img.fotopolka.example/photo",
  };
}

void FillSignInForm(TStrings& form, std::string_view login, std::string_view domain,
                    std::string_view password) {
  form.Clear();
  const std::string user = Utf8ToAnsi(login);
  form.Add("return_url=/users/" + user + "/");
  form.Add("login=" + user);
  form.Add("domain=" + Utf8ToAnsi(domain));
  form.Add("password=" + Utf8ToAnsi(password));
  form.Add("remember=on");
}

}  // namespace ah
