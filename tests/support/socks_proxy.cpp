#include "tests/support/socks_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "tests/support/scripted_server.h"

extern char** environ;

namespace ah::test {
namespace {

bool Accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(uint16_t(port));
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

}  // namespace

SocksProxy::SocksProxy(const std::string& user, const std::string& password) {
  // The free port is picked before the proxy binds it, so another process
  // may take it in between; a proxy that dies at start gets another port.
  for (int attempt = 0; attempt < 5 && !Running(); ++attempt) {
    const int port = RefusingPort().Port();  // let go at once, for the proxy to bind
    if (!StartOn(port, user, password) && !failure_.empty()) return;
  }
  if (!Running() && failure_.empty()) failure_ = "microsocks did not start listening";
}

SocksProxy::~SocksProxy() { Stop(); }

bool SocksProxy::StartOn(int port, const std::string& user, const std::string& password) {
  std::string port_text = std::to_string(port);
  std::vector<std::string> args = {Program(), "-i", "127.0.0.1", "-p", port_text};
  if (!user.empty()) {
    args.insert(args.end(), {"-u", user, "-P", password});
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Its connection log would only clutter the test output.
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, Program(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    failure_ = std::string(Program()) + " could not be started (is it installed?)";
    return false;
  }
  for (int i = 0; i < 500; ++i) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      // posix_spawnp reports a missing program only through the child's
      // exit code 127.
      if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
        failure_ = std::string(Program()) + " is not installed";
      return false;
    }
    if (Accepts(port)) {
      pid_ = pid;
      port_ = port;
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return false;
}

void SocksProxy::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace ah::test
