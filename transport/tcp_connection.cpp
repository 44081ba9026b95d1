#include "transport/tcp_connection.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <vector>

#include "framework/sysutils.h"
#include "framework/text_tokens.h"
#include "transport/exceptions.h"
#include "transport/io_handler_socket.h"
#include "transport/kernel_splice.h"
#include "transport/ssl_io_handler_socket.h"
#include "transport/stack.h"

namespace ah {

namespace {

// The most a stream read reserves ahead of the data; the stream grows as
// bytes arrive beyond it, so an announced length costs nothing up front.
constexpr int64_t kMaxStreamReservation = 1 << 20;

[[noreturn]] void NotConnected() { throw EIdNotConnected("Not Connected"); }

}  // namespace

TIdTCPConnection::TIdTCPConnection(TComponent* owner)
    : TIdComponent(owner),
      in_buffer_(std::make_unique<TIdManagedBuffer>()),
      recv_chunk_(std::make_unique<TIdSimpleBuffer>()),
      greeting_reply_(std::make_unique<TIdRFCReply>()),
      last_reply_(std::make_unique<TIdRFCReply>()) {
  in_buffer_->SetBytesRemovedHandler(
      [this](TIdSimpleBuffer&, int32_t count) { AdvanceWork(wmRead, count); });
}

TIdTCPConnection::~TIdTCPConnection() {
  DropSocket();
  if (owns_io_handler_) {
    TIdIOHandler* handler = io_handler_;
    io_handler_ = nullptr;
    socket_handler_ = nullptr;
    delete handler;
  }
}

void TIdTCPConnection::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove) {
    if (component == io_handler_) {
      io_handler_ = nullptr;
      socket_handler_ = nullptr;
      owns_io_handler_ = false;
    }
    if (component == intercept_) intercept_ = nullptr;
  }
  TIdComponent::Notification(component, operation);
}

void TIdTCPConnection::SetIOHandler(TIdIOHandler* handler) {
  if (handler == io_handler_) return;
  if (io_handler_) {
    TIdIOHandler* old = io_handler_;
    io_handler_ = nullptr;
    socket_handler_ = nullptr;
    if (owns_io_handler_) {
      owns_io_handler_ = false;
      delete old;
    } else {
      RemoveFreeNotification(old);
    }
  }
  io_handler_ = handler;
  socket_handler_ = dynamic_cast<TIdIOHandlerSocket*>(handler);
  if (handler) FreeNotification(handler);
}

void TIdTCPConnection::SetIntercept(TIdConnectionIntercept* intercept) {
  if (intercept_) RemoveFreeNotification(intercept_);
  intercept_ = intercept;
  if (intercept_) FreeNotification(intercept_);
}

void TIdTCPConnection::NotifyDisconnected() {
  if (on_disconnected_) on_disconnected_(this);
}

void TIdTCPConnection::ResetInputState() {
  in_buffer_->Empty();
  peer_closed_ = false;
  receiving_ = false;
}

std::string TIdTCPConnection::ReceiveAll() {
  std::string result;
  StartWork(wmRead, 0);
  try {
    while (IsConnected()) result += ReceiveAvailable();
  } catch (...) {
    FinishWork(wmRead);
    throw;
  }
  FinishWork(wmRead);
  return result;
}

void TIdTCPConnection::CheckDisconnected(bool raise, bool ignore_buffer) {
  bool disconnected = false;
  if (peer_closed_ || !io_handler_) {
    if (io_handler_) {
      if (io_handler_->IsOpen()) {
        DropSocket();
        ReportStatus(hsDisconnected);
        NotifyDisconnected();
      }
      disconnected = true;
    }
  } else {
    disconnected = !io_handler_->IsOpen();
  }
  if (disconnected && (in_buffer_->Size() == 0 || ignore_buffer) && raise)
    throw EIdConnClosedGracefully("Connection Closed Gracefully.");
}

int TIdTCPConnection::PollPeerClose(bool raise) {
  // Asked between exchanges, when nothing is due: a look costs one call.
  receiving_ = false;
  return FillInputBuffer(raise, 1, false);
}

int16_t TIdTCPConnection::CheckReplyCode(int16_t code, std::initializer_list<int16_t> allowed) {
  if (allowed.size() == 0) return code;
  for (int16_t a : allowed)
    if (a == code) return code;
  RaiseReplyError();
  __builtin_unreachable();
}

void TIdTCPConnection::RaiseReplyError() {
  throw EIdProtocolReplyError(last_reply_->NumericCode(), last_reply_->Text().Text());
}

