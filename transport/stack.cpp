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

struct ErrorText {
  int code;
  const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
};

struct ErrnoCode {
  int err;
  int code;
};

constexpr ErrnoCode kErrnoCodes[] = {
    {EINTR, 10004},           {EBADF, 10009},        {EACCES, 10013},
    {EPERM, 10013},           {EFAULT, 10014},       {EINVAL, 10022},
    {EMFILE, 10024},          {ENFILE, 10024},       {EWOULDBLOCK, 10035},
    {EINPROGRESS, 10036},     {EALREADY, 10037},     {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039},    {EMSGSIZE, 10040},     {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},     {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},      {EPFNOSUPPORT, 10046}, {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},      {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},
    {ENETUNREACH, 10051},     {ENETRESET, 10052},    {ECONNABORTED, 10053},
    {ECONNRESET, 10054},      {ENOBUFS, 10055},      {ENOMEM, 10055},
    {EISCONN, 10056},         {ENOTCONN, 10057},     {ESHUTDOWN, 10058},
    // A send after the peer has gone: Windows reports the closed socket.
    {EPIPE, 10058},           {ETOOMANYREFS, 10059}, {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},    {ELOOP, 10062},        {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},       {EHOSTUNREACH, 10065}, {ENOTEMPTY, 10066},
};

int CodeFromAddrInfoError(int rc) {
  switch (rc) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
      return Id_WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return 11002;
    case EAI_SYSTEM: return WSACodeFromErrno(errno);
    default: return 11003;
  }
}

sockaddr_in MakeAddress(TIdStack& stack, int family, int port, const std::string& ip) {
  sockaddr_in addr{};
  addr.sin_family = sa_family_t(family);
  addr.sin_port = htons(uint16_t(port));
  if (!ip.empty()) addr.sin_addr.s_addr = htonl(stack.IPv4ToAddress(ip));
  return addr;
}

std::string AddressText(const in_addr& addr) {
  const auto* b = reinterpret_cast<const uint8_t*>(&addr.s_addr);
  return FormatIPv4({b[0], b[1], b[2], b[3]});
}

// Cuts text at its first "." the way the dotted-address rules read it.
std::array<std::string, 4> CutFour(std::string_view text) {
  std::string rest(text);
  std::array<std::string, 4> parts;
  for (int i = 0; i < 3; ++i) parts[size_t(i)] = TakeToken(rest, ".");
  parts[3] = rest;
  return parts;
}

std::vector<std::string> LookUpIPv4(const std::string& host, int& error_code) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* answer = nullptr;
  int rc = getaddrinfo(host.c_str(), nullptr, &hints, &answer);
  std::vector<std::string> out;
  if (rc != 0) {
    error_code = CodeFromAddrInfoError(rc);
    return out;
  }
  for (addrinfo* a = answer; a; a = a->ai_next)
    if (a->ai_family == AF_INET)
      out.push_back(AddressText(reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr));
  freeaddrinfo(answer);
  if (out.empty()) error_code = Id_WSAHOST_NOT_FOUND;
  return out;
}

}  // namespace

std::string SocketErrorMessage(int code) {
  const char* text = "";
  if (code == Id_WSAHOST_NOT_FOUND) {
    text = "Host not found.";
  } else {
    for (const auto& e : kErrorTexts)
      if (e.code == code) text = e.text;
  }
  return Format("Socket Error # %d\r\n%s", code, text);
}

int WSACodeFromErrno(int err) {
  for (const auto& e : kErrnoCodes)
    if (e.err == err) return e.code;
  return 20000 + err;
}

bool IsDottedIPv4(std::string_view text) {
  for (const auto& part : CutFour(text)) {
    auto value = TryStrToInt(part);
    if (!value || *value < 0 || *value > 255) return false;
  }
  return true;
}

