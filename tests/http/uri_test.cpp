#include "http/uri.h"
#include "http/uri_resolution.h"

#include <gtest/gtest.h>

namespace ah {
namespace {

struct Split {
  std::string input;
  std::string protocol, username, password, host, port, path, document, params, bookmark;
};

TEST(URI, SplitsAddressesIntoComponents) {
  const Split cases[] = {
      {"proto://u:pw@h:8080/dir/sub/page.html?x=1&y=2#frag", "proto", "u", "pw", "h", "8080",
       "/dir/sub/", "page.html", "?x=1&y=2", "frag"},
      {"proto://h", "proto", "", "", "h", "", "/", "", "", ""},
      {"proto://h/", "proto", "", "", "h", "", "/", "", "", ""},
      {"proto://h:80", "proto", "", "", "h", "80", "/", "", "", ""},
      {"proto://h/dir?x=/y", "proto", "", "", "h", "", "/", "dir", "?x=/y", ""},
      {"proto://h/a=b/d", "proto", "", "", "h", "", "/", "a", "=b/d", ""},
      {"proto://u@h/", "proto", "u", "", "h", "", "/", "", "", ""},
      {"proto://:pw@h/", "proto", "", "", "h", "", "/", "", "", ""},
      {"proto://u:p:q@h/", "proto", "u", "p:q", "h", "", "/", "", "", ""},
      {"proto://h/p.html#top", "proto", "", "", "h", "", "/", "p.html", "", "top"},
      {"proto://h/p.html?q#top", "proto", "", "", "h", "", "/", "p.html", "?q", "top"},
      {"proto:\\\\h\\dir\\file", "proto", "", "", "h", "", "/dir/", "file", "", ""},
      {"http://h/a/b/?x=1", "http", "", "", "h", "", "/a/b/", "", "?x=1", ""},
      {"/a/b.html?x", "", "", "", "", "", "/a/", "b.html", "?x", ""},
      {"page.html", "", "", "", "", "", "", "page.html", "", ""},
      {"a/b", "", "", "", "", "", "a/", "b", "", ""},
      {"rel/p.html#top", "", "", "", "", "", "rel/", "p.html#top", "", ""},
      {"rel/p.html?q#top", "", "", "", "", "", "rel/", "p.html", "?q", "top"},
      {"", "", "", "", "", "", "", "", "", ""},
  };
  for (const auto& c : cases) {
    TIdURI uri(c.input);
    SCOPED_TRACE("input: " + c.input);
    EXPECT_EQ(uri.Protocol(), c.protocol);
    EXPECT_EQ(uri.Username(), c.username);
    EXPECT_EQ(uri.Password(), c.password);
    EXPECT_EQ(uri.Host(), c.host);
    EXPECT_EQ(uri.Port(), c.port);
    EXPECT_EQ(uri.Path(), c.path);
    EXPECT_EQ(uri.Document(), c.document);
    EXPECT_EQ(uri.Params(), c.params);
    EXPECT_EQ(uri.Bookmark(), c.bookmark);
  }
}

TEST(URI, ParsingAgainClearsEveryComponent) {
  TIdURI uri("proto://u:pw@h:1/d/x?y#z");
  uri.ParseURI("rel");
  EXPECT_EQ(uri.Protocol(), "");
  EXPECT_EQ(uri.Username(), "");
  EXPECT_EQ(uri.Password(), "");
  EXPECT_EQ(uri.Host(), "");
  EXPECT_EQ(uri.Port(), "");
  EXPECT_EQ(uri.Path(), "");
  EXPECT_EQ(uri.Params(), "");
  EXPECT_EQ(uri.Bookmark(), "");
  EXPECT_EQ(uri.Document(), "rel");
  uri.SetURI("a\\b");
  EXPECT_EQ(uri.URIText(), "a/b");
  EXPECT_EQ(uri.Path(), "a/");
}

TEST(URI, GetURIDropsUserInfoAndFragmentButKeepsThemInURIText) {
  const std::string full = "proto://u:pw@h:8080/dir/sub/page.html?x=1&y=2#frag";
  TIdURI uri(full);
  EXPECT_EQ(uri.GetURI(), "proto://h:8080/dir/sub/page.html?x=1&y=2");
  EXPECT_EQ(uri.URIText(), full);
}

TEST(URI, ComposesOptionalPartsOnlyWhenAskedAndPresent) {
  TIdURI uri("proto://u@h/p#b");
  EXPECT_EQ(uri.ComposeURI(IncludeUserInfo), "proto://u@h/p");
  EXPECT_EQ(uri.ComposeURI(IncludeBookmark), "proto://h/p#b");
  uri.SetUsername("");
  uri.SetPassword("secret");
  EXPECT_EQ(uri.ComposeURI(IncludeUserInfo), "proto://h/p");
  // Path, document and params are joined without any check.
  uri.SetPath("x");
  uri.SetDocument("y");
  uri.SetParams("z");
  EXPECT_EQ(uri.ComposeURI(0), "proto://hxyz");
}

TEST(URI, ComposingWithoutProtocolOrHostFailsAndChangesNothing) {
  struct Case {
    std::string protocol, host, message;
  } cases[] = {
      {"", "", "Protocol field is empty"},
      {"", "h", "Protocol field is empty"},
      {"http", "", "Host field is empty"},
  };
  for (const auto& c : cases) {
    TIdURI uri("rel/x");
    uri.SetProtocol(c.protocol);
    uri.SetHost(c.host);
    try {
      uri.GetURI();
      ADD_FAILURE() << "no exception for protocol '" << c.protocol << "' host '" << c.host << "'";
    } catch (const EIdURIException& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_EQ(uri.URIText(), "rel/x");
  }
}

// The one reading of a web address's scheme, host and port that the
// harvester's parts share.
TEST(URI, AWebOriginIsAnHttpOrHttpsSchemeAHostAndAPort) {
  struct Case {
    const char* address;
    const char *scheme, *host;
    int port;
    const char* root;  // nullptr: no web origin
  } cases[] = {
      {"HTTP://Photos.Example:8080/users/?page=1", "HTTP", "Photos.Example", 8080, "HTTP://Photos.Example:8080"},
      {"https://[::1]/a", "https", "::1", 443, "https://[::1]"},
      {"http://me:pw@h.example?x", "http", "h.example", 80, "http://me:pw@h.example"},
      {"http://h.example#top", "http", "h.example", 80, "http://h.example"},
      {"ftp://h.example/", "", "", 0, nullptr},
      {"http:///no-host", "", "", 0, nullptr},
      {"http://h.example:0/", "", "", 0, nullptr},
      {"h.example/no-scheme", "", "", 0, nullptr},
      {"javascript:go('http://h.example/')", "", "", 0, nullptr},
  };
  for (const auto& c : cases) {
    const std::optional<WebOrigin> origin = WebOriginOf(c.address);
    ASSERT_EQ(origin.has_value(), c.root != nullptr) << c.address;
    if (!origin) continue;
    EXPECT_EQ(origin->scheme, c.scheme) << c.address;
    EXPECT_EQ(origin->host, c.host) << c.address;
    EXPECT_EQ(origin->port, c.port) << c.address;
    EXPECT_EQ(origin->root, c.root) << c.address;
  }
  EXPECT_TRUE(SameOrigin(*WebOriginOf("HTTP://FOTOPOLKA.example:80/x"), *WebOriginOf("http://fotopolka.example")));
  EXPECT_FALSE(SameOrigin(*WebOriginOf("https://h.example"), *WebOriginOf("http://h.example:443")));
}

TEST(URI, EncodesFormValuesByteByByte) {
  struct Case {
    std::string input, expected;
  } cases[] = {
      {"", ""},
      {"a b&x=d/\xE9", "a+b%26x%3Dd%2F%E9"},
      {"AZaz09", "AZaz09"},
      {"-._*~+%", "%2D%2E%5F%2A%7E%2B%25"},
      {std::string("\0\n\xFF", 3), "%00%0A%FF"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TIdURI::EncodeFormValue(c.input), c.expected) << "input: " << c.input;
}

TEST(URI, NormalizeSlashesReplacesEveryBackslash) {
  std::string text = "\\a\\\\b/c\\";
  TIdURI::NormalizeSlashes(text);
  EXPECT_EQ(text, "/a//b/c/");
}

}  // namespace
}  // namespace ah
