// The write side of the buffered connection: text, streams, files and the
// send buffer.

#include "transport/tcp_connection.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "framework/sysutils.h"
#include "transport/exceptions.h"
#include "transport/io_handler_socket.h"
#include "transport/ssl_io_handler_socket.h"
#include "transport/stack.h"

namespace ah {

namespace {

[[noreturn]] void NotConnected() { throw EIdNotConnected("Not Connected"); }

}  // namespace

void TIdTCPConnection::SendText(const std::string& text) {
  if (!text.empty()) SendBytes(text.data(), int32_t(text.size()), false);
}

void TIdTCPConnection::SendLine(const std::string& text) { SendText(text + "\r\n"); }

void TIdTCPConnection::SendStream(TStream& stream, bool from_start, bool with_length,
                                  int64_t size) {
  if (from_start) stream.SetPosition(0);
  int64_t position = stream.Position();
  const int64_t end = size == 0 ? stream.Size() : position + size;
  const int64_t total = end - position;
  if (with_length) SendInt32(int32_t(total), true);
  StartWork(wmWrite, int32_t(std::min<int64_t>(total, std::numeric_limits<int32_t>::max())));
  try {
    std::vector<char> block(size_t(std::max(send_buffer_size_, 1)));
    while (end - position > 0) {
      int64_t want = std::min<int64_t>(end - position, int64_t(block.size()));
      int64_t got = stream.Read(block.data(), want);
      if (got <= 0) throw EIdNoDataToRead("No data to read.");
      SendBytes(block.data(), int32_t(got), false);
      position += got;
    }
  } catch (...) {
    FinishWork(wmWrite);
    throw;
  }
  FinishWork(wmWrite);
}

int64_t TIdTCPConnection::SendFile(const std::string& file_name, bool allow_kernel_transfer) {
  struct stat st {};
  if (::stat(file_name.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
    throw EIdFileNotFound(Format("File \"%s\" not found", file_name.c_str()));
  // The kernel writes the file's bytes as they are: never into a TLS session.
  auto* tls = dynamic_cast<TIdSSLIOHandlerSocket*>(socket_handler_);
  if (!intercept_ && allow_kernel_transfer && socket_handler_ && socket_handler_->IsOpen() &&
      !(tls && tls->TLSActive())) {
    // Buffered writes must reach the wire before the file does.
    if (out_buffer_) FlushSendBuffer(-1);
    return KernelSendFile(socket_handler_->SocketBinding()->SocketHandle(), file_name);
  }
  TFileStream file(file_name, TFileStream::fmOpenRead | TFileStream::fmShareDenyWrite);
  SendStream(file, true, false, 0);
  return file.Size();
}

void TIdTCPConnection::SendBytes(const void* buffer, int32_t count, bool send_now) {
  if (count <= 0 || !buffer) return;
  CheckDisconnected(true, true);
  if (!IsConnected()) NotConnected();
  if (out_buffer_ && !send_now) {
    out_buffer_->AppendBytes(buffer, count);
    if (out_buffer_threshold_ > 0 && out_buffer_->Size() >= out_buffer_threshold_)
      FlushSendBuffer(out_buffer_threshold_);
    return;
  }
  const char* data = static_cast<const char*>(buffer);
  TIdSimpleBuffer filtered;
  if (intercept_) {
    filtered.AppendBytes(buffer, count);
    filtered.SetPosition(0);
    intercept_->FilterOutgoing(filtered);
    count = int32_t(filtered.Size());
    data = filtered.Memory();
  }
  // What answers this comes later; the next read asks before it receives.
  receiving_ = false;
  int32_t offset = 0;
  while (offset < count) {
    int sent = io_handler_->SendRaw(data + offset, count - offset);
    KeepResponsive(false);
    peer_closed_ = sent == 0;
    CheckDisconnected(true, false);
    if (sent == Id_SOCKET_ERROR) {
      TIdStack* stack = TheStack();
      if (stack->CheckSocketResult(sent,
                                   {Id_WSAESHUTDOWN, Id_WSAECONNABORTED, Id_WSAECONNRESET})) {
        DropSocket();
        stack->ThrowSocketError(stack->LastErrorCode());
      }
    }
    AdvanceWork(wmWrite, sent);
    offset += sent;
  }
}

void TIdTCPConnection::SendInt32(int32_t value, bool to_network_order) {
  uint32_t raw = to_network_order ? htonl(uint32_t(value)) : uint32_t(value);
  SendBytes(&raw, 4, false);
}

void TIdTCPConnection::BeginSendBuffering(int32_t threshold) {
  out_buffer_ = std::make_unique<TIdSimpleBuffer>();
  out_buffer_threshold_ = threshold;
}

void TIdTCPConnection::FlushSendBuffer(int32_t count) {
  if (!out_buffer_ || out_buffer_->Size() == 0) return;
  if (count != -1 && out_buffer_->Size() >= count) {
    SendBytes(out_buffer_->Memory(), count, true);
    out_buffer_->DropBytes(count);
  } else {
    SendBytes(out_buffer_->Memory(), int32_t(out_buffer_->Size()), true);
    out_buffer_->Empty();
  }
}

void TIdTCPConnection::ClearSendBuffer() {
  if (out_buffer_) out_buffer_->Empty();
}

void TIdTCPConnection::EndSendBuffering() {
  try {
    FlushSendBuffer(-1);
  } catch (...) {
    out_buffer_.reset();
    throw;
  }
  out_buffer_.reset();
}

}  // namespace ah