bool TIdTCPConnection::IsConnected() {
  CheckDisconnected(false, false);
  return io_handler_ && io_handler_->IsOpen();
}

void TIdTCPConnection::CloseConnection() {
  ReportStatus(hsDisconnecting);
  DropSocket();
  if (owns_io_handler_) {
    TIdIOHandler* handler = io_handler_;
    io_handler_ = nullptr;
    socket_handler_ = nullptr;
    owns_io_handler_ = false;
    delete handler;
  }
  NotifyDisconnected();
  ReportStatus(hsDisconnected);
}

void TIdTCPConnection::DropSocket() {
  if (!io_handler_) return;
  peer_closed_ = true;
  if (IsDesigning()) return;
  if (intercept_) intercept_->DetachConnection();
  io_handler_->CloseHandler();
}

int TIdTCPConnection::FillInputBuffer(bool raise_if_disconnected, int timeout,
                                      bool raise_on_timeout) {
  return FillInputBufferUpTo(raise_if_disconnected, timeout, raise_on_timeout,
                             ReceiveBlockSize());
}

int TIdTCPConnection::FillInputBufferUpTo(bool raise_if_disconnected, int timeout,
                                          bool raise_on_timeout, int32_t limit) {
  if (timeout == UseReadTimeout) timeout = read_timeout_ == 0 ? WaitForever : read_timeout_;
  CheckDisconnected(raise_if_disconnected, false);
  if (!IsConnected()) {
    if (raise_if_disconnected) NotConnected();
    return 0;
  }
  int result;
  do {
    if (DeadlinePassed()) {
      if (raise_on_timeout) throw EIdReadTimeout("Read Timeout");
      return -1;
    }
    // While bytes keep coming (and nothing was sent since that waits for an
    // answer) more are waiting, as a rule: take them at once instead of
    // asking first whether they are there.
    result = TIdIOHandler::kNothingYet;
    if (receiving_) result = ReceiveOnce(raise_if_disconnected, limit, true);
    if (result == TIdIOHandler::kNothingYet) {
      if (!io_handler_->WaitReadable(WaitWithinDeadline(timeout))) {
        if (raise_on_timeout) throw EIdReadTimeout("Read Timeout");
        return -1;
      }
      result = ReceiveOnce(raise_if_disconnected, limit, false);
    }
    CheckDisconnected(raise_if_disconnected, false);
  } while (result == 0 && IsConnected());
  return result;
}

bool TIdTCPConnection::DeadlinePassed() const {
  return read_deadline_ && std::chrono::steady_clock::now() >= *read_deadline_;
}

int TIdTCPConnection::WaitWithinDeadline(int timeout) const {
  if (!read_deadline_) return timeout;
  const int64_t left = std::max<int64_t>(
      0, std::chrono::ceil<std::chrono::milliseconds>(*read_deadline_ -
                                                      std::chrono::steady_clock::now())
             .count());
  if (timeout == WaitForever || timeout > left) return int(std::min<int64_t>(left, 0x7FFFFFFF));
  return timeout;
}

// One receive call into the input buffer, with the error rules of a read.
// Without waiting (now), it may give kNothingYet and change nothing.
int TIdTCPConnection::ReceiveOnce(bool raise_if_disconnected, int32_t limit, bool now) {
  if (!io_handler_) {
    if (raise_if_disconnected) NotConnected();
    return 0;
  }
  const int32_t ask = std::max<int32_t>(1, std::min(limit, ReceiveBlockSize()));
  auto receive = [&](void* into) {
    return now ? io_handler_->ReceiveNow(into, ask) : io_handler_->ReceiveRaw(into, ask);
  };
  int result;
  char* landed = nullptr;
  if (intercept_) {
    recv_chunk_->SetSize(ask);
    result = receive(recv_chunk_->MutableMemory());
  } else {
    // Without a filter the bytes go straight to the end of the input buffer.
    landed = in_buffer_->GrowEnd(ask);
    try {
      result = receive(landed);
    } catch (...) {
      in_buffer_->ShrinkEnd(ask);
      throw;
    }
    in_buffer_->ShrinkEnd(ask - std::max(result, 0));
  }
  receiving_ = result > 0;
  if (result == TIdIOHandler::kNothingYet) return result;
  peer_closed_ = result == 0;
  if (result == Id_SOCKET_ERROR) {
    TIdStack* stack = TheStack();
    if (stack->CheckSocketResult(result, {Id_WSAESHUTDOWN, Id_WSAECONNABORTED})) {
      result = 0;
      DropSocket();
      if (in_buffer_->Size() == 0) stack->ThrowSocketError(stack->LastErrorCode());
    }
    return result;
  }
  if (result > 0) {
    if (intercept_) {
      recv_chunk_->SetSize(result);
      recv_chunk_->SetPosition(0);
      intercept_->FilterReceived(*recv_chunk_);
      result = int(recv_chunk_->Size());
      landed = in_buffer_->GrowEnd(result);
      std::memcpy(landed, recv_chunk_->Memory(), size_t(result));
    }
    if (ascii_filter_)
      for (int i = 0; i < result; ++i) landed[i] = char(uint8_t(landed[i]) & 0x7F);
  }
  return result;
}

