#include "tools/album-demo-site/form_fields.h"

#include <gtest/gtest.h>

namespace ah {
namespace {

TEST(FormDecode, DecodesPlusAndPercentEscapes) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"open+sesame", "open sesame"},
      {"%2Fusers%2Fdemo%2F", "/users/demo/"},
      {"mail%2Eexample", "mail.example"},
      {"%d0%9a", "\xD0\x9A"},
      {"100%", "100%"},
      {"%4", "%4"},
      {"%zz1", "%zz1"},
      {"a%2", "a%2"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormDecode(c.in), c.out) << "input: " << c.in;
}

TEST(ParseFormBody, ReadsTheHarvesterSignInBody) {
  auto fields = ParseFormBody(
      "return_url=%2Fusers%2Fdemo%2F&login=demo&domain=mail%2Eexample&password=open+sesame&"
      "remember=on&");
  EXPECT_EQ(fields.size(), 5u);
  EXPECT_EQ(fields["return_url"], "/users/demo/");
  EXPECT_EQ(fields["login"], "demo");
  EXPECT_EQ(fields["domain"], "mail.example");
  EXPECT_EQ(fields["password"], "open sesame");
  EXPECT_EQ(fields["remember"], "on");
}

TEST(ParseFormBody, SkipsEmptyPiecesAndKeepsTheFirstOfRepeatedNames) {
  auto fields = ParseFormBody("&&a=1&&a=2&flag&b=x=y&");
  EXPECT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields["a"], "1");
  EXPECT_EQ(fields["flag"], "");
  EXPECT_EQ(fields["b"], "x=y");
  EXPECT_TRUE(ParseFormBody("").empty());
}

TEST(CookieValue, FindsTheNamedCookie) {
  struct Case {
    std::string header, name, value;
  } cases[] = {
      {"ph_session=s1-ab", "ph_session", "s1-ab"},
      {"ph_lang=ru; ph_session=s2-cd", "ph_session", "s2-cd"},
      {"ph_session=s2-cd;ph_lang=ru", "ph_lang", "ru"},
      {"xph_session=1; ph_session_old=2", "ph_session", ""},
      {"", "ph_session", ""},
      {"ph_session", "ph_session", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CookieValue(c.header, c.name), c.value) << "header: " << c.header;
}

TEST(HttpDate, FormatsGmtInTheInternetForm) {
  EXPECT_EQ(HttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(HttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
}

TEST(ShellQuote, QuotesOnlyWhatTheShellWouldSplitOrExpand) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"http://127.0.0.1:8080/users/demo/", "http://127.0.0.1:8080/users/demo/"},
      {"open sesame", "'open sesame'"},
      {" - Фотокадр", "' - Фотокадр'"},
      {"it's", "'it'\\''s'"},
      {"", "''"},
      {"a$b", "'a$b'"},
  };
  for (const auto& c : cases) EXPECT_EQ(ShellQuote(c.in), c.out) << "input: " << c.in;
}

}  // namespace
}  // namespace ah
