#include <gtest/gtest.h>

#include "app/window/start_options.h"

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

TEST(StartOptions, RejectsWhatItDoesNotKnow) {
  const struct {
    std::vector<std::string> args;
    const char* error;
  } rows[] = {
      {{"--album", "x"}, "unknown argument: --album"},
      {{"--site-rootx=1"}, "unknown argument: --site-rootx=1"},
      {{"--site-root"}, "--site-root needs a value"},
      {{"stray"}, "unknown argument: stray"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ParseStartOptions(row.args).error, row.error) << Join(row.args);
  }
  EXPECT_TRUE(ParseStartOptions({"--help"}).options.help);
}

}  // namespace
}  // namespace ah
