#include "tests/support/scripted_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace ah::test {

Script& Script::Send(std::string bytes) {
  steps_.push_back({Step::kSend, std::move(bytes), 0});
  return *this;
}

Script& Script::SendPattern(int64_t count) {
  std::string bytes(size_t(count), '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char('a' + i % 26);
  return Send(std::move(bytes));
}

Script& Script::SendForever(std::string bytes) {
  steps_.push_back({Step::kSendForever, std::move(bytes), 0});
  return *this;
}

Script& Script::ReadBytes(int64_t count) {
  steps_.push_back({Step::kReadBytes, {}, count});
  return *this;
}

Script& Script::ReadUntil(std::string marker) {
  steps_.push_back({Step::kReadUntil, std::move(marker), 0});
  return *this;
}

Script& Script::ReadAll() {
  steps_.push_back({Step::kReadAll, {}, 0});
  return *this;
}

Script& Script::Sleep(int milliseconds) {
  steps_.push_back({Step::kSleep, {}, milliseconds});
  return *this;
}

Script& Script::Close() {
  steps_.push_back({Step::kClose, {}, 0});
  return *this;
}

Script& Script::Reset() {
  steps_.push_back({Step::kReset, {}, 0});
  return *this;
}

Script& Script::ShutdownWrite() {
  steps_.push_back({Step::kShutdownWrite, {}, 0});
  return *this;
}

Script& Script::StaySilent() {
  steps_.push_back({Step::kStaySilent, {}, 0});
  return *this;
}

struct ScriptedServer::Connection {
  int fd = -1;
  std::string received;
  bool done = false;
  std::thread thread;
};

namespace {

int ListenOnLoopback(int backlog, int& port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 || listen(fd, backlog) < 0) {
    close(fd);
    throw std::runtime_error("bind/listen failed");
  }
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  port = ntohs(addr.sin_port);
  return fd;
}

// Waits until fd is ready for events or the stop pipe fires; false on stop.
bool WaitFor(int fd, short events, int stop_fd, int timeout_ms = -1) {
  pollfd p[2] = {{fd, events, 0}, {stop_fd, POLLIN, 0}};
  for (;;) {
    int rc = poll(p, 2, timeout_ms);
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return false;
    if (p[1].revents) return false;
    return true;
  }
}

}  // namespace

ScriptedServer::ScriptedServer(std::vector<Script> scripts) : scripts_(std::move(scripts)) {
  if (scripts_.empty()) scripts_.push_back(Script().Close());
  if (pipe2(stop_pipe_, O_CLOEXEC) < 0) throw std::runtime_error("pipe failed");
  listen_fd_ = ListenOnLoopback(16, port_);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
  (void)!write(stop_pipe_[1], "x", 1);
  acceptor_.join();
  for (auto& c : connections_) {
    if (c->thread.joinable()) c->thread.join();
    if (c->fd >= 0) close(c->fd);
  }
  close(listen_fd_);
  close(stop_pipe_[0]);
  close(stop_pipe_[1]);
}

void ScriptedServer::AcceptLoop() {
  while (WaitFor(listen_fd_, POLLIN, stop_pipe_[0])) {
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> guard(mutex_);
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    size_t index = connections_.size();
    const Script& script = scripts_[std::min(index, scripts_.size() - 1)];
    Connection* raw = c.get();
    connections_.push_back(std::move(c));
    raw->thread = std::thread([this, raw, &script] { Play(*raw, script); });
    changed_.notify_all();
  }
}

