#include "app/download_to_file.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "local_http_server.h"
#include "no_proxy.h"

namespace ah {
namespace {

const std::string kImage = std::string("\xFF\xD8\xFF\xE0", 4) + std::string(3000, '\x7F') + "\xFF\xD9";

class DownloadToFileTest : public testing::Test {
 protected:
  void SetUp() override {
    DropProxyEnvironment();
    char pattern[] = "/tmp/ah-download-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
    auto& s = server_.server();
    s.Get("/photo/1.jpg", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(kImage, "image/jpeg");
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
      res.set_content_provider(kImage.size(), "image/jpeg", [](size_t offset, size_t, httplib::DataSink& sink) {
        if (offset > 0) return false;
        sink.write(kImage.data(), kImage.size() / 2);
        return true;
      });
    });
    ASSERT_TRUE(server_.Start());
    secret_ = dir_ + "secret.txt";
    std::ofstream(secret_) << "private";
  }
  void TearDown() override {
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

  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }

  LocalHttpServer server_;
  std::string dir_, secret_;
};

TEST_F(DownloadToFileTest, SavesTheWholeBodyAndNothingElse) {
  EXPECT_TRUE(DownloadToFile(server_.Url("/photo/1.jpg"), dir_ + "1_a.jpg"));
  EXPECT_EQ(Slurp(dir_ + "1_a.jpg"), kImage);
  EXPECT_TRUE(DownloadToFile("HTTP://127.0.0.1:" + std::to_string(server_.port()) + "/photo/1.jpg", dir_ + "2_b.jpg"));
  EXPECT_EQ(Entries(), (std::set<std::string>{"1_a.jpg", "2_b.jpg", "secret.txt"}));
}

TEST_F(DownloadToFileTest, FollowsHttpRedirects) {
  EXPECT_TRUE(DownloadToFile(server_.Url("/moved.jpg"), dir_ + "m.jpg"));
  EXPECT_EQ(Slurp(dir_ + "m.jpg"), kImage);
}

TEST_F(DownloadToFileTest, FailuresReturnFalseAndLeaveNoFile) {
  const std::string cases[] = {
      server_.Url("/missing.jpg"),
      server_.Url("/broken.jpg"),
      server_.Url("/empty.jpg"),
      server_.Url("/cut.jpg"),
      "http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + "/photo/1.jpg",
      "file://" + secret_,
      server_.Url("/to-file.jpg"),
      "ftp://127.0.0.1:" + std::to_string(server_.port()) + "/photo/1.jpg",
      "127.0.0.1:" + std::to_string(server_.port()) + "/photo/1.jpg",  // no scheme
      "",
  };
  for (auto& address : cases) {
    EXPECT_FALSE(DownloadToFile(address, dir_ + "out.jpg")) << address;
    EXPECT_EQ(Entries(), std::set<std::string>{"secret.txt"}) << address;
  }
}

TEST_F(DownloadToFileTest, KeepsAnExistingFileOnFailureAndReplacesItWholeOnSuccess) {
  std::ofstream(dir_ + "keep.jpg") << "old";
  EXPECT_FALSE(DownloadToFile(server_.Url("/cut.jpg"), dir_ + "keep.jpg"));
  EXPECT_EQ(Slurp(dir_ + "keep.jpg"), "old");
  EXPECT_TRUE(DownloadToFile(server_.Url("/photo/1.jpg"), dir_ + "keep.jpg"));
  EXPECT_EQ(Slurp(dir_ + "keep.jpg"), kImage);
  EXPECT_EQ(Entries(), (std::set<std::string>{"keep.jpg", "secret.txt"}));
}

TEST_F(DownloadToFileTest, MissingFolderIsAFailure) {
  EXPECT_FALSE(DownloadToFile(server_.Url("/photo/1.jpg"), dir_ + "no/such/1.jpg"));
  EXPECT_FALSE(DownloadToFile(server_.Url("/photo/1.jpg"), dir_));
  EXPECT_EQ(Entries(), std::set<std::string>{"secret.txt"});
}

TEST_F(DownloadToFileTest, WindowsCyrillicFileNamesLandAsUtf8) {
  EXPECT_TRUE(DownloadToFile(server_.Url("/photo/1.jpg"), dir_ + "1_\xCC\xEE\xF0\xE5.jpg"));  // Море
  EXPECT_EQ(Slurp(dir_ + "1_Море.jpg"), kImage);
}

}  // namespace
}  // namespace ah