std::array<uint8_t, 4> ParseIPv4(std::string_view text) {
  auto parts = CutFour(text);
  std::array<uint8_t, 4> bytes{};
  for (size_t i = 0; i < 4; ++i) bytes[i] = uint8_t(StrToInt(parts[i]));
  return bytes;
}

std::string FormatIPv4(const std::array<uint8_t, 4>& bytes) {
  return Format("%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
}

void TIdSocketListPosix::AddSocket(TIdStackSocketHandle handle) {
  if (count_ >= kCapacity) throw EIdStackSetSizeExceeded("Set Size Exceeded.");
  handles_[size_t(count_++)] = handle;
}

void TIdSocketListPosix::RemoveSocket(TIdStackSocketHandle handle) {
  for (int i = 0; i < count_; ++i) {
    if (handles_[size_t(i)] == handle) {
      handles_[size_t(i)] = handles_[size_t(count_ - 1)];
      handles_[size_t(count_ - 1)] = 0;
      --count_;
      return;
    }
  }
}

TIdStackSocketHandle TIdSocketListPosix::SocketAt(int index) const {
  if (index < 0 || index >= count_) throw EIdStackSetSizeExceeded("Set Size Exceeded.");
  return handles_[size_t(index)];
}

std::string TIdStack::FirstLocalAddress() {
  TStrings& list = LocalAddressList();
  return list.Count() > 0 ? list.Get(0) : std::string();
}

TStrings& TIdStack::LocalAddressList() {
  if (!local_address_cache_) local_address_cache_ = std::make_unique<TStringList>();
  FillLocalAddresses();
  return *local_address_cache_;
}

bool TIdStack::CheckSocketResult(int result, std::initializer_list<int> tolerated) {
  if (result != Id_SOCKET_ERROR) return false;
  last_error_code_ = StackLastError();
  for (int code : tolerated)
    if (code == last_error_code_) return true;
  ThrowSocketError(last_error_code_);
}

void TIdStack::ThrowSocketError(int code) { throw EIdSocketError(code, SocketErrorText(code)); }

TIdStackSocketHandle TIdStack::NewSocketHandle(int type, int protocol) {
  TIdStackSocketHandle handle = StackSocket(Id_PF_INET, type, protocol);
  if (handle == Id_INVALID_SOCKET) throw EIdInvalidSocket("Cannot allocate socket.");
  return handle;
}

std::string TIdStack::ResolveHostAddress(const std::string& host) {
  if (SameText(host, "LOCALHOST")) return "127.0.0.1";
  if (IsDottedIPv4(host)) return host;
  return StackHostByName(host);
}

uint32_t TIdStack::IPv4ToAddress(std::string_view text) {
  auto b = ParseIPv4(text);
  return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

TIdStackPosix::TIdStackPosix() {
  // No library start-up call exists here; the stack is usable at once.
}

void TIdStackPosix::FillLocalAddresses() {
  if (!local_address_cache_) local_address_cache_ = std::make_unique<TStringList>();
  local_address_cache_->Clear();
  int code = 0;
  auto addresses = LookUpIPv4(StackHostName(), code);
  if (addresses.empty()) {
    t_last_error = code;
    CheckSocketResult(Id_SOCKET_ERROR);
  }
  for (const auto& a : addresses) local_address_cache_->Add(a);
}

TIdStackSocketHandle TIdStackPosix::StackAccept(TIdStackSocketHandle socket, std::string& ip,
                                                int& port) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  int fd;
  do {
    fd = ::accept(socket, reinterpret_cast<sockaddr*>(&addr), &len);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    SetLastErrorFromErrno();
    return Id_INVALID_SOCKET;
  }
  ip = AddressText(addr.sin_addr);
  port = ntohs(addr.sin_port);
  return fd;
}

int TIdStackPosix::StackBind(TIdStackSocketHandle socket, int family, int port,
                             const std::string& ip) {
  sockaddr_in addr = MakeAddress(*this, family, port, ip);
  int rc = ::bind(socket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
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
  sockaddr_in addr = MakeAddress(*this, family, port, ip);
  int rc = ::connect(socket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  if (rc < 0 && errno == EINTR) {
    // The connect goes on in the kernel; wait for its outcome.
    pollfd p{socket, POLLOUT, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &err, &len);
    errno = err;
    rc = err ? -1 : 0;
  }
  if (rc < 0) SetLastErrorFromErrno();
  return rc < 0 ? Id_SOCKET_ERROR : 0;
}

std::string TIdStackPosix::StackHostByName(const std::string& host) {
  int code = 0;
  auto addresses = LookUpIPv4(host, code);
  if (addresses.empty()) {
    t_last_error = code;
    CheckSocketResult(Id_SOCKET_ERROR);
  }
  return addresses.front();
}

std::string TIdStackPosix::StackHostName() {
  char name[251] = {};
  if (::gethostname(name, 250) < 0) SetLastErrorFromErrno();
  return name;
}

std::string TIdStackPosix::StackHostByAddress(const std::string& ip) {
  sockaddr_in addr = MakeAddress(*this, Id_PF_INET, 0, ip);
  char host[NI_MAXHOST] = {};
  int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&addr), sizeof addr, host, sizeof host,
                         nullptr, 0, NI_NAMEREQD);
  if (rc != 0) {
    t_last_error = CodeFromAddrInfoError(rc);
    CheckSocketResult(Id_SOCKET_ERROR);
  }
  return host;
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
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  ssize_t n;
  do {
    n = ::recvfrom(socket, buffer, size_t(length), flags, reinterpret_cast<sockaddr*>(&addr),
                   &len);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    SetLastErrorFromErrno();
    return Id_SOCKET_ERROR;
  }
  ip = AddressText(addr.sin_addr);
  port = ntohs(addr.sin_port);
  return int(n);
}

int TIdStackPosix::StackSelect(TIdSocketList* read, TIdSocketList* write, TIdSocketList* error,
                               int timeout) {
  if (timeout < 0 && timeout != -2) {
    t_last_error = Id_WSAEINVAL;
    return Id_SOCKET_ERROR;
  }
  // poll has no limit on descriptor numbers, unlike an fd_set.
  std::array<pollfd, 3 * TIdSocketListPosix::kCapacity> fds;
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

  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout < 0 ? 0 : timeout);
  int rc;
  for (;;) {
    int wait = -1;
    if (timeout >= 0) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? int(left) : 0;
    }
    rc = ::poll(fds.data(), nfds_t(nfds), wait);
    if (rc >= 0 || errno != EINTR) break;
  }
  if (rc < 0) {
    SetLastErrorFromErrno();
    return Id_SOCKET_ERROR;
  }
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
  sockaddr_in addr = MakeAddress(*this, Id_PF_INET, port, ip);
  ssize_t n;
  do {
    n = ::sendto(socket, buffer, size_t(length), flags | MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
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
  int fd = ::socket(family == Id_PF_INET ? AF_INET : family, posix_type | SOCK_CLOEXEC, protocol);
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
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  int rc = ::getpeername(socket, reinterpret_cast<sockaddr*>(&addr), &len);
  if (rc < 0) SetLastErrorFromErrno();
  CheckSocketResult(rc < 0 ? Id_SOCKET_ERROR : 0);
  family = addr.sin_family;
  ip = AddressText(addr.sin_addr);
  port = ntohs(addr.sin_port);
}

void TIdStackPosix::StackSocketName(TIdStackSocketHandle socket, int& family, std::string& ip,
                                    int& port) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  int rc = ::getsockname(socket, reinterpret_cast<sockaddr*>(&addr), &len);
  if (rc < 0) SetLastErrorFromErrno();
  CheckSocketResult(rc < 0 ? Id_SOCKET_ERROR : 0);
  family = addr.sin_family;
  ip = AddressText(addr.sin_addr);
  port = ntohs(addr.sin_port);
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
