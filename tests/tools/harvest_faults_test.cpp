// A hostile or broken photo site, and a folder the user already filled:
// one row per fault, each the folder as it was before, the site as the run
// meets it, and what the run must leave behind.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "tests/tools/demo_harvest.h"

namespace ah {
namespace {

namespace fs = std::filesystem;

class HarvestFaultsTest : public DemoHarvestTest {
 protected:
  std::string Bytes(const std::string& path) const { return test::FileBytes(path); }
  int ImagesServed() const { return site_->Stats().images; }
  std::string Out(const std::string& name = "") const { return root_ + "/out/" + name; }
  // A run of another album, on a site of its own, into the same folder.
  void HarvestAnother(std::string title) {
    std::unique_ptr<DemoSite> kept = std::move(site_);
    DemoSiteOptions other;
    other.album.title = std::move(title);
    StartSite(other);
    EXPECT_EQ(Harvest("out").code, 0);
    site_ = std::move(kept);
  }
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
  std::map<std::string, std::string> files;
  const auto harvested = [&] {
    ASSERT_EQ(Harvest("out").code, 0);
    manifest = Bytes(Folder("out") + "/album.json");
    gallery = Bytes(Folder("out") + "/index.html");
  };
  const Row rows[] = {
      {"two albums whose titles clean to one name", [](DemoSiteOptions& o) { o.album.title = "Лето!"; },
       [&] {
         HarvestAnother("Лето?");
         files = FilesIn(Out("Лето"));
         manifest = Bytes(Out("Лето/album.json"));
       },
       {}, 0,
       [&](const Result& r) {
         EXPECT_TRUE(FilesIn(Out("Лето")) == files);
         EXPECT_EQ(Bytes(Out("Лето/album.json")), manifest);
         EXPECT_EQ(FilesIn(Out("Лето (2)")).size(), 12u);
         EXPECT_EQ(LinesWith(r.out, "Папка: " + Out("Лето (2)")), 1) << r.out;
         const Result again = Harvest("out");
         EXPECT_EQ(LinesWith(again.out, " (уже есть)"), 12) << "its own folder found again";
       }},
      {"a title that cleans to nothing beside the user's own index.html",
       [](DemoSiteOptions& o) { o.album.title = " . ! "; },
       [&] {
         fs::create_directories(Out());
         std::ofstream(Out("index.html")) << "my page";
       },
       {}, 0,
       [&](const Result&) {
         EXPECT_EQ(Bytes(Out("index.html")), "my page");
         EXPECT_FALSE(fs::exists(Out("album.json")));
         EXPECT_EQ(FilesIn(Out("krym-2024")).size(), 12u) << "named after the album address";
       }},
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
