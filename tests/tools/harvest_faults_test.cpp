// A hostile or broken photo site, and a folder the user already filled:
// one row per fault, each the folder as it was before, the site as the run
// meets it, and what the run must leave behind.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "tests/tools/demo_harvest.h"

namespace ah {
namespace {

namespace fs = std::filesystem;

class HarvestFaultsTest : public DemoHarvestTest {
 protected:
  std::string Bytes(const std::string& path) const { return test::FileBytes(path); }
  int ImagesServed() const { return site_->Stats().images; }
};

TEST_F(HarvestFaultsTest, EachFaultLeavesTheUsersFilesWhole) {
  struct Row {
    const char* name;
    std::function<void(DemoSiteOptions&)> site;
    // What the folder holds before the run: earlier runs, the user's files.
    std::function<void()> before;
    std::vector<std::string> flags;
    int code;
    std::function<void(const Result&)> after;
  };
  std::string manifest, gallery;  // as the row's earlier run left them
  const auto harvested = [&] {
    ASSERT_EQ(Harvest("out").code, 0);
    manifest = Bytes(Folder("out") + "/album.json");
    gallery = Bytes(Folder("out") + "/index.html");
  };
  const Row rows[] = {
      {"the wrong password over a full folder", {}, harvested, {"--password", "wrong"}, 3,
       [&](const Result&) {
         EXPECT_EQ(Bytes(Folder("out") + "/album.json"), manifest);
         EXPECT_EQ(Bytes(Folder("out") + "/index.html"), gallery);
         const int served = ImagesServed();
         EXPECT_EQ(Harvest("out").code, 0);
         EXPECT_EQ(ImagesServed(), served) << "the next good run takes every image up";
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DemoSiteOptions options;
    if (row.site) row.site(options);
    StartSite(options);
    if (row.before) row.before();
    Result r = Harvest("out", row.flags);
    EXPECT_EQ(r.code, row.code) << r.out << r.err;
    row.after(r);
    site_->Stop();
    fs::remove_all(root_ + "/out");
  }
}

}  // namespace
}  // namespace ah
