// http-get as a user runs it: the real program against loopback servers.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/file_bytes.h"
#include "tests/support/local_http_server.h"
#include "tests/support/scripted_server.h"
#include "tests/support/socks_proxy.h"
#include "tests/support/tls_test_server.h"
#include "tools/http-get/options.h"

extern char** environ;

namespace ah {
namespace {

namespace fs = std::filesystem;

struct RunResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

class HttpGet : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("http-get-test-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the program with args; its stdout and stderr go to files.
  RunResult Run(const std::vector<std::string>& args, bool append_stdout = false) {
    fs::path out = dir_ / "stdout";
    fs::path err = dir_ / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(),
                                     O_WRONLY | O_CREAT | (append_stdout ? O_APPEND : O_TRUNC),
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all = {HTTP_GET_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    RunResult result;
    if (posix_spawn(&pid, HTTP_GET_BINARY, &actions, nullptr, argv.data(), environ) == 0) {
      int status = 0;
      ::waitpid(pid, &status, 0);
      result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = test::FileBytes(out);
    result.err = test::FileBytes(err);
    return result;
  }

  fs::path dir_;
};

class HttpGetServer : public HttpGet {
 protected:
  void SetUp() override {
    HttpGet::SetUp();
    auto& s = server_.server();
    s.Get("/a", [](const httplib::Request&, httplib::Response& res) {
      res.set_header("Set-Cookie", "seen=1; path=/");
      res.set_content("first;", "text/plain");
    });
    s.Get("/b", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content("second[" + req.get_header_value("Cookie") + "]", "text/plain");
    });
    s.Get("/moved", [](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("/a");
    });
    s.Post("/echo", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(req.get_header_value("Content-Type") + " " + req.body, "text/plain");
    });
    s.Get("/basic", [this](const httplib::Request& req, httplib::Response& res) {
      if (req.get_header_value("Host").rfind("localhost:", 0) == 0 &&
          req.has_header("Authorization")) {
        authorized_elsewhere_ = true;
      }
      if (req.get_header_value("Authorization") == "Basic dXNlcjpwdw==") {
        res.set_content("let in", "text/plain");
      } else {
        res.status = 401;
        res.set_header("WWW-Authenticate", "Basic realm=\"test\"");
      }
    });
    // The same server under another host name.
    s.Get("/elsewhere", [this](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("http://localhost:" + std::to_string(server_.port()) + "/basic");
    });
    s.Get("/large", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(1 << 20, 'L'), "application/octet-stream");
    });
    server_.Start();
  }
  test::LocalHttpServer server_;
  std::atomic<bool> authorized_elsewhere_{false};
};

