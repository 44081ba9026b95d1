// The socket stack over POSIX sockets: system calls, their errors and name look-ups.

#include "transport/stack.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "framework/sysutils.h"
#include "framework/text_tokens.h"
#include "transport/exceptions.h"

namespace ah {

namespace {

thread_local int t_last_error = 0;

void SetLastErrorFromErrno() { t_last_error = WSACodeFromErrno(errno); }

// A text that is no address of the socket's family.
int NotAnAddress() {
  t_last_error = Id_WSAEINVAL;
  return Id_SOCKET_ERROR;
}

// The wake-up pipe of InterruptWaits: its read end joins every wait, and
// it stays readable once written, so every waiting thread sees it.
std::atomic<bool> g_waits_interrupted{false};
std::atomic<int> g_interrupt_read{-1};
std::atomic<int> g_interrupt_write{-1};
static_assert(std::atomic<int>::is_always_lock_free);

// poll(2) over `fds` plus the wake-up pipe (room for it is at fds[count]),
// retried on EINTR; -1 with t_last_error 10004 once waits are interrupted.
// A look without waiting (timeout 0) is never cut short: closing and
// cleaning up after a stop still look at their sockets that way.
int PollUnlessInterrupted(pollfd* fds, size_t count, int timeout) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout < 0 ? 0 : timeout);
  const int wake = timeout == 0 ? -1 : g_interrupt_read.load();
  nfds_t n = nfds_t(count);
  if (wake >= 0) fds[n++] = {wake, POLLIN, 0};
  for (;;) {
    if (timeout != 0 && g_waits_interrupted.load()) {
      t_last_error = Id_WSAEINTR;
      return -1;
    }
    int wait = -1;
    if (timeout >= 0) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? int(left) : 0;
    }
    int rc = ::poll(fds, n, wait);
    if (rc >= 0) {
      if (wake >= 0 && fds[count].revents) {
        t_last_error = Id_WSAEINTR;
        return -1;
      }
      return rc;
    }
    if (errno != EINTR) {
      SetLastErrorFromErrno();
      return -1;
    }
  }
}

// An IPv4 or IPv6 socket address; length 0 when the text is no address of
// the family.
struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  sockaddr* Get() { return reinterpret_cast<sockaddr*>(&storage); }
};

// An empty ip is the family's any-address.
SocketAddress MakeAddress(TIdStack& stack, int family, int port, const std::string& ip) {
  SocketAddress a;
  a.length = 0;
  if (family == Id_PF_INET6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&a.storage);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(uint16_t(port));
    if (ip.empty() || ::inet_pton(AF_INET6, ip.c_str(), &in6->sin6_addr) == 1)
      a.length = sizeof *in6;
    return a;
  }
  auto* in = reinterpret_cast<sockaddr_in*>(&a.storage);
  in->sin_family = AF_INET;
  in->sin_port = htons(uint16_t(port));
  if (ip.empty() || stack.IsDottedIPv4(ip)) {
    if (!ip.empty()) in->sin_addr.s_addr = htonl(stack.IPv4ToAddress(ip));
    a.length = sizeof *in;
  }
  return a;
}


}  // namespace

TIdStackPosix::TIdStackPosix() {
  // No library start-up call exists here; the stack is usable at once.
}

void TIdStackPosix::SetLastError(int code) { t_last_error = code; }

TIdStackSocketHandle TIdStackPosix::StackAccept(TIdStackSocketHandle socket, std::string& ip,
                                                int& port) {
  SocketAddress peer;
  int fd;
  do {
    fd = ::accept(socket, peer.Get(), &peer.length);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    SetLastErrorFromErrno();
    return Id_INVALID_SOCKET;
  }
  ip = FormatSocketAddress(peer.Get(), &port);
  return fd;
}

int TIdStackPosix::StackBind(TIdStackSocketHandle socket, int family, int port,
                             const std::string& ip) {
  SocketAddress addr = MakeAddress(*this, family, port, ip);
  if (addr.length == 0) return NotAnAddress();
  int rc = ::bind(socket, addr.Get(), addr.length);
  if (rc < 0) SetLastErrorFromErrno();
  return rc < 0 ? Id_SOCKET_ERROR : rc;
}

