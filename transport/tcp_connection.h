#pragma once
// The buffered connection: line, byte-count and stream reads over an input
// buffer, writes with optional send buffering, and the rules that decide
// when a connection counts as closed. All socket access goes through the
// I/O handler, so any TIdIOHandler (a scripted one in tests) can carry it.
//
// Ownership: the I/O handler and the intercept are referenced and cleared
// when they go away, except a handler the connection created itself
// (OwnsIOHandler), which it frees on disconnect and destruction.

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

#include "framework/streams.h"
#include "transport/component.h"
#include "transport/connection_buffers.h"
#include "transport/intercept.h"
#include "transport/io_handler.h"
#include "transport/rfc_reply.h"

namespace ah {

class TIdIOHandlerSocket;
class TIdKernelSplice;

// Stands in for an exception class reference: raises that class with the
// message. RaiseAs<EIdSocksError> is one.
using TIdExceptionClass = void (*)(const std::string& message);
template <class E>
[[noreturn]] void RaiseAs(const std::string& message) {
  throw E(message);
}

enum TIdMaxLineAction { maException, maSplit };

class TIdTCPConnection : public TIdComponent {
 public:
  AH_CLASS_NAME(TIdTCPConnection)
  explicit TIdTCPConnection(TComponent* owner);
  ~TIdTCPConnection() override;

  // Fires OnDisconnected.
  virtual void NotifyDisconnected();
  // Empties the input buffer and clears the peer-closed flag.
  virtual void ResetInputState();
  // Everything until the peer closes, in one read work phase.
  virtual std::string ReceiveAll();
  // Drops a socket whose peer closed (reporting hsDisconnected and firing
  // OnDisconnected once); raises EIdConnClosedGracefully when disconnected,
  // raise is set and the input buffer is empty or ignore_buffer is set.
  virtual void CheckDisconnected(bool raise, bool ignore_buffer = false);
  // A 1 ms look for bytes or a close; no raise on time-out.
  virtual int PollPeerClose(bool raise);
  // The code when allowed (or the list is empty), else RaiseReplyError.
  virtual int16_t CheckReplyCode(int16_t code, std::initializer_list<int16_t> allowed);
  virtual bool IsConnected();
  // User disconnect: hsDisconnecting, drop, free an owned handler,
  // OnDisconnected, hsDisconnected. Buffered input stays.
  virtual void CloseConnection();
  // Marks the peer closed, detaches the intercept and closes the handler;
  // no status, no event.
  virtual void DropSocket();
  // Reads one reply (a single line, or "ddd-" lines up to the "ddd " one)
  // into LastReply and checks its code against allowed (empty allows all).
  virtual int16_t ReadReply(std::initializer_list<int16_t> allowed = {});
  // EIdProtocolReplyError with LastReply's code and its lines, each
  // followed by CR LF.
  [[noreturn]] virtual void RaiseReplyError();
  // The same text raised as the class that raise_as stands for.
  [[noreturn]] virtual void RaiseReplyError(TIdExceptionClass raise_as);
  // Bytes received; 0 when the connection ended; -1 on a time-out without
  // raise_on_timeout. The time-out is ms, UseReadTimeout or WaitForever.
  virtual int FillInputBuffer(bool raise_if_disconnected, int timeout = UseReadTimeout,
                              bool raise_on_timeout = true);
  // A line without its terminator. With the LF default a CR before the LF
  // is dropped. max_length -1 is MaxLineLength, 0 no limit. An explicit
  // time-out that passes without a line gives "" with LineTimedOut set.
  virtual std::string ReceiveLine(const std::string& terminator = "\n",
                                  int timeout = UseReadTimeout, int max_length = -1);
  // SendLine of the line, then ReadReply; the reply code.
  virtual int16_t SendCommand(const std::string& line,
                              std::initializer_list<int16_t> allowed = {});
  virtual void SendText(const std::string& text);
  // The text and CR LF.
  virtual void SendLine(const std::string& text = std::string());
  // size 0 sends to the end of the stream.
  virtual void SendStream(TStream& stream, bool from_start = true, bool with_length = false,
                          int64_t size = 0);
  // Returns the bytes sent. EIdFileNotFound when the file is missing.
  virtual int64_t SendFile(const std::string& file_name, bool allow_kernel_transfer = true);

  void ReceiveBytes(void* buffer, int32_t count);
  int32_t ReceiveInt32(bool from_network_order = true);
  // count -1 without until_close reads a 4-byte big-endian length first.
  // Until close, ends without an exception when the peer closes.
  void ReceiveToStream(TStream& stream, int64_t count = -1, bool until_close = false);
  std::string ReceiveAvailable();
  // The first non-empty trimmed line within attempts reads, else "".
  std::string ReceiveNonEmptyLine(int32_t attempts = 0x7FFFFFFF);
  void SendBytes(const void* buffer, int32_t count, bool send_now = false);
  void SendInt32(int32_t value, bool to_network_order = true);
  // Collects writes until EndSendBuffering; a positive threshold flushes
  // that many bytes whenever that many are held.
  void BeginSendBuffering(int32_t threshold = -1);
  void FlushSendBuffer(int32_t count = -1);
  void ClearSendBuffer();
  void EndSendBuffering();

