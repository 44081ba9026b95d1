// Stream reads into a descriptor-backed stream: the kernel moves the bytes,
// and every rule of a stream read (counts, closes, work, the reservation)
// holds as for any other stream; where something must see the bytes, they
// take the ordinary way.

#include "transport/kernel_splice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/scripted_server.h"
#include "tests/transport/wire_client.h"
#include "transport/exceptions.h"
#include "transport/tcp_client.h"

namespace ah {
namespace {

using test::Script;
using test::ScriptedServer;
using test::Wire;

// A file written through its descriptor; counts the bytes that went
// through Write, so a test can tell the two ways apart.
class FileSink : public TStream, public TIdKernelSink {
 public:
  explicit FileSink(int extra_flags = 0) {
    path_ = (std::filesystem::temp_directory_path() /
             ("kernel-sink-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++)))
                .string();
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | extra_flags, 0644);
  }
  ~FileSink() override {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void* buffer, int64_t count) override {
    written_through_stream_ += count;
    return ::write(fd_, buffer, size_t(count));
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    return ::lseek(fd_, offset, origin == TSeekOrigin::soBeginning ? SEEK_SET
                                : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                                   : SEEK_END);
  }
  int64_t Size() override {
    struct stat st {};
    ::fstat(fd_, &st);
    return st.st_size;
  }
  // Only cuts: a reservation ahead of the data would land before the bytes
  // of a file opened for appending.
  void SetSize(int64_t size) override {
    if (size < Size()) (void)!::ftruncate(fd_, size);
  }
  int KernelSinkDescriptor() override { return fd_; }
  void KernelWritten(int64_t count) override { kernel_written_ += count; }

  std::string Content() {
    std::string text(size_t(Size()), '\0');
    (void)!::pread(fd_, text.data(), text.size(), 0);
    return text;
  }
  int64_t written_through_stream_ = 0;
  int64_t kernel_written_ = 0;

 private:
  static inline int counter_ = 0;
  std::string path_;
  int fd_ = -1;
};

std::string Bytes(size_t n, unsigned char top = 0) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = char(top | ('a' + i % 26));
  return s;
}

constexpr size_t kBody = 3 * 1024 * 1024 + 17;

TEST(KernelSplice, ACountedReadGoesThroughTheKernelWithItsWorkAndNothingMore) {
  // The body, then bytes that belong to the next read.
  Wire w(Script().Send("head\n").Send(Bytes(kBody)).Send("next\n").StaySilent());
  int64_t work = 0;
  w.client.SetOnWork([&](TComponent*, TWorkMode, int32_t total) { work = total; });
  EXPECT_EQ(w.client.ReceiveLine(), "head");
  FileSink sink;
  w.client.ReceiveToStream(sink, int64_t(kBody));
  EXPECT_TRUE(sink.Content() == Bytes(kBody));
  EXPECT_GT(sink.kernel_written_, int64_t(kBody) / 2);
  EXPECT_EQ(sink.kernel_written_ + sink.written_through_stream_, int64_t(kBody));
  EXPECT_EQ(sink.Size(), int64_t(kBody));  // no reservation left behind
  EXPECT_EQ(work, int64_t(kBody));
  EXPECT_EQ(w.client.ReceiveLine(), "next");
}

TEST(KernelSplice, ClosesSilenceAndBytesThatMustBeSeenFollowTheRulesOfAnyRead) {
  struct Row {
    std::string name;
    Script script;
    int64_t count;  // -1: until close
    std::string error;
    bool kernel;                 // the kernel moved most of it
    int sink_flags = 0;          // O_APPEND: the kernel does not splice into it
    unsigned char top_bit = 0;   // sent with it, cleared by the ASCII filter
  } rows[] = {
      {"until close", Script().Send(Bytes(kBody)).Close(), -1, "", true},
      {"close before the count", Script().Send(Bytes(kBody)).Close(), int64_t(kBody) + 1000,
       "Connection Closed Gracefully.", true},
      {"silence", Script().Send(Bytes(kBody)).StaySilent(), int64_t(kBody) + 1, "Read Timeout",
       true},
      {"a file opened for appending", Script().Send(Bytes(kBody)).Close(), int64_t(kBody), "",
       false, O_APPEND},
      {"the ASCII filter", Script().Send(Bytes(kBody, 0x80)).Close(), int64_t(kBody), "", false, 0,
       0x80},
  };
  for (const Row& row : rows) {
    Wire w(row.script);
    // The time-out is what ends the silent row; for the others it only bounds
    // a failure, so a sender held up on a loaded machine cannot end them.
    w.client.SetReadTimeout(row.error == "Read Timeout" ? 2000 : 10000);
    w.client.SetASCIIFilter(row.top_bit != 0);
    FileSink sink(row.sink_flags);
    std::string error;
    try {
      w.client.ReceiveToStream(sink, row.count, row.count < 0);
    } catch (const EIdException& e) {
      error = e.Message();
    }
    EXPECT_EQ(error, row.error) << row.name;
    // Everything that arrived is in the sink, also when the read failed.
    EXPECT_TRUE(sink.Content() == Bytes(kBody)) << row.name;
    EXPECT_EQ(sink.kernel_written_ > int64_t(kBody) / 2, row.kernel) << row.name;
  }
}

}  // namespace
}  // namespace ah
