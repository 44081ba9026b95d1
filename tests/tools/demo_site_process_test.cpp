// album-demo-site as a program: flags, the start lines, a clean stop.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/tools/page_reading.h"

extern char** environ;

namespace ah {
namespace {

using namespace testing_pages;

// A child album-demo-site with its stdout on a pipe; killed by its pid if a
// test leaves it running.
class SiteProcess {
 public:
  explicit SiteProcess(std::vector<std::string> args) {
    args.insert(args.begin(), AH_DEMO_SITE_EXE);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    read_fd_ = out[0];
  }
  ~SiteProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (read_fd_ >= 0) ::close(read_fd_);
  }

  // The next line of stdout, or empty after 20 s without one.
  std::string ReadLine() {
    std::string line;
    for (;;) {
      size_t nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return line;
      }
      pollfd p{read_fd_, POLLIN, 0};
      if (::poll(&p, 1, 20000) <= 0) return "";
      char buf[1024];
      ssize_t n = ::read(read_fd_, buf, sizeof buf);
      if (n <= 0) return "";
      buffer_.append(buf, n);
    }
  }

  // Sends sig and returns the exit code (-1 when it did not exit normally).
  int Stop(int sig) {
    ::kill(pid_, sig);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int read_fd_ = -1;
  std::string buffer_;
};

// Value of NAME=value (plain or single-quoted) in the banner line.
std::string BannerValue(const std::string& banner, const std::string& name) {
  size_t at = banner.find(name + "=");
  if (at == std::string::npos) return "";
  at += name.size() + 1;
  if (banner[at] == '\'') {
    size_t end = banner.find('\'', at + 1);
    return banner.substr(at + 1, end - at - 1);
  }
  return banner.substr(at, banner.find(' ', at) - at);
}

int PortOf(const std::string& root) { return std::atoi(root.substr(root.rfind(':') + 1).c_str()); }

TEST(DemoSiteProgram, PrintsWhereItListensServesTheAlbumAndStopsOnSigterm) {
  SiteProcess site({"--pages", "2", "--photos-per-page", "3", "--chunked", "--login", "ivan",
                    "--password", "p@ss w0rd", "--domain", "post.example"});
  std::string banner = site.ReadLine();
  std::string command = site.ReadLine();
  std::string root = BannerValue(banner, "SITE_ROOT");
  std::string marker = BannerValue(banner, "IMAGE_HOST_MARKER");
  ASSERT_TRUE(root.starts_with("http://127.0.0.1:")) << banner;
  EXPECT_TRUE(marker.starts_with("127.0.0.1:") && marker.ends_with("/photo")) << banner;
  EXPECT_EQ(BannerValue(banner, "TITLE_SUFFIX"), " - Фотокадр") << banner;
  EXPECT_EQ(BannerValue(banner, "ALBUM_URL"), root + "/users/ivan/krym-2024/") << banner;
  EXPECT_EQ(command, "album-harvest --album " + root +
                         "/users/ivan/krym-2024/ --login ivan --password 'p@ss w0rd' --domain "
                         "post.example --site-root " + root +
                         " --title-suffix ' - Фотокадр' --image-host-marker " + marker);

  httplib::Client client("127.0.0.1", PortOf(root));
  auto login = client.Post("/login/",
                           "return_url=%2Fusers%2Fivan%2F&login=ivan&domain=post%2Eexample&"
                           "password=p%40ss+w0rd&remember=on&",
                           "application/x-www-form-urlencoded");
  ASSERT_TRUE(login);
  EXPECT_EQ(login->status, 302);
  EXPECT_EQ(login->get_header_value("Location"), "/users/ivan/");
  std::string cookie = login->get_header_value("Set-Cookie");
  cookie = cookie.substr(0, cookie.find(';'));
  auto page = client.Get("/users/ivan/krym-2024/?page=1", httplib::Headers{{"Cookie", cookie}});
  ASSERT_TRUE(page);
  EXPECT_EQ(page->get_header_value("Transfer-Encoding"), "chunked");
  EXPECT_EQ(ReadAlbumPage(page->body, 1, " - Фотокадр").photo_links.size(), 3u);
  auto stats = client.Get("/__stats");
  ASSERT_TRUE(stats);
  EXPECT_TRUE(Contains(stats->body, "\"sign_ins\": 1, ")) << stats->body;
  EXPECT_TRUE(Contains(stats->body, "\"album_pages_with_photos\": 1, ")) << stats->body;

  EXPECT_EQ(site.Stop(SIGTERM), 0);
}

TEST(DemoSiteProgram, StopsOnSigintToo) {
  SiteProcess site({});
  ASSERT_TRUE(site.ReadLine().starts_with("SITE_ROOT="));
  EXPECT_EQ(site.Stop(SIGINT), 0);
}

TEST(DemoSiteProgram, RejectsBadFlagsWithExitCodeTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"--pages", "0"}, {"--pages", "x"},  {"--port", "70000"},
      {"--frobnicate"}, {"--login"},       {"--session-requests", "-1"},
      {"--latency-ms", "-5"},
      {"--fail-images", "0"},   {"--fail-pages", "2-"},   {"--fail-status", "99"},
      {"--stall-after", "-1"}, {"--albums", "0"},
  };
  for (const auto& args : cases) {
    SiteProcess site(args);
    EXPECT_EQ(site.Wait(), 2) << args[0];
  }
  SiteProcess help({"--help"});
  EXPECT_TRUE(help.ReadLine().starts_with("usage: album-demo-site"));
  EXPECT_EQ(help.Wait(), 0);
}

}  // namespace
}  // namespace ah
