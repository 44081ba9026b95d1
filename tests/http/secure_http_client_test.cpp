#include "http/secure_http_client.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/scripted_server.h"
#include "tests/support/tls_test_server.h"

namespace ah {
namespace {

TEST(SecureHTTP, FollowsARedirectFromPlainHttpToHttps) {
  test::TestCertificates pki;
  test::TlsServer site(pki.Issue("site", {"localhost"}),
                       {test::TlsScript()
                            .ReadUntil("\r\n\r\n")
                            .Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nalbum")
                            .StaySilent()});
  test::ScriptedServer plain({test::Script().ReadUntil("\r\n\r\n").Send(
      "HTTP/1.1 302 Found\r\nLocation: https://localhost:" + std::to_string(site.Port()) +
      "/album\r\nContent-Length: 0\r\nConnection: close\r\n\r\n").Close()});
  TSecureHTTP http(nullptr);
  http.TLS().SetCAFile(pki.CAFile());
  http.SetHandleRedirects(true);
  std::string text;
  IHTTPClient& client = http;
  client.GetText("http://127.0.0.1:" + std::to_string(plain.Port()) + "/", text);
  EXPECT_EQ(text, "album");
  EXPECT_TRUE(http.TLS().TLSActive());
}

TEST(SecureHTTP, RefusesAnUntrustedSite) {
  test::TestCertificates pki;
  test::TlsServer site(pki.Issue("site", {"localhost"}), {test::TlsScript().StaySilent()});
  TSecureHTTP http(nullptr);  // the system's authorities only
  std::string text;
  EXPECT_THROW(http.GetText("https://localhost:" + std::to_string(site.Port()) + "/", text),
               EIdSSLProtocolReplyError);
  EXPECT_EQ(site.Received(0), "");
}

}  // namespace
}  // namespace ah
