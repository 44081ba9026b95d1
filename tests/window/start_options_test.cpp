#include <gtest/gtest.h>

#include "app/window/start_options.h"

#include "app/site/site_profile.h"

namespace ah {
namespace {

std::string Join(const std::vector<std::string>& args) {
  std::string s;
  for (const auto& a : args) s += "[" + a + "]";
  return s;
}

TEST(StartOptions, NoArgumentsChangeNothing) {
  StartOptionsResult r = ParseStartOptions({});
  EXPECT_EQ(r.error, "");
  EXPECT_FALSE(r.options.site_root);
  EXPECT_FALSE(r.options.title_suffix);
  EXPECT_FALSE(r.options.image_host_marker);
  EXPECT_FALSE(r.options.help);
}

TEST(StartOptions, TakesEachFlagWithASeparateOrJoinedValue) {
  const std::vector<std::string> forms[] = {
      {"--site-root", "http://127.0.0.1:8080", "--title-suffix", " - Фото",
       "--image-host-marker", "127.0.0.1:8081/photo"},
      {"--site-root=http://127.0.0.1:8080", "--title-suffix= - Фото",
       "--image-host-marker=127.0.0.1:8081/photo"},
  };
  for (const auto& args : forms) {
    StartOptionsResult r = ParseStartOptions(args);
    SCOPED_TRACE(Join(args));
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.options.site_root.value_or("-"), "http://127.0.0.1:8080");
    EXPECT_EQ(r.options.title_suffix.value_or("-"), " - Фото");
    EXPECT_EQ(r.options.image_host_marker.value_or("-"), "127.0.0.1:8081/photo");
  }
}

TEST(StartOptions, AnEmptyValueIsAValue) {
  StartOptionsResult r = ParseStartOptions({"--title-suffix="});
  EXPECT_EQ(r.error, "");
  ASSERT_TRUE(r.options.title_suffix);
  EXPECT_EQ(*r.options.title_suffix, "");
}

TEST(StartOptions, LeavesOtherArgumentsInTheirOrder) {
  StartOptionsResult r =
      ParseStartOptions({"-platform", "offscreen", "--site-root", "http://a", "--album", "x", "--site-rootx=1"});
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(Join(r.rest), "[-platform][offscreen][--album][x][--site-rootx=1]");
  EXPECT_EQ(r.options.site_root.value_or("-"), "http://a");
}

TEST(StartOptions, AFlagWithoutItsValueIsAnError) {
  EXPECT_EQ(ParseStartOptions({"--site-root"}).error, "--site-root needs a value");
  EXPECT_EQ(ParseStartOptions({"--title-suffix", "a", "--image-host-marker"}).error,
            "--image-host-marker needs a value");
  EXPECT_TRUE(ParseStartOptions({"--help"}).options.help);
}

TEST(StartOptions, TakingThemOutOfArgvLeavesQtItsOwn) {
  std::string words[] = {"album-harvester", "-platform", "offscreen", "--site-root=http://127.0.0.1:1",
                         "--image-host-marker", "127.0.0.1:2/photo", "-reverse"};
  char* argv[8];
  for (int i = 0; i < 7; ++i) argv[i] = words[i].data();
  argv[7] = nullptr;
  int argc = 7;
  SiteProfile profile = DefaultSiteProfile();
  EXPECT_FALSE(TakeStartOptions(argc, argv, profile));
  ASSERT_EQ(argc, 4);
  EXPECT_STREQ(argv[0], "album-harvester");
  EXPECT_STREQ(argv[1], "-platform");
  EXPECT_STREQ(argv[2], "offscreen");
  EXPECT_STREQ(argv[3], "-reverse");
  EXPECT_EQ(argv[4], nullptr);
  EXPECT_EQ(profile.SiteRoot, "http://127.0.0.1:1");
  EXPECT_EQ(profile.ImageHostMarker, "127.0.0.1:2/photo");
  EXPECT_EQ(profile.TitleSuffix, DefaultSiteProfile().TitleSuffix);
}

TEST(StartOptions, TheTitleSuffixAndTheMarkerStayAsTyped) {
  SiteProfile profile = DefaultSiteProfile();
  StartOptions o;
  o.title_suffix = " - \xD0\xA4\xD0\xBE\xD1\x82\xD0\xBE";  // " - Фото"
  o.image_host_marker = "\xD1\x84.example/photo";                // "ф.example/photo"
  ApplyStartOptions(o, profile);
  EXPECT_EQ(profile.TitleSuffix, " - \xD0\xA4\xD0\xBE\xD1\x82\xD0\xBE");
  EXPECT_EQ(profile.ImageHostMarker, "\xD1\x84.example/photo");
  EXPECT_EQ(profile.SiteRoot, DefaultSiteProfile().SiteRoot);
}

}  // namespace
}  // namespace ah
