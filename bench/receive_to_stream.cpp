// Streams a body from a loopback peer through TIdTCPConnection::ReceiveToStream
// into a stream that discards, next to a plain recv loop into a 32 KiB
// buffer, and prints both rates from the same run.
//
//   bench_receive_to_stream [MiB per transfer, default 1024] [rounds, default 3]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "framework/streams.h"
#include "transport/tcp_client.h"

namespace {

// Counts what it is given and keeps nothing.
class NullStream : public ah::TStream {
 public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void*, int64_t count) override {
    position_ += count;
    size_ = std::max(size_, position_);
    return count;
  }
  int64_t Seek(int64_t offset, ah::TSeekOrigin origin) override {
    if (origin == ah::TSeekOrigin::soBeginning) position_ = offset;
    if (origin == ah::TSeekOrigin::soCurrent) position_ += offset;
    if (origin == ah::TSeekOrigin::soEnd) position_ = size_ + offset;
    return position_;
  }
  int64_t Size() override { return size_; }
  void SetSize(int64_t size) override { size_ = size; }

 private:
  int64_t position_ = 0;
  int64_t size_ = 0;
};

// Accepts connections and sends `total` bytes on each, then closes.
class Peer {
 public:
  explicit Peer(int64_t total) : total_(total) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd_, 4);
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~Peer() {
    stop_ = true;
    shutdown(fd_, SHUT_RDWR);
    thread_.join();
    close(fd_);
  }
  int Port() const { return port_; }

 private:
  void Serve() {
    std::vector<char> block(256 * 1024, 'x');
    while (!stop_) {
      int c = accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      int64_t left = total_;
      while (left > 0) {
        ssize_t n = send(c, block.data(), size_t(std::min<int64_t>(left, int64_t(block.size()))),
                         MSG_NOSIGNAL);
        if (n <= 0) break;
        left -= n;
      }
      close(c);
    }
  }
  int64_t total_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double PlainLoop(int port, int64_t total) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(uint16_t(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) std::exit(1);
  static char buffer[32768];
  int64_t got = 0;
  auto start = std::chrono::steady_clock::now();
  for (;;) {
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    got += n;
  }
  double s = Seconds(start);
  close(fd);
  if (got != total) std::fprintf(stderr, "plain loop got %lld bytes\n", (long long)got);
  return double(total) / s / 1e6;
}

double ThroughConnection(int port, int64_t total, bool until_close) {
  ah::TIdTCPClient client(nullptr);
  client.SetHost("127.0.0.1");
  client.SetPort(port);
  int64_t work = 0;
  client.SetOnWork([&work](ah::TComponent*, ah::TWorkMode, int32_t n) { work = n; });
  client.OpenConnection();
  NullStream sink;
  auto start = std::chrono::steady_clock::now();
  if (until_close)
    client.ReceiveToStream(sink, -1, true);
  else
    client.ReceiveToStream(sink, total, false);
  double s = Seconds(start);
  if (sink.Size() != total || (!until_close && work != total))
    std::fprintf(stderr, "connection got %lld bytes, work %lld\n", (long long)sink.Size(),
                 (long long)work);
  client.CloseConnection();
  return double(total) / s / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const int64_t total = mib << 20;
  Peer peer(total);
  double best_plain = 0, best_length = 0, best_close = 0;
  for (int r = 0; r < rounds; ++r) {
    double plain = PlainLoop(peer.Port(), total);
    double length = ThroughConnection(peer.Port(), total, false);
    double to_close = ThroughConnection(peer.Port(), total, true);
    std::printf("round %d: plain recv %.0f MB/s, ReceiveToStream by length %.0f MB/s, until close %.0f MB/s\n",
                r + 1, plain, length, to_close);
    best_plain = std::max(best_plain, plain);
    best_length = std::max(best_length, length);
    best_close = std::max(best_close, to_close);
  }
  std::printf("best of %d, %lld MiB each: plain recv %.0f MB/s; ReceiveToStream by length %.0f MB/s (%.0f%%), until close %.0f MB/s (%.0f%%)\n",
              rounds, (long long)mib, best_plain, best_length, 100 * best_length / best_plain,
              best_close, 100 * best_close / best_plain);
  return 0;
}