int TIdStackPosix::StackCloseSocket(TIdStackSocketHandle socket) {
  int rc = ::close(socket);
  if (rc < 0) SetLastErrorFromErrno();
  return rc < 0 ? Id_SOCKET_ERROR : rc;
}

int TIdStackPosix::StackConnect(TIdStackSocketHandle socket, int family, int port,
                                const std::string& ip) {
  SocketAddress addr = MakeAddress(*this, family, port, ip);
  if (addr.length == 0) return NotAnAddress();
  int rc = ::connect(socket, addr.Get(), addr.length);
  if (rc < 0 && errno == EINTR) {
    // The connect goes on in the kernel; wait for its outcome.
    pollfd p[2] = {{socket, POLLOUT, 0}, {}};
    if (PollUnlessInterrupted(p, 1, -1) < 0) return Id_SOCKET_ERROR;
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &err, &len);
    errno = err;
    rc = err ? -1 : 0;
  }
  if (rc < 0) SetLastErrorFromErrno();
  return rc < 0 ? Id_SOCKET_ERROR : 0;
}


std::string TIdStackPosix::StackHostName() {
  char name[251] = {};
  if (::gethostname(name, 250) < 0) SetLastErrorFromErrno();
  return name;
}


int TIdStackPosix::StackServicePort(const std::string& name) {
  servent entry{};
  servent* found = nullptr;
  char buffer[1024];
  if (::getservbyname_r(name.c_str(), nullptr, &entry, buffer, sizeof buffer, &found) == 0 &&
      found)
    return ntohs(uint16_t(found->s_port));
  auto value = TryStrToInt(name);
  if (!value) throw EIdInvalidServiceName(Format("%s is not a valid service.", name.c_str()));
  return *value;
}

std::unique_ptr<TStringList> TIdStackPosix::StackServiceNames(int port) {
  auto names = std::make_unique<TStringList>();
  servent entry{};
  servent* found = nullptr;
  char buffer[1024];
  if (::getservbyport_r(htons(uint16_t(port)), nullptr, &entry, buffer, sizeof buffer, &found) ==
          0 &&
      found) {
    names->Add(found->s_name);
    for (char** alias = found->s_aliases; alias && *alias; ++alias) names->Add(*alias);
  }
  return names;
}

uint16_t TIdStackPosix::StackHostToNet16(uint16_t value) { return htons(value); }
uint16_t TIdStackPosix::StackNetToHost16(uint16_t value) { return ntohs(value); }
uint32_t TIdStackPosix::StackHostToNet32(uint32_t value) { return htonl(value); }
uint32_t TIdStackPosix::StackNetToHost32(uint32_t value) { return ntohl(value); }

int TIdStackPosix::StackListen(TIdStackSocketHandle socket, int backlog) {
  int rc = ::listen(socket, backlog);
  if (rc < 0) SetLastErrorFromErrno();
  return rc < 0 ? Id_SOCKET_ERROR : rc;
}

int TIdStackPosix::StackReceive(TIdStackSocketHandle socket, void* buffer, int length,
                                int flags) {
  ssize_t n;
  do {
    n = ::recv(socket, buffer, size_t(length), flags);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    SetLastErrorFromErrno();
    return Id_SOCKET_ERROR;
  }
  return int(n);
}

int TIdStackPosix::StackReceiveFrom(TIdStackSocketHandle socket, void* buffer, int length,
                                    int flags, std::string& ip, int& port) {
  SocketAddress sender;
  ssize_t n;
  do {
    n = ::recvfrom(socket, buffer, size_t(length), flags, sender.Get(), &sender.length);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    SetLastErrorFromErrno();
    return Id_SOCKET_ERROR;
  }
  ip = FormatSocketAddress(sender.Get(), &port);
  return int(n);
}

