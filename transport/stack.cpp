#include "transport/stack.h"

#include <cerrno>
#include <string_view>

#include "framework/sysutils.h"
#include "framework/text_tokens.h"
#include "transport/exceptions.h"

namespace ah {

namespace {

thread_local int t_checked_error = 0;

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

// Cuts text at its first "." the way the dotted-address rules read it.
std::array<std::string, 4> CutFour(std::string_view text) {
  std::string rest(text);
  std::array<std::string, 4> parts;
  for (int i = 0; i < 3; ++i) parts[size_t(i)] = TakeToken(rest, ".");
  parts[3] = rest;
  return parts;
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
  t_checked_error = StackLastError();
  for (int code : tolerated)
    if (code == t_checked_error) return true;
  ThrowSocketError(t_checked_error);
}

int TIdStack::LastErrorCode() const { return t_checked_error; }

void TIdStack::ThrowSocketError(int code) { throw EIdSocketError(code, SocketErrorText(code)); }

TIdStackSocketHandle TIdStack::NewSocketHandle(int type, int protocol, int family) {
  TIdStackSocketHandle handle = StackSocket(family, type, protocol);
  if (handle == Id_INVALID_SOCKET) throw EIdInvalidSocket("Cannot allocate socket.");
  return handle;
}

std::string TIdStack::ResolveHostAddress(const std::string& host) {
  if (SameText(host, "LOCALHOST")) return "127.0.0.1";
  if (IsDottedIPv4(host)) return host;
  return StackHostByName(host);
}

std::vector<std::string> TIdStack::ResolveHostAddresses(const std::string& host, int timeout,
                                                        int family) {
  if (SameText(host, "LOCALHOST")) return {"127.0.0.1"};
  if (IsDottedIPv4(host) || IsIPv6Literal(host)) {
    if (family != 0 && family != AddressFamily(host)) ThrowSocketError(Id_WSAEAFNOSUPPORT);
    return {host};
  }
  return StackResolveHost(host, family, timeout);
}

uint32_t TIdStack::IPv4ToAddress(std::string_view text) {
  auto b = ParseIPv4(text);
  return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

}  // namespace ah