TEST_F(HttpGetServer, GetsEveryUrlThroughOneClientIntoTheFileItTruncatesOnce) {
  fs::path file = dir_ / "out.txt";
  { std::ofstream(file) << "old content that is longer than the new"; }
  RunResult r = Run({"-o", file.string(), server_.Url("/a"), server_.Url("/b")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  // The cookie of the first reply went back with the second request, over
  // the same connection.
  EXPECT_EQ(test::FileBytes(file), "first;second[seen=1]");
  EXPECT_EQ(server_.Connections(), 1);

  r = Run({"-o", "-", server_.Url("/a")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "first;");
  EXPECT_FALSE(fs::exists(dir_ / "-"));
}

TEST_F(HttpGetServer, EndlessRedirectsExitWithOneLine) {
  server_.server().Get("/loop", [](const httplib::Request&, httplib::Response& res) {
    res.set_redirect("/loop");
  });
  RunResult r = Run({server_.Url("/a"), server_.Url("/loop"), server_.Url("/b")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "first;");
  EXPECT_EQ(r.err, "http-get: " + server_.Url("/loop") +
                       ": too many redirects: gave up after 15 requests\n");
}

TEST_F(HttpGetServer, WritesToStdoutAndFollowsRedirects) {
  RunResult r = Run({server_.Url("/moved"), server_.Url("/large")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "first;" + std::string(1 << 20, 'L'));
}

TEST_F(HttpGetServer, StdoutOpenedForAppendingGetsTheBodiesAfterItsContent) {
  { std::ofstream(dir_ / "stdout") << "kept|"; }
  RunResult r = Run({server_.Url("/large"), server_.Url("/a")}, true);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "kept|" + std::string(1 << 20, 'L') + "first;");
}

TEST_F(HttpGetServer, RefusedStatusExitsWithItsStatusLine) {
  RunResult r = Run({server_.Url("/a"), server_.Url("/nowhere"), server_.Url("/b")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "first;");
  EXPECT_EQ(r.err, "http-get: " + server_.Url("/nowhere") + ": HTTP/1.1 404 Not Found\n");
}

TEST_F(HttpGetServer, VerboseShowsStatusEventsAndStatusLines) {
  RunResult r = Run({"-v", server_.Url("/moved")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("* Connecting to 127.0.0.1.\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("* Connected.\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("< HTTP/1.1 302 Found\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("< HTTP/1.1 200 OK\n"), std::string::npos) << r.err;
}

TEST_F(HttpGetServer, PostsTheFormLines) {
  RunResult r = Run({"--post-form", "name=a b", "--post-form", "x=1&2", server_.Url("/echo")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "application/x-www-form-urlencoded name=a+b&x=1%262&");
}

TEST_F(HttpGetServer, UserAnswersABasicChallenge) {
  RunResult r = Run({"--user", "user:pw", server_.Url("/basic")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "let in");
  // A request that fails leaves the output file as it was.
  fs::path file = dir_ / "kept.txt";
  { std::ofstream(file) << "kept"; }
  r = Run({"-o", file.string(), server_.Url("/basic")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "http-get: " + server_.Url("/basic") + ": HTTP/1.1 401 Unauthorized\n");
  EXPECT_EQ(test::FileBytes(file), "kept");
  // The user information of the address answers for its own server; its
  // password never shows.
  const std::string at = "@127.0.0.1:" + std::to_string(server_.port()) + "/basic";
  r = Run({"http://user:pw" + at});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "let in");
  r = Run({"http://user:wrong" + at});
  EXPECT_EQ(r.err, "http-get: http://user:***" + at + ": HTTP/1.1 401 Unauthorized\n");
}

TEST_F(HttpGetServer, UserGoesOnlyToTheServerNamedOnTheCommandLine) {
  RunResult r = Run({"--user", "user:pw", server_.Url("/elsewhere")});
  EXPECT_EQ(r.exit_code, 1);
  // The error names the address that failed, not the one given.
  EXPECT_EQ(r.err, "http-get: http://localhost:" + std::to_string(server_.port()) +
                       "/basic: HTTP/1.1 401 Unauthorized\n");
  EXPECT_FALSE(authorized_elsewhere_);
  r = Run({"--user", "user:pw", "http://localhost:" + std::to_string(server_.port()) + "/basic"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "let in");
}

TEST_F(HttpGetServer, FetchesThroughMicrosocks) {
  test::SocksProxy proxy;
  if (!proxy.Running()) GTEST_SKIP() << proxy.Failure();
  RunResult r = Run({"--socks5", "127.0.0.1:" + std::to_string(proxy.Port()), server_.Url("/a"),
                     server_.Url("/b")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "first;second[seen=1]");
  EXPECT_EQ(server_.Connections(), 1);
}

TEST_F(HttpGetServer, FetchesThroughMicrosocksWithALogin) {
  test::SocksProxy proxy("harvest", "s3cret");
  if (!proxy.Running()) GTEST_SKIP() << proxy.Failure();
  const std::string socks = "127.0.0.1:" + std::to_string(proxy.Port());
  RunResult r = Run({"--socks5", socks, "--socks-user", "harvest:s3cret", server_.Url("/large")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, std::string(1 << 20, 'L'));
  r = Run({"--socks5", socks, "--socks-user", "harvest:wrong", server_.Url("/a")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "http-get: " + server_.Url("/a") + ": Authentication error to socks server.\n");
  EXPECT_EQ(server_.Connections(), 1);
}

TEST_F(HttpGet, Socks4aLeavesTheHostNameToTheProxy) {
  const std::string handshake =
      std::string("\x04\x01\x00\x50\x00\x00\x00\x01", 8) + "me" + std::string(1, '\0') +
      "origin.test" + std::string(1, '\0');
  test::ScriptedServer proxy({test::Script()
                                  .ReadBytes(int64_t(handshake.size()))
                                  .Send(std::string("\x00\x5a\x00\x00\x00\x00\x00\x00", 8))
                                  .ReadUntil("\r\n\r\n")
                                  .Send("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\norigin")
                                  .Close()});
  RunResult r = Run({"--socks4a", "127.0.0.1:" + std::to_string(proxy.Port()), "--socks-user",
                     "me:", "http://origin.test/page"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "origin");
  std::string received = proxy.Received(0);
  EXPECT_EQ(received.substr(0, handshake.size()), handshake);
  EXPECT_EQ(received.substr(handshake.size(), 20), "GET /page HTTP/1.1\r\n");
  EXPECT_NE(received.find("\r\nHost: origin.test\r\n"), std::string::npos) << received;
}

TEST_F(HttpGet, SocksRefusalIsOneLine) {
  test::ScriptedServer proxy({test::Script().ReadBytes(3).Send(std::string("\x05\x00", 2))
                                  .ReadBytes(18).Send(std::string("\x05\x04\x00\x01", 4) +
                                                      std::string(6, '\0'))
                                  .Close()});
  RunResult r = Run({"--socks5", "127.0.0.1:" + std::to_string(proxy.Port()),
                     "http://origin.test/"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "http-get: http://origin.test/: Host unreachable.\n");
}

TEST_F(HttpGet, ProxyCarriesTheAbsoluteAddress) {
  test::ScriptedServer proxy({test::Script()
                                  .ReadUntil("\r\n\r\n")
                                  .Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nproxy")
                                  .Close()});
  RunResult r = Run({"--proxy", "127.0.0.1:" + std::to_string(proxy.Port()),
                     "http://origin.test/page"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "proxy");
  std::string head = proxy.Received(0);
  EXPECT_EQ(head.substr(0, head.find("\r\n")), "GET http://origin.test:80/page HTTP/1.1");
}

TEST_F(HttpGet, TimeoutEndsASilentServer) {
  test::ScriptedServer silent({test::Script().ReadUntil("\r\n\r\n").StaySilent()});
  RunResult r = Run({"--timeout", "0.2",
                     "http://127.0.0.1:" + std::to_string(silent.Port()) + "/"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "http-get: http://127.0.0.1:" + std::to_string(silent.Port()) +
                       "/: Read Timeout\n");
}

TEST_F(HttpGet, RefusedConnectionIsOneLine) {
  test::RefusingPort refusing;
  const int port = refusing.Port();
  RunResult r = Run({"http://127.0.0.1:" + std::to_string(port) + "/"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "http-get: http://127.0.0.1:" + std::to_string(port) +
                       "/: Socket Error # 10061 Connection refused.\n");
  r = Run({"http://127.0.0.1:" + std::to_string(port) + "/a\r\nb"});
  EXPECT_EQ(r.err, "http-get: http://127.0.0.1:" + std::to_string(port) +
                       "/a\\r\\nb: The request is not sent: its target holds a control character\n");
}

TEST_F(HttpGet, BadArgumentsExitWithTwoAndOneLine) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{}, {"-x", "http://h/"}, {"--timeout"}}) {
    RunResult r = Run(args);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.rfind("http-get: ", 0), 0u) << r.err;
  }
}

TEST_F(HttpGet, HelpListsEveryFlagAndExitsWithZero) {
  for (const std::string flag : {"-h", "--help"}) {
    RunResult r = Run({"http://h/", flag});
    EXPECT_EQ(r.exit_code, 0) << flag;
    EXPECT_EQ(r.err, "") << flag;
    EXPECT_EQ(r.out.rfind("usage: http-get", 0), 0u) << r.out;
    for (const char* listed :
         {"-o FILE", "--timeout SECONDS", "--proxy HOST:PORT", "--user NAME:PASSWORD",
          "--socks4 HOST:PORT", "--socks4a HOST:PORT", "--socks5 HOST:PORT",
          "--socks-user NAME:PASSWORD", "--cacert FILE", "--insecure", "--post-form NAME=VALUE",
          "-v ", "-h, --help", "Exit status"}) {
      EXPECT_NE(r.out.find(listed), std::string::npos) << listed;
    }
  }
}

TEST_F(HttpGet, HttpsWithTheTestAuthorityOrInsecure) {
  test::TestCertificates pki;
  test::TlsServer server(
      pki.Issue("site", {"localhost"}),
      {test::TlsScript()
           .ReadUntil("\r\n\r\n")
           .Send("HTTP/1.1 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\nsecret")
           .Close()});
  const std::string url = "https://localhost:" + std::to_string(server.Port()) + "/s";

  RunResult refused = Run({url});
  EXPECT_EQ(refused.exit_code, 1) << refused.err;
  EXPECT_NE(refused.err.find("certificate verify failed"), std::string::npos) << refused.err;
  EXPECT_EQ(refused.out, "");

  RunResult trusted = Run({"--cacert", pki.CAFile(), url});
  EXPECT_EQ(trusted.exit_code, 0) << trusted.err;
  EXPECT_EQ(trusted.out, "secret");
  EXPECT_EQ(trusted.err, "");

  RunResult insecure = Run({"--insecure", url});
  EXPECT_EQ(insecure.exit_code, 0) << insecure.err;
  EXPECT_EQ(insecure.out, "secret");
  EXPECT_EQ(insecure.err,
            "http-get: --insecure: TLS certificates and host names are not checked\n");
  EXPECT_EQ(server.Received(0), "");
  EXPECT_EQ(server.Received(1).rfind("GET /s HTTP/1.1\r\n", 0), 0u);
}

TEST(HttpGetArguments, ParsesEveryFlag) {
  HttpGetArguments a = ParseHttpGetArguments(
      {"-o", "f.txt", "--timeout", "1.5", "--proxy", "p.test:3128", "--user", "u:p:w",
       "--post-form", "a=1", "--post-form", "b=2", "-v", "http://h/"});
  ASSERT_TRUE(a.ok()) << a.error;
  EXPECT_EQ(a.options.output_file, "f.txt");
  EXPECT_EQ(a.options.read_timeout_ms, 1500);
  EXPECT_EQ(a.options.proxy_host, "p.test");
  EXPECT_EQ(a.options.proxy_port, 3128);
  EXPECT_EQ(a.options.user_name, "u");
  EXPECT_EQ(a.options.password, "p:w");
  EXPECT_EQ(a.options.form_lines, (std::vector<std::string>{"a=1", "b=2"}));
  EXPECT_TRUE(a.options.verbose);
  EXPECT_EQ(a.options.urls, std::vector<std::string>{"http://h/"});
  EXPECT_EQ(a.options.ca_file, "");
  EXPECT_FALSE(a.options.insecure);

  HttpGetArguments tls = ParseHttpGetArguments({"--cacert", "ca.pem", "--insecure", "https://h/"});
  ASSERT_TRUE(tls.ok()) << tls.error;
  EXPECT_EQ(tls.options.ca_file, "ca.pem");
  EXPECT_TRUE(tls.options.insecure);
}

TEST(HttpGetArguments, TimeoutIsSecondsWithFractions) {
  const std::pair<std::string, int> rows[] = {
      {"2", 2000}, {"0.25", 250}, {"0", 0}, {"0.0001", 1}, {"2147483", 2147483000}};
  for (const auto& [text, ms] : rows) {
    HttpGetArguments a = ParseHttpGetArguments({"--timeout", text, "http://h/"});
    ASSERT_TRUE(a.ok()) << text << ": " << a.error;
    EXPECT_EQ(a.options.read_timeout_ms, ms) << text;
  }
  for (const std::string bad : {"1e3", "-0.5", "2147484", ".", "1,5", "inf", "nan"}) {
    HttpGetArguments a = ParseHttpGetArguments({"--timeout", bad, "http://h/"});
    EXPECT_EQ(a.error, "--timeout wants seconds, not " + bad) << bad;
  }
}

TEST(HttpGetArguments, SocksFlags) {
  struct Row {
    std::vector<std::string> args;
    int version;
    std::string host;
    int port;
    std::optional<std::string> user;
    std::string password;
  } rows[] = {
      {{"--socks4", "s.test:1080"}, 4, "s.test", 1080, std::nullopt, ""},
      {{"--socks4a", "10.0.0.1:9050", "--socks-user", "id:"}, 40, "10.0.0.1", 9050, "id", ""},
      {{"--socks-user", "u:p:w", "--socks5", "[::1]:1"}, 5, "[::1]", 1, "u", "p:w"},
  };
  for (const auto& r : rows) {
    std::vector<std::string> args = r.args;
    args.push_back("http://h/");
    HttpGetArguments a = ParseHttpGetArguments(args);
    ASSERT_TRUE(a.ok()) << r.args[0] << ": " << a.error;
    EXPECT_EQ(a.options.socks_version, r.version) << r.args[0];
    EXPECT_EQ(a.options.socks_host, r.host) << r.args[0];
    EXPECT_EQ(a.options.socks_port, r.port) << r.args[0];
    EXPECT_EQ(a.options.socks_user, r.user) << r.args[0];
    EXPECT_EQ(a.options.socks_password, r.password) << r.args[0];
  }
}

TEST(HttpGetArguments, RefusesWhatCannotBeRun) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"-o"},
      {"--timeout", "soon", "http://h/"},
      {"--timeout", "-1", "http://h/"},
      {"--proxy", "nohost", "http://h/"},
      {"--proxy", "h:0", "http://h/"},
      {"--proxy", "h:99999", "http://h/"},
      {"--user", "nocolon", "http://h/"},
      {"--post-form", "novalue", "http://h/"},
      {"--post-form", "a=1", "http://h/", "http://i/"},
      {"--verbose", "http://h/"},
      {"--socks5", "nohost", "http://h/"},
      {"--socks4", "h:0", "http://h/"},
      {"--socks4", "h:1", "--socks5", "h:2", "http://h/"},
      {"--socks-user", "u:p", "http://h/"},
      {"--socks5", "h:1", "--socks-user", ":p", "http://h/"},
  };
  for (const auto& args : bad) {
    std::string joined;
    for (const auto& s : args) joined += s + " ";
    EXPECT_FALSE(ParseHttpGetArguments(args).ok()) << joined;
  }
}

}  // namespace
}  // namespace ah