int TIdStackPosix::StackSelect(TIdSocketList* read, TIdSocketList* write, TIdSocketList* error,
                               int timeout) {
  if (timeout < 0 && timeout != -2) {
    t_last_error = Id_WSAEINVAL;
    return Id_SOCKET_ERROR;
  }
  // poll has no limit on descriptor numbers, unlike an fd_set. The last
  // entry is for the wake-up pipe.
  std::array<pollfd, 3 * TIdSocketListPosix::kCapacity + 1> fds;
  size_t nfds = 0;
  auto add = [&](TIdSocketList* list, short events) {
    if (!list) return;
    if (list->SocketCount() > TIdSocketListPosix::kCapacity)
      throw EIdStackSetSizeExceeded("Set Size Exceeded.");
    for (int i = 0; i < list->SocketCount(); ++i) fds[nfds++] = {list->SocketAt(i), events, 0};
  };
  add(read, POLLIN);
  add(write, POLLOUT);
  add(error, POLLPRI);

  if (PollUnlessInterrupted(fds.data(), nfds, timeout) < 0) return Id_SOCKET_ERROR;
  for (size_t i = 0; i < nfds; ++i) {
    if (fds[i].revents & POLLNVAL) {
      t_last_error = Id_WSAENOTSOCK;
      return Id_SOCKET_ERROR;
    }
  }
  int ready = 0;
  size_t at = 0;
  auto collect = [&](TIdSocketList* list, short mask) {
    if (!list) return;
    size_t n = size_t(list->SocketCount());
    list->Clear();
    for (size_t i = 0; i < n; ++i, ++at) {
      if (fds[at].revents & mask) {
        list->AddSocket(fds[at].fd);
        ++ready;
      }
    }
  };
  // A closed or failed socket counts as readable and writable, as with select.
  collect(read, POLLIN | POLLHUP | POLLERR);
  collect(write, POLLOUT | POLLHUP | POLLERR);
  collect(error, POLLPRI);
  return ready;
}

