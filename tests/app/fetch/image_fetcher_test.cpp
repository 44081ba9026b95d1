#include "app/fetch/image_fetcher.h"

#include <condition_variable>
#include <mutex>

#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "tests/support/local_http_server.h"
#include "tests/app/support/no_proxy.h"
#include "tests/support/file_bytes.h"

namespace ah {
namespace {

const std::string kJpeg = std::string("\xFF\xD8\xFF\xE0", 4) + std::string(3000, '\x7F') + "\xFF\xD9";

class ImageFetcherTest : public testing::Test {
 protected:
  void SetUp() override {
    DropProxyEnvironment();
    char pattern[] = "/tmp/ah-download-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
    auto& s = server_.server();
    s.Get("/photo/1.jpg", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(kJpeg, "image/jpeg");
    });
    s.Get("/missing.jpg", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("not here", "text/plain");
    });
    s.Get("/broken.jpg", [](const httplib::Request&, httplib::Response& res) {
      res.status = 500;
      res.set_content("oops", "text/plain");
    });
    s.Get("/empty.jpg", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("", "image/jpeg");
    });
    s.Get("/moved.jpg", [](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("/photo/1.jpg");
    });
    s.Get("/to-file.jpg", [this](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("file://" + secret_);
    });
    // Announces the whole image and then drops the connection halfway.
    s.Get("/cut.jpg", [](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(kJpeg.size(), "image/jpeg", [](size_t offset, size_t, httplib::DataSink& sink) {
        if (offset > 0) return false;
        sink.write(kJpeg.data(), kJpeg.size() / 2);
        return true;
      });
    });
    // Streams far past any limit a test sets.
    s.Get("/endless.jpg", [](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("image/jpeg", [](size_t offset, httplib::DataSink& sink) {
        const std::string block(16 * 1024, '\x7F');
        if (offset >= (size_t(8) << 20)) return false;
        return sink.write(block.data(), block.size());
      });
    });
    // Announces a body past any limit and sends nothing of it.
    s.Get("/huge.jpg", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(size_t(3) << 30, "image/jpeg", [this](size_t, size_t, httplib::DataSink&) {
        std::unique_lock lock(stall_mutex_);
        return !stall_cv_.wait_for(lock, std::chrono::seconds(10), [this] { return stall_over_; });
      });
    });
    s.Get("/busy.jpg", [](const httplib::Request&, httplib::Response& res) {
      res.status = 503;
      res.set_header("Retry-After", "4");
      res.set_content("later", "text/plain");
    });
    // Answers nothing until the test is over.
    s.Get("/stall.jpg", [this](const httplib::Request&, httplib::Response& res) {
      std::unique_lock lock(stall_mutex_);
      stall_cv_.wait_for(lock, std::chrono::seconds(10), [this] { return stall_over_; });
      res.set_content(kJpeg, "image/jpeg");
    });
    ASSERT_TRUE(server_.Start());
    secret_ = dir_ + "secret.txt";
    std::ofstream(secret_) << "private";
  }
  void TearDown() override {
    {
      std::lock_guard lock(stall_mutex_);
      stall_over_ = true;
    }
    stall_cv_.notify_all();
    server_.Stop();
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  std::set<std::string> Entries() const {
    std::set<std::string> names;
    if (DIR* d = opendir(dir_.c_str())) {
      while (dirent* e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
      closedir(d);
    }
    return names;
  }

  static std::string Slurp(const std::string& path) { return test::FileBytes(path); }

  ImageResult Download(const std::string& url, const std::string& name, int idle_ms = 60000,
                       int64_t max_bytes = ImageRequest().max_bytes) {
    ImageRequest request;
    request.url = url;
    request.path = dir_ + name;
    request.idle_timeout_ms = idle_ms;
    request.max_bytes = max_bytes;
    return fetcher_->Fetch(request);
  }
  // Whether `url` was saved as `path`.
  bool Saved(const std::string& url, const std::string& path) {
    ImageRequest request;
    request.url = url;
    request.path = path;
    return fetcher_->Fetch(request).saved;
  }

  std::unique_ptr<ImageFetcher> fetcher_ = NewCurlImageFetcher();
  test::LocalHttpServer server_;
  std::string dir_, secret_;
  std::mutex stall_mutex_;
  std::condition_variable stall_cv_;
  bool stall_over_ = false;
};

TEST_F(ImageFetcherTest, SavesTheWholeBodyAndNothingElse) {
  EXPECT_TRUE(Saved(server_.Url("/photo/1.jpg"), dir_ + "1_a.jpg"));
  EXPECT_EQ(Slurp(dir_ + "1_a.jpg"), kJpeg);
  EXPECT_TRUE(Saved("HTTP://127.0.0.1:" + std::to_string(server_.port()) + "/photo/1.jpg", dir_ + "2_b.jpg"));
  EXPECT_EQ(Entries(), (std::set<std::string>{"1_a.jpg", "2_b.jpg", "secret.txt"}));
}

TEST_F(ImageFetcherTest, FollowsHttpRedirects) {
  EXPECT_TRUE(Saved(server_.Url("/moved.jpg"), dir_ + "m.jpg"));
  EXPECT_EQ(Slurp(dir_ + "m.jpg"), kJpeg);
}

TEST_F(ImageFetcherTest, FailuresReturnFalseAndLeaveNoFile) {
  const std::string cases[] = {
      server_.Url("/missing.jpg"),
      server_.Url("/broken.jpg"),
      server_.Url("/empty.jpg"),
      server_.Url("/cut.jpg"),
      "http://127.0.0.1:" + std::to_string(test::UnusedLoopbackPort()) + "/photo/1.jpg",
      "file://" + secret_,
      server_.Url("/to-file.jpg"),
      "ftp://127.0.0.1:" + std::to_string(server_.port()) + "/photo/1.jpg",
      "127.0.0.1:" + std::to_string(server_.port()) + "/photo/1.jpg",  // no scheme
      "",
  };
  for (auto& address : cases) {
    EXPECT_FALSE(Saved(address, dir_ + "out.jpg")) << address;
    EXPECT_EQ(Entries(), std::set<std::string>{"secret.txt"}) << address;
  }
}

TEST_F(ImageFetcherTest, KeepsAnExistingFileOnFailureAndReplacesItWholeOnSuccess) {
  std::ofstream(dir_ + "keep.jpg") << "old";
  EXPECT_FALSE(Saved(server_.Url("/cut.jpg"), dir_ + "keep.jpg"));
  EXPECT_EQ(Slurp(dir_ + "keep.jpg"), "old");
  EXPECT_TRUE(Saved(server_.Url("/photo/1.jpg"), dir_ + "keep.jpg"));
  EXPECT_EQ(Slurp(dir_ + "keep.jpg"), kJpeg);
  EXPECT_EQ(Entries(), (std::set<std::string>{"keep.jpg", "secret.txt"}));
}

TEST_F(ImageFetcherTest, MissingFolderIsAFailure) {
  EXPECT_FALSE(Saved(server_.Url("/photo/1.jpg"), dir_ + "no/such/1.jpg"));
  EXPECT_FALSE(Saved(server_.Url("/photo/1.jpg"), dir_));
  EXPECT_EQ(Entries(), std::set<std::string>{"secret.txt"});
}

TEST_F(ImageFetcherTest, FileNamesAreTheFileSystemsBytes) {
  EXPECT_TRUE(Saved(server_.Url("/photo/1.jpg"), dir_ + "1_Море.jpg"));
  EXPECT_EQ(Slurp(dir_ + "1_Море.jpg"), kJpeg);
}

TEST_F(ImageFetcherTest, AFailedDownloadSaysWhyInTermsARetryCanJudge) {
  struct Case {
    std::string url, name;
    TransferError error;
    int status;
    std::string message;  // empty: any
    int64_t max_bytes = ImageRequest().max_bytes;
  } cases[] = {
      {server_.Url("/missing.jpg"), "a.jpg", TransferError::kStatus, 404, "HTTP/1.1 404 Not Found"},
      {server_.Url("/broken.jpg"), "a.jpg", TransferError::kStatus, 500, "HTTP/1.1 500 Internal Server Error"},
      {server_.Url("/cut.jpg"), "a.jpg", TransferError::kConnection, 0, ""},
      {server_.Url("/empty.jpg"), "a.jpg", TransferError::kOther, 0, "Empty reply body."},
      {server_.Url("/to-file.jpg"), "a.jpg", TransferError::kAddress, 0, ""},
      {"http://127.0.0.1:" + std::to_string(test::UnusedLoopbackPort()) + "/photo/1.jpg", "a.jpg",
       TransferError::kConnection, 0, ""},
      {"ftp://127.0.0.1/photo/1.jpg", "a.jpg", TransferError::kAddress, 0, ""},
      {server_.Url("/photo/1.jpg"), "no/such/a.jpg", TransferError::kLocalFile, 0,
       "No such file or directory"},
      {server_.Url("/endless.jpg"), "a.jpg", TransferError::kTooLarge, 0,
       "The body is larger than 65536 bytes.", 65536},
      {server_.Url("/photo/1.jpg"), "a.jpg", TransferError::kTooLarge, 0,
       "The body is larger than 3000 bytes.", 3000},
      {server_.Url("/huge.jpg"), "a.jpg", TransferError::kTooLarge, 0,
       "The body is larger than 1073741824 bytes."},
  };
  for (const auto& c : cases) {
    ImageResult result = Download(c.url, c.name, 60000, c.max_bytes);
    EXPECT_FALSE(result.saved) << c.url;
    EXPECT_EQ(result.failure.error, c.error) << c.url;
    EXPECT_EQ(result.failure.status, c.status) << c.url;
    if (!c.message.empty()) {
      EXPECT_EQ(result.failure.message, c.message) << c.url;
    }
    EXPECT_FALSE(result.failure.message.empty()) << c.url;
    EXPECT_EQ(Entries(), std::set<std::string>{"secret.txt"}) << c.url;
  }
  ImageResult busy = Download(server_.Url("/busy.jpg"), "b.jpg");
  EXPECT_EQ(busy.failure.status, 503);
  EXPECT_EQ(busy.failure.retry_after, "4");
  ImageResult saved = Download(server_.Url("/photo/1.jpg"), "c.jpg", 60000, int64_t(kJpeg.size()));
  EXPECT_TRUE(saved.saved);
  EXPECT_EQ(saved.bytes, int64_t(kJpeg.size()));
}

TEST_F(ImageFetcherTest, AHostThatSendsNothingTimesOutAndACancelStopsTheTransfer) {
  ImageResult stalled = Download(server_.Url("/stall.jpg"), "s.jpg", 1000);
  EXPECT_EQ(stalled.failure.error, TransferError::kTimeout) << stalled.failure.message;
  ImageRequest request;
  request.url = server_.Url("/stall.jpg");
  request.path = dir_ + "t.jpg";
  request.cancelled = [] { return true; };
  ImageResult cancelled = fetcher_->Fetch(request);
  EXPECT_EQ(cancelled.failure.error, TransferError::kCancelled) << cancelled.failure.message;
  EXPECT_EQ(Entries(), std::set<std::string>{"secret.txt"});
}

TEST_F(ImageFetcherTest, TheProxyIsTheCallersChoiceNotTheEnvironments) {
  // libcurl would go through this one if it read the environment itself.
  setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(test::UnusedLoopbackPort())).c_str(), 1);
  EXPECT_TRUE(Download(server_.Url("/photo/1.jpg"), "d.jpg").saved);
  ImageRequest request;
  request.url = server_.Url("/photo/1.jpg");
  request.path = dir_ + "e.jpg";
  request.proxy = ProxyAddress{"127.0.0.1", test::UnusedLoopbackPort()};
  EXPECT_EQ(fetcher_->Fetch(request).failure.error, TransferError::kConnection);
  // A chosen proxy is not bypassed for a host that no_proxy names.
  setenv("no_proxy", "127.0.0.1", 1);
  EXPECT_EQ(fetcher_->Fetch(request).failure.error, TransferError::kConnection);
  unsetenv("no_proxy");
  unsetenv("http_proxy");
}

}  // namespace
}  // namespace ah