void TIdTCPConnection::LineTooLong() {
  throw EIdReadLnMaxLineLengthExceeded("Max line length exceeded.");
}

std::string TIdTCPConnection::ReceiveLine(const std::string& terminator_arg, int timeout,
                                          int max_length) {
  if (max_length == -1) max_length = max_line_length_;
  const std::string terminator = terminator_arg.empty() ? std::string("\n") : terminator_arg;
  line_was_split_ = false;
  line_timed_out_ = false;

  // An explicit time-out bounds the whole call, not each wait.
  using Clock = std::chrono::steady_clock;
  const bool bounded = timeout >= 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(bounded ? timeout : 0);

  int64_t searched = 0;
  int64_t found = 0;
  for (;;) {
    const int64_t held = in_buffer_->Size();
    if (held > 0) {
      // Back up over a terminator that may have been cut by the last receive.
      int64_t from = std::max<int64_t>(0, searched - int64_t(terminator.size()) + 1);
      size_t at = PositionInMemory(terminator, in_buffer_->Memory() + from, size_t(held - from));
      found = at ? int64_t(at) + from : 0;
      searched = held;
    }
    if (max_length != 0 && found - 1 > max_length) {
      if (max_line_action_ == maException) LineTooLong();
      line_was_split_ = true;
      return in_buffer_->TakeBytes(max_length);
    }
    if (found == 0) {
      if (max_length != 0 && searched > max_length) {
        if (max_line_action_ == maException) LineTooLong();
        line_was_split_ = true;
        return in_buffer_->TakeBytes(max_length);
      }
      CheckDisconnected(true, true);
      int wait = timeout;
      if (bounded) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        wait = left > 0 ? int(left) : 0;
      }
      int filled = FillInputBuffer(true, wait, timeout == UseReadTimeout);
      // -1 is the explicit time-out passing: the call ends there.
      line_timed_out_ = filled == 0 || filled == -1;
      if (line_timed_out_) return std::string();
    } else {
      std::string line = in_buffer_->TakeBytes(int32_t(found + int64_t(terminator.size()) - 1));
      line.resize(line.size() - terminator.size());
      if (terminator == "\n" && !line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
  }
}

void TIdTCPConnection::ReceiveBytes(void* buffer, int32_t count) {
  if (count <= 0 || !buffer) return;
  while (in_buffer_->Size() < count) {
    FillInputBuffer(true, UseReadTimeout, true);
    CheckDisconnected(true, true);
  }
  std::memcpy(buffer, in_buffer_->Memory(), size_t(count));
  in_buffer_->DropBytes(count);
}

// ReceiveBytes of count bytes written straight from the input buffer into
// the stream. Receives ask only for what fills the buffer to one
// RecvBufferSize, so a block that ends a receive leaves the buffer empty
// instead of a remainder that would have to be moved to the front.
void TIdTCPConnection::ReceiveBlockToStream(TStream& stream, int64_t count) {
  while (in_buffer_->Size() < count) {
    int64_t room = int64_t(ReceiveBlockSize()) - in_buffer_->Size();
    FillInputBufferUpTo(true, UseReadTimeout, true,
                        room > 0 ? int32_t(room) : ReceiveBlockSize());
    CheckDisconnected(true, true);
  }
  stream.WriteBuffer(in_buffer_->Memory(), count);
  in_buffer_->DropBytes(int32_t(count));
}

int32_t TIdTCPConnection::ReceiveInt32(bool from_network_order) {
  uint32_t value = 0;
  ReceiveBytes(&value, 4);
  return int32_t(from_network_order ? ntohl(value) : value);
}

void TIdTCPConnection::ReceiveToStream(TStream& stream, int64_t count, bool until_close) {
  if (count == -1 && !until_close) count = ReceiveInt32(true);
  const int64_t position = stream.Position();
  if (count >= 0) {
    int64_t reserve = position + std::min(count, kMaxStreamReservation);
    if (stream.Size() < reserve) {
      stream.SetSize(reserve);
      stream.SetPosition(position);
    }
  }
  int64_t remaining = count;
  if (until_close) {
    // Not the 32-bit maximum: a body read until close may be longer.
    remaining = std::numeric_limits<int64_t>::max();
    StartWork(wmRead, 0);
  } else {
    StartWork(wmRead, int32_t(std::min<int64_t>(count, std::numeric_limits<int32_t>::max())));
  }
  try {
    int64_t held = in_buffer_->Size();
    if (held > 0 && remaining > 0) {
      int64_t n = std::min(held, remaining);
      stream.WriteBuffer(in_buffer_->Memory(), n);
      in_buffer_->DropBytes(int32_t(n));
      remaining -= n;
    }
    if (remaining > 0 && IsConnected()) remaining -= SpliceToSink(stream, remaining, until_close);
    const int64_t chunk = std::min<int64_t>(remaining, ReceiveBlockSize());
    while (IsConnected() && remaining > 0) {
      const int64_t want = std::min(remaining, chunk);
      try {
        ReceiveBlockToStream(stream, want);
        remaining -= want;
      } catch (const EIdConnClosedGracefully&) {
        if (!until_close) throw;
        int64_t rest = in_buffer_->Size();
        if (rest > 0) stream.WriteBuffer(in_buffer_->Memory(), rest);
        in_buffer_->Empty();
        remaining -= rest;
      }
    }
  } catch (...) {
    FinishWork(wmRead);
    if (stream.Size() > stream.Position()) stream.SetSize(stream.Position());
    throw;
  }
  FinishWork(wmRead);
  if (stream.Size() > stream.Position()) stream.SetSize(stream.Position());
}

int64_t TIdTCPConnection::SpliceToSink(TStream& stream, int64_t remaining, bool until_close) {
  // Short reads are not worth the pipe; nothing may need to see the bytes.
  constexpr int64_t kWorthSplicing = 256 * 1024;
  auto* sink = dynamic_cast<TIdKernelSink*>(&stream);
  if (!sink || remaining < kWorthSplicing || intercept_ || ascii_filter_ || !socket_handler_ ||
      socket_handler_ != io_handler_ || !socket_handler_->IsOpen()) {
    return 0;
  }
  auto* tls = dynamic_cast<TIdSSLIOHandlerSocket*>(socket_handler_);
  if (tls && !tls->PassThrough()) return 0;
  const int fd = sink->KernelSinkDescriptor();
  if (fd < 0) return 0;
  if (!splice_) splice_ = std::make_unique<TIdKernelSplice>();
  if (!splice_->Usable() || !splice_->CanWriteTo(fd)) return 0;

  const int timeout = read_timeout_ == 0 ? WaitForever : read_timeout_;
  const TIdStackSocketHandle socket = socket_handler_->SocketBinding()->SocketHandle();
  int64_t moved = 0;
  try {
    while (remaining > 0) {
      if (DeadlinePassed() || !io_handler_->WaitReadable(WaitWithinDeadline(timeout))) {
        throw EIdReadTimeout("Read Timeout");
      }
      const int64_t n = splice_->Move(socket, fd, remaining);
      if (n > 0) {
        sink->KernelWritten(n);
        AdvanceWork(wmRead, int32_t(n));
        moved += n;
        remaining -= n;
        continue;
      }
      if (n == 0) {
        // The same close rules as a receive of 0 bytes.
        peer_closed_ = true;
        CheckDisconnected(!until_close, true);
        return moved;
      }
      if (n == TIdKernelSplice::kUnsupported && moved == 0) return 0;
      if (n == TIdKernelSplice::kSinkFailed) {
        throw EWriteError(std::string("Stream write error: ") + std::strerror(errno));
      }
      const int code = n == TIdKernelSplice::kUnsupported ? Id_WSAEINVAL : WSACodeFromErrno(errno);
      if (code == Id_WSAESHUTDOWN || code == Id_WSAECONNABORTED) DropSocket();
      TheStack()->ThrowSocketError(code);
    }
  } catch (...) {
    // Bytes of this read may be left in the pipe.
    splice_.reset();
    throw;
  }
  return moved;
}

std::string TIdTCPConnection::ReceiveAvailable() {
  if (IsConnected()) FillInputBuffer(false, UseReadTimeout, true);
  int64_t held = in_buffer_->Size();
  if (held == 0) return std::string();
  return in_buffer_->TakeBytes(int32_t(held));
}

std::string TIdTCPConnection::ReceiveNonEmptyLine(int32_t attempts) {
  for (int32_t i = 0; i < attempts; ++i) {
    std::string line = Trim(ReceiveLine());
    if (!line.empty()) return line;
  }
  return std::string();
}

}  // namespace ah