int TIdStackPosix::StackSend(TIdStackSocketHandle socket, const void* buffer, int length,
                             int flags) {
  ssize_t n;
  do {
    n = ::send(socket, buffer, size_t(length), flags | MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    SetLastErrorFromErrno();
    return Id_SOCKET_ERROR;
  }
  return int(n);
}

int TIdStackPosix::StackSendTo(TIdStackSocketHandle socket, const void* buffer, int length,
                               int flags, const std::string& ip, int port) {
  SocketAddress addr = MakeAddress(*this, AddressFamily(ip), port, ip);
  if (addr.length == 0) return NotAnAddress();
  ssize_t n;
  do {
    n = ::sendto(socket, buffer, size_t(length), flags | MSG_NOSIGNAL, addr.Get(), addr.length);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    SetLastErrorFromErrno();
    return Id_SOCKET_ERROR;
  }
  return int(n);
}

int TIdStackPosix::StackSetOption(TIdStackSocketHandle socket, int level, int option,
                                  const void* value, int length) {
  // The option numbers are the Windows ones; map the few the transport uses.
  int posix_level = level, posix_option = option;
  if (level == Id_IPPROTO_TCP && option == Id_TCP_NODELAY) {
    posix_level = IPPROTO_TCP;
    posix_option = TCP_NODELAY;
  } else if (level == 0xFFFF) {
    posix_level = SOL_SOCKET;
  }
  int rc = ::setsockopt(socket, posix_level, posix_option, value, socklen_t(length));
  if (rc < 0) SetLastErrorFromErrno();
  return rc < 0 ? Id_SOCKET_ERROR : rc;
}

TIdStackSocketHandle TIdStackPosix::StackSocket(int family, int type, int protocol) {
  int posix_type = type == Id_SOCK_STREAM ? SOCK_STREAM : type == 2 ? SOCK_DGRAM : type;
  const int posix_family = family == Id_PF_INET ? AF_INET : family == Id_PF_INET6 ? AF_INET6 : family;
  int fd = ::socket(posix_family, posix_type | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    SetLastErrorFromErrno();
    return Id_INVALID_SOCKET;
  }
  return fd;
}

int TIdStackPosix::StackShutdown(TIdStackSocketHandle socket, int how) {
  int rc = ::shutdown(socket, how);
  if (rc < 0) SetLastErrorFromErrno();
  return rc < 0 ? Id_SOCKET_ERROR : rc;
}

int TIdStackPosix::StackLastError() { return t_last_error; }

void TIdStackPosix::StackPeerName(TIdStackSocketHandle socket, int& family, std::string& ip,
                                  int& port) {
  SocketAddress addr;
  int rc = ::getpeername(socket, addr.Get(), &addr.length);
  if (rc < 0) SetLastErrorFromErrno();
  CheckSocketResult(rc < 0 ? Id_SOCKET_ERROR : 0);
  ip = FormatSocketAddress(addr.Get(), &port, &family);
}

void TIdStackPosix::StackSocketName(TIdStackSocketHandle socket, int& family, std::string& ip,
                                    int& port) {
  SocketAddress addr;
  int rc = ::getsockname(socket, addr.Get(), &addr.length);
  if (rc < 0) SetLastErrorFromErrno();
  CheckSocketResult(rc < 0 ? Id_SOCKET_ERROR : 0);
  ip = FormatSocketAddress(addr.Get(), &port, &family);
}

int TIdStackPosix::StackGetOption(TIdStackSocketHandle socket, int level, int option, void* value,
                                  int& length) {
  socklen_t len = socklen_t(length);
  int rc = ::getsockopt(socket, level, option, value, &len);
  if (rc < 0) {
    SetLastErrorFromErrno();
    return Id_SOCKET_ERROR;
  }
  length = int(len);
  return rc;
}

std::unique_ptr<TIdStack> NewStack() { return std::make_unique<TIdStackPosix>(); }

void EnableWaitInterrupts() {
  if (g_interrupt_read.load() >= 0) return;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
    throw EIdSocketError(WSACodeFromErrno(errno), SocketErrorMessage(WSACodeFromErrno(errno)));
  g_interrupt_write.store(ends[1]);
  g_interrupt_read.store(ends[0]);
  if (g_waits_interrupted.load()) InterruptWaits();
}

void InterruptWaits() noexcept {
  const int saved_errno = errno;
  g_waits_interrupted.store(true);
  const int wake = g_interrupt_write.load();
  if (wake >= 0) {
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = ::write(wake, &byte, 1);
  }
  errno = saved_errno;
}

void ClearWaitInterrupt() {
  g_waits_interrupted.store(false);
  const int wake = g_interrupt_read.load();
  char drain[64];
  if (wake >= 0)
    while (::read(wake, drain, sizeof drain) > 0) {
    }
}

bool WaitsInterrupted() noexcept { return g_waits_interrupted.load(); }

int64_t KernelSendFile(TIdStackSocketHandle socket, const std::string& file_name) {
  int fd = ::open(file_name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat st {};
  int64_t result = 0;
  if (::fstat(fd, &st) == 0) {
    // sendfile has no MSG_NOSIGNAL: hold SIGPIPE back for this thread and
    // swallow one raised by the transfer, so a gone peer is only a failure.
    sigset_t pipe_set, old_set;
    sigemptyset(&pipe_set);
    sigaddset(&pipe_set, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    bool was_pending = sigismember(&pending, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_set, &old_set);

    off_t offset = 0;
    bool ok = true;
    while (offset < st.st_size) {
      ssize_t n = ::sendfile(socket, fd, &offset, size_t(st.st_size - offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = false;
        break;
      }
    }
    if (!ok) SetLastErrorFromErrno();

    if (!was_pending) {
      timespec zero{0, 0};
      while (sigtimedwait(&pipe_set, nullptr, &zero) == SIGPIPE) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_set, nullptr);
    if (ok) result = int64_t(st.st_size);
  }
  ::close(fd);
  return result;
}

}  // namespace ah
