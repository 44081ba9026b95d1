#include "app/fetch/proxy_choice.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace ah {
namespace {

TEST(ProxyChoice, ReadsProxyAddressesAsTheVariablesHoldThem) {
  struct Case {
    const char* text;
    std::optional<ProxyAddress> proxy;
  } cases[] = {
      {"proxy.example:3128", ProxyAddress{"proxy.example", 3128}},
      {"http://10.0.0.1:8080/", ProxyAddress{"10.0.0.1", 8080}},
      {"HTTP://p.example:80", ProxyAddress{"p.example", 80}},
      {"p.example", ProxyAddress{"p.example", 1080}},
      {" p.example:1 ", ProxyAddress{"p.example", 1}},
      {"http://[::1]:3128", ProxyAddress{"::1", 3128}},
      {"socks5://p.example:1080", std::nullopt},
      {"http://user:pw@p.example:3128", std::nullopt},
      {"p.example:0", std::nullopt},
      {"p.example:65536", std::nullopt},
      {"p.example:x", std::nullopt},
      {":3128", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseProxyAddress(c.text), c.proxy) << c.text;
}

TEST(ProxyChoice, NoProxyNamesHostsAndDomains) {
  struct Case {
    const char* no_proxy;
    const char* host;
    bool covered;
  } cases[] = {
      {"*", "anything.example", true},
      {"localhost,127.0.0.1", "127.0.0.1", true},
      {"localhost, 127.0.0.1", "127.0.0.1", true},
      {"example.com", "img.example.com", true},
      {".example.com", "img.example.com", true},
      {"example.com", "example.com", true},
      {"EXAMPLE.com", "Img.Example.COM", true},
      {"example.com", "badexample.com", false},
      {"example.com:8080", "example.com", true},
      {"other.example", "example.com", false},
      {"", "example.com", false},
      {",,", "example.com", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(NoProxyCovers(c.no_proxy, c.host), c.covered) << c.no_proxy << " / " << c.host;
}

class ProxyEnvironment : public testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"})
      unsetenv(name);
  }
};

TEST_F(ProxyEnvironment, TheVariablesChooseByScheme) {
  struct Case {
    std::vector<std::pair<const char*, const char*>> variables;
    const char* url;
    std::optional<ProxyAddress> proxy;
  } cases[] = {
      {{}, "http://h.example/", std::nullopt},
      {{{"http_proxy", "p:1"}}, "http://h.example/", ProxyAddress{"p", 1}},
      {{{"http_proxy", "p:1"}}, "https://h.example/", std::nullopt},
      {{{"HTTP_PROXY", "p:1"}}, "http://h.example/", std::nullopt},
      {{{"https_proxy", "s:2"}}, "https://h.example/", ProxyAddress{"s", 2}},
      {{{"HTTPS_PROXY", "s:2"}}, "https://h.example/", ProxyAddress{"s", 2}},
      {{{"ALL_PROXY", "a:3"}}, "http://h.example/", ProxyAddress{"a", 3}},
      {{{"all_proxy", "a:3"}, {"http_proxy", "p:1"}}, "http://h.example/", ProxyAddress{"p", 1}},
      {{{"http_proxy", "p:1"}, {"no_proxy", "h.example"}}, "http://h.example:8080/x", std::nullopt},
      {{{"http_proxy", "p:1"}, {"NO_PROXY", "example"}}, "http://user@h.example/", std::nullopt},
      {{{"http_proxy", "p:1"}, {"no_proxy", "other"}}, "http://h.example/", ProxyAddress{"p", 1}},
      {{{"http_proxy", "p:1"}}, "ftp://h.example/", std::nullopt},
  };
  for (const auto& c : cases) {
    Clear();
    std::string names;
    for (const auto& [name, value] : c.variables) {
      setenv(name, value, 1);
      names += std::string(name) + "=" + value + " ";
    }
    EXPECT_EQ(ProxyFromEnvironment(c.url), c.proxy) << names << c.url;
  }
}

TEST_F(ProxyEnvironment, AGivenProxyWinsOverTheVariables) {
  setenv("http_proxy", "p:1", 1);
  setenv("no_proxy", "*", 1);
  EXPECT_EQ(ChooseProxy("http://h.example/", ProxyAddress{"given", 9}), (ProxyAddress{"given", 9}));
  EXPECT_EQ(ChooseProxy("http://h.example/", std::nullopt), std::nullopt);
  unsetenv("no_proxy");
  EXPECT_EQ(ChooseProxy("http://h.example/", std::nullopt), (ProxyAddress{"p", 1}));
}

}  // namespace
}  // namespace ah