  bool ASCIIFilter() const { return ascii_filter_; }
  void SetASCIIFilter(bool value) { ascii_filter_ = value; }
  TIdConnectionIntercept* Intercept() const { return intercept_; }
  void SetIntercept(TIdConnectionIntercept* intercept);
  TIdIOHandler* IOHandler() const { return io_handler_; }
  // Frees a handler the connection owns first; the new one is referenced.
  void SetIOHandler(TIdIOHandler* handler);
  int32_t MaxLineLength() const { return max_line_length_; }
  void SetMaxLineLength(int32_t value) { max_line_length_ = value; }
  TIdMaxLineAction MaxLineAction() const { return max_line_action_; }
  void SetMaxLineAction(TIdMaxLineAction value) { max_line_action_ = value; }
  int32_t ReadTimeout() const { return read_timeout_; }
  void SetReadTimeout(int32_t value) { read_timeout_ = value; }
  // A point in time after which every read raises EIdReadTimeout, however
  // steadily bytes trickle in; the read time-out alone only bounds the
  // pause between them.
  void SetReadDeadline(std::chrono::steady_clock::time_point deadline) { read_deadline_ = deadline; }
  void ClearReadDeadline() { read_deadline_.reset(); }
  int32_t RecvBufferSize() const { return recv_buffer_size_; }
  void SetRecvBufferSize(int32_t value) { recv_buffer_size_ = value; }
  int32_t SendBufferSize() const { return send_buffer_size_; }
  void SetSendBufferSize(int32_t value) { send_buffer_size_ = value; }
  void SetOnDisconnected(TNotifyEvent handler) { on_disconnected_ = std::move(handler); }

  TIdManagedBuffer& InputBuffer() { return *in_buffer_; }
  bool PeerClosed() const { return peer_closed_; }
  bool LineTimedOut() const { return line_timed_out_; }
  bool LineWasSplit() const { return line_was_split_; }
  bool OwnsIOHandler() const { return owns_io_handler_; }
  TIdRFCReply& GreetingReply() { return *greeting_reply_; }
  TIdRFCReply& LastReply() { return *last_reply_; }

 protected:
  void Notification(TComponent* component, TOperation operation) override;
  void SetOwnsIOHandler(bool value) { owns_io_handler_ = value; }

 private:
  // RecvBufferSize, or its default when it is below 1 (a block of nothing
  // would never finish a read).
  int32_t ReceiveBlockSize() const { return recv_buffer_size_ > 0 ? recv_buffer_size_ : 32768; }
  int FillInputBufferUpTo(bool raise_if_disconnected, int timeout, bool raise_on_timeout,
                          int32_t limit);
  int ReceiveOnce(bool raise_if_disconnected, int32_t limit, bool now);
  void ReceiveBlockToStream(TStream& stream, int64_t count);
  // The part of a stream read that the kernel moves straight from the socket
  // to a TIdKernelSink's descriptor; the bytes moved, 0 when this read
  // cannot go that way. A close ends it as a receive of 0 bytes would.
  int64_t SpliceToSink(TStream& stream, int64_t remaining, bool until_close);
  [[noreturn]] void LineTooLong();
  bool DeadlinePassed() const;
  // A read's wait (ms or WaitForever) cut to what is left of the deadline.
  int WaitWithinDeadline(int timeout) const;

  bool ascii_filter_ = false;
  TIdConnectionIntercept* intercept_ = nullptr;
  TIdIOHandler* io_handler_ = nullptr;
  // The same handler when it is a socket handler (for the kernel file
  // transfer); null otherwise.
  TIdIOHandlerSocket* socket_handler_ = nullptr;
  int32_t max_line_length_ = 16384;
  TIdMaxLineAction max_line_action_ = maException;
  int32_t read_timeout_ = 0;
  std::optional<std::chrono::steady_clock::time_point> read_deadline_;
  int32_t recv_buffer_size_ = 32768;
  int32_t send_buffer_size_ = 32768;
  TNotifyEvent on_disconnected_;

  std::unique_ptr<TIdManagedBuffer> in_buffer_;
  std::unique_ptr<TIdSimpleBuffer> recv_chunk_;
  std::unique_ptr<TIdSimpleBuffer> out_buffer_;
  // Created by the first read into a kernel sink; kept across connections.
  std::unique_ptr<TIdKernelSplice> splice_;
  int32_t out_buffer_threshold_ = 0;
  bool peer_closed_ = false;
  // The last receive brought bytes and nothing was sent after it.
  bool receiving_ = false;
  bool line_timed_out_ = false;
  bool line_was_split_ = false;
  bool owns_io_handler_ = false;
  std::unique_ptr<TIdRFCReply> greeting_reply_;
  std::unique_ptr<TIdRFCReply> last_reply_;
};

}  // namespace ah
