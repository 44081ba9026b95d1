// The album page scan of the harvest run, driven through the run's public
// surroundings with a client that answers every GET with the next part of
// the input: whatever the pages hold, the run swallows the failures of its
// transfers, walks a bounded number of pages and ends with its final log
// line.
//
// Input: the answers to the GETs in the order the run makes them (the
// album's first page first); once they run out every GET is refused.
//
// Image addresses come from the input, so the process gives itself an
// empty network namespace before the first run: no download can leave the
// machine, and none reaches even the loopback. Where no namespace can be
// had, every transfer goes through a proxy on a loopback port that refuses
// connections, so nothing leaves the machine either.

#include <netinet/in.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/harvest/harvest_run.h"
#include "app/site/scratch_lines.h"
#include "framework/exception.h"
#include "framework/strings.h"
#include "http/exceptions.h"
#include "http/http_client_interface.h"
#include "tests/support/fuzz_check.h"

namespace {

using namespace ah;

constexpr std::string_view kDoneLine = "ЗАВЕРШЕНО!";
constexpr int kMaxCalls = 5000;

struct Pages {
  std::vector<std::string_view> answers;
  size_t next = 0;
  int calls = 0;
};

class PagesClient : public IHTTPClient {
 public:
  explicit PagesClient(Pages& pages) : pages_(pages) {}
  void GetText(const std::string&, std::string& text) override {
    AH_FUZZ_CHECK(++pages_.calls <= kMaxCalls);
    // A refused status: no retry policy tries it again, so every run stays
    // quick however many fetches fail.
    if (pages_.next >= pages_.answers.size())
      throw EIdHTTPProtocolException(404, "HTTP/1.1 404 Not Found", "");
    text = std::string(pages_.answers[pages_.next++]);
  }
  void PostFormText(const std::string&, TStrings&, std::string& text) override {
    AH_FUZZ_CHECK(++pages_.calls <= kMaxCalls);
    text = "welcome";
  }
  bool HandleRedirects() const override { return redirects_; }
  void SetHandleRedirects(bool value) override { redirects_ = value; }
  void SetRequestUserAgent(const std::string&) override {}

 private:
  Pages& pages_;
  bool redirects_ = true;
};

class Window : public HarvestFields, public HarvestLog, public MessagePump, public HTTPClientSlot {
 public:
  explicit Window(Pages& pages) : pages_(pages), client_(new PagesClient(pages)) {}
  ~Window() override { delete client_; }

  std::string Edit1Text() override { return "fuzz"; }
  std::string Edit2Text() override { return "secret"; }
  std::string Edit3Text() override { return "@fuzz.invalid"; }
  std::string Edit4Text() override { return "http://fuzz.invalid/users/fuzz/1/"; }
  void AddLogLine(const std::string& line) override { log.push_back(line); }
  int LogLineCount() override { return int(log.size()); }
  void ClearLog() override { log.clear(); }
  void ProcessMessages() override {}
  IHTTPClient* IdHTTP1() override { return client_; }
  void SetIdHTTP1(IHTTPClient* client) override { client_ = client; }
  IHTTPClient* CreateIdHTTP() override { return new PagesClient(pages_); }

  std::vector<std::string> log;
  ScratchLines scratch;

 private:
  Pages& pages_;
  IHTTPClient* client_;
};

std::string g_output_dir;
std::string g_scratch_dir;
std::optional<ProxyAddress> g_refusing_proxy;

// A loopback port that is bound but never listens, so connecting to it is
// refused at once; the socket stays open for the process's lifetime so no
// one else can take the port.
std::optional<ProxyAddress> RefusingLoopbackProxy() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return std::nullopt;
  return ProxyAddress{"127.0.0.1", ntohs(address.sin_port)};
}

void RemoveScratch() {
  std::error_code ignored;
  std::filesystem::remove_all(g_scratch_dir, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (unshare(CLONE_NEWNET) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
    g_refusing_proxy = RefusingLoopbackProxy();
    if (!g_refusing_proxy) {
      std::fprintf(stderr,
                   "album_page_fuzzer: neither a network namespace nor a loopback port: %s\n",
                   std::strerror(errno));
      std::exit(1);
    }
  }
  // Images found before any title line are named relative to the working
  // directory; album folders go below a plain file, so none can be made.
  char scratch[] = "/tmp/ah-album-fuzz-XXXXXX";
  if (!mkdtemp(scratch) || chdir(scratch) != 0) {
    std::perror("album_page_fuzzer");
    std::exit(1);
  }
  g_scratch_dir = scratch;
  std::atexit(RemoveScratch);
  std::ofstream(g_scratch_dir + "/plain-file") << "not a folder\n";
  g_output_dir = std::string(scratch) + "/plain-file/albums";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ah::fuzz::InputParts input(data, size);
  Pages pages;
  while (!input.Empty()) pages.answers.push_back(input.Next());

  Window window(pages);
  HarvestSettings settings;
  settings.profile.SiteRoot = "http://fuzz.invalid";
  settings.profile.TitleSuffix = " - Fuzz";
  settings.profile.ImageHostMarker = "img.fuzz.invalid/photo";
  settings.output_dir = g_output_dir;
  settings.proxy = g_refusing_proxy;
  // No transfer here can succeed, so waiting to retry one finds nothing new.
  settings.transfer.attempts = 1;
  RunHarvest({window, window, window, window, window.scratch}, settings);

  AH_FUZZ_CHECK(!window.log.empty() && window.log.back() == kDoneLine);
  return 0;
}
