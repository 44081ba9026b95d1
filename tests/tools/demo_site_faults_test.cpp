// The demo site's faults: failing resources and a site that stops answering.

#include <httplib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "tools/album-demo-site/demo_site.h"
#include "tools/album-demo-site/fault_plan.h"

namespace ah {
namespace {

TEST(DemoFaultList, ReadsNumbersAndRanges) {
  struct Case {
    const char* text;
    std::optional<std::set<int>> numbers;
  } cases[] = {
      {"3", std::set<int>{3}},
      {"2,5-7", std::set<int>{2, 5, 6, 7}},
      {"4-4,1", std::set<int>{1, 4}},
      {"", std::nullopt},
      {"0", std::nullopt},
      {"2,", std::nullopt},
      {"7-5", std::nullopt},
      {"x", std::nullopt},
      {"1-", std::nullopt},
      {"-3", std::nullopt},
      {"1-1000000", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseNumberList(c.text), c.numbers) << c.text;
}

class DemoSiteFaults : public ::testing::Test {
 protected:
  void StartSite(DemoFaults faults) {
    DemoSiteOptions options;
    options.faults = std::move(faults);
    site_ = std::make_unique<DemoSite>(std::move(options));
    site_->Start();
    client_ = std::make_unique<httplib::Client>("127.0.0.1", site_->Port());
    images_ = std::make_unique<httplib::Client>("127.0.0.1", site_->ImagePort());
  }

  int Status(httplib::Client& client, const std::string& path) {
    auto res = client.Get(path.c_str());
    return res ? res->status : 0;
  }
  std::string ImagePath(int id) { return site_->ImageUrl(id).substr(site_->ImageRoot().size()); }

  std::unique_ptr<DemoSite> site_;
  std::unique_ptr<httplib::Client> client_, images_;
};

TEST_F(DemoSiteFaults, ChosenResourcesAnswerTheFaultStatusAndOthersWork) {
  DemoFaults faults;
  faults.images = {2};
  faults.album_pages = {3};
  faults.photo_pages = {5};
  faults.status = 503;
  faults.retry_after = 2;
  StartSite(faults);
  struct Case {
    httplib::Client* host;
    std::string path;
    int status;
  } cases[] = {
      {images_.get(), ImagePath(2), 503},
      {images_.get(), ImagePath(1), 200},
      {images_.get(), "/thumb/demo/krym-2024/2.jpg", 200},
      {client_.get(), "/users/demo/krym-2024/?page=3", 503},
      {client_.get(), "/users/demo/krym-2024/?page=2", 200},
      {client_.get(), "/users/demo/krym-2024/photo/5/", 503},
      {client_.get(), "/users/demo/krym-2024/photo/6/", 200},
  };
  for (const auto& c : cases) {
    auto res = c.host->Get(c.path.c_str());
    ASSERT_TRUE(res) << c.path;
    EXPECT_EQ(res->status, c.status) << c.path;
    EXPECT_EQ(res->get_header_value("Retry-After"), c.status == 503 ? "2" : "") << c.path;
    // Failing twice in a row: a fault is not a one-off unless told so.
    EXPECT_EQ(Status(*c.host, c.path), c.status) << c.path;
  }
  EXPECT_EQ(site_->Stats().faults, 6);
  auto log = site_->RequestLog();
  EXPECT_EQ(std::count(log.begin(), log.end(), "fault image id=2 status=503"), 2);
  EXPECT_EQ(std::count(log.begin(), log.end(), "fault album page=3 status=503"), 2);
  EXPECT_EQ(std::count(log.begin(), log.end(), "fault photo id=5 status=503"), 2);
}

TEST_F(DemoSiteFaults, AResourceFailsItsGivenTimesThenWorks) {
  DemoFaults faults;
  faults.images = {1, 2};
  faults.times = 2;
  StartSite(faults);
  EXPECT_EQ(Status(*images_, ImagePath(1)), 500);
  EXPECT_EQ(Status(*images_, ImagePath(2)), 500);
  EXPECT_EQ(Status(*images_, ImagePath(1)), 500);
  EXPECT_EQ(Status(*images_, ImagePath(1)), 200);
  EXPECT_EQ(Status(*images_, ImagePath(2)), 500);
  EXPECT_EQ(Status(*images_, ImagePath(2)), 200);
  EXPECT_EQ(site_->Stats().faults, 4);
  EXPECT_EQ(site_->Stats().images, 2);
}

TEST_F(DemoSiteFaults, AfterTheStallPointRequestsAreAcceptedAndNeverAnswered) {
  DemoFaults faults;
  faults.stall_after = 2;
  StartSite(faults);
  EXPECT_EQ(Status(*client_, "/users/demo/krym-2024/?page=1"), 200);
  EXPECT_EQ(Status(*images_, ImagePath(1)), 200);
  client_->set_read_timeout(std::chrono::milliseconds(300));
  images_->set_read_timeout(std::chrono::milliseconds(300));
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client_->Get("/users/demo/krym-2024/?page=2"));
  EXPECT_FALSE(images_->Get(ImagePath(2).c_str()));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(550));
  // The counters still answer, and tell what happened.
  httplib::Client stats("127.0.0.1", site_->Port());
  auto res = stats.Get("/__stats");
  ASSERT_TRUE(res);
  EXPECT_NE(res->body.find("\"stalled\": 2"), std::string::npos) << res->body;
  auto log = site_->RequestLog();
  EXPECT_EQ(log.back(), "stalled GET " + ImagePath(2));
  // Stalled requests do not keep the site from stopping.
  start = std::chrono::steady_clock::now();
  site_->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace ah