void ScriptedServer::Play(Connection& c, const Script& script) {
  const int stop = stop_pipe_[0];
  auto record = [&](const char* data, size_t n) {
    std::lock_guard<std::mutex> guard(mutex_);
    c.received.append(data, n);
  };
  // One receive into the record; false when the client closed or on stop.
  auto receive_some = [&](size_t limit) -> bool {
    if (!WaitFor(c.fd, POLLIN, stop)) return false;
    char buffer[65536];
    ssize_t n = recv(c.fd, buffer, std::min(limit, sizeof buffer), 0);
    if (n <= 0) return false;
    record(buffer, size_t(n));
    return true;
  };
  bool going = true;
  for (const auto& step : script.Steps()) {
    if (!going) break;
    switch (step.kind) {
      case Script::Step::kSend: {
        size_t sent = 0;
        while (sent < step.bytes.size()) {
          if (!WaitFor(c.fd, POLLOUT, stop)) break;
          ssize_t n = send(c.fd, step.bytes.data() + sent, step.bytes.size() - sent, MSG_NOSIGNAL);
          if (n <= 0) break;
          sent += size_t(n);
        }
        if (sent < step.bytes.size()) going = false;
        break;
      }
      case Script::Step::kSendForever:
        // Whole copies only, so a repeated chunk keeps its framing.
        for (size_t sent = 0; !step.bytes.empty(); sent %= step.bytes.size()) {
          if (!WaitFor(c.fd, POLLOUT, stop)) break;
          ssize_t n = send(c.fd, step.bytes.data() + sent, step.bytes.size() - sent, MSG_NOSIGNAL);
          if (n <= 0) break;
          sent += size_t(n);
        }
        going = false;
        break;
      case Script::Step::kReadBytes: {
        int64_t left = step.count;
        while (going && left > 0) {
          size_t before;
          {
            std::lock_guard<std::mutex> guard(mutex_);
            before = c.received.size();
          }
          going = receive_some(size_t(left));
          std::lock_guard<std::mutex> guard(mutex_);
          left -= int64_t(c.received.size() - before);
        }
        break;
      }
      case Script::Step::kReadUntil: {
        size_t from;
        {
          std::lock_guard<std::mutex> guard(mutex_);
          from = c.received.size();
        }
        // Byte by byte, so nothing after the marker is consumed here.
        for (;;) {
          {
            std::lock_guard<std::mutex> guard(mutex_);
            if (c.received.size() >= from + step.bytes.size() &&
                c.received.compare(c.received.size() - step.bytes.size(), step.bytes.size(),
                                   step.bytes) == 0)
              break;
          }
          if (!receive_some(1)) {
            going = false;
            break;
          }
        }
        break;
      }
      case Script::Step::kReadAll:
      case Script::Step::kStaySilent:
        while (receive_some(65536)) {
        }
        going = false;
        break;
      case Script::Step::kSleep:
        if (WaitFor(stop, POLLIN, stop, int(step.count))) going = false;
        break;
      case Script::Step::kClose: {
        std::lock_guard<std::mutex> guard(mutex_);
        close(c.fd);
        c.fd = -1;
        going = false;
        break;
      }
      case Script::Step::kReset: {
        linger l{1, 0};
        setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        std::lock_guard<std::mutex> guard(mutex_);
        close(c.fd);
        c.fd = -1;
        going = false;
        break;
      }
      case Script::Step::kShutdownWrite:
        shutdown(c.fd, SHUT_WR);
        break;
    }
  }
  std::lock_guard<std::mutex> guard(mutex_);
  c.done = true;
  changed_.notify_all();
}

int ScriptedServer::AcceptedCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return int(connections_.size());
}

std::string ScriptedServer::Received(int index, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, timeout, [&] {
    return int(connections_.size()) > index && connections_[size_t(index)]->done;
  });
  if (int(connections_.size()) <= index) return {};
  return connections_[size_t(index)]->received;
}

bool ScriptedServer::WaitForAccepted(int count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return int(connections_.size()) >= count; });
}

RefusingPort::RefusingPort() {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    throw std::runtime_error(std::string("refusing port: ") + std::strerror(errno));
  }
  port_ = ntohs(addr.sin_port);
}

RefusingPort::~RefusingPort() { close(fd_); }

StalledListener::StalledListener() {
  listen_fd_ = ListenOnLoopback(0, port_);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(uint16_t(port_));
  // Connect until one no longer completes: the queue is then full and the
  // kernel drops further handshakes.
  for (int i = 0; i < 8; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    fillers_.push_back(fd);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) continue;
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, 100) == 0) break;
  }
}

StalledListener::~StalledListener() {
  for (int fd : fillers_) close(fd);
  close(listen_fd_);
}

}  // namespace ah::test
