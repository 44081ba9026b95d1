// A run into a folder that an earlier run filled: what is there intact is
// kept without a request, what moved is renamed, what is spoiled or
// missing is downloaded again, and the manifest any run leaves, even a
// killed one, tells what is on disk.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "app/album/album_manifest.h"
#include "app/fetch/stop_flag.h"
#include "platform/atomic_file.h"
#include "tests/app/cli/demo_harvest.h"

namespace ah {
namespace {

namespace fs = std::filesystem;

struct Cost {
  int sign_ins, album_pages, photo_pages, images;
  bool operator==(const Cost&) const = default;
};

void PrintTo(const Cost& c, std::ostream* os) {
  *os << "{sign_ins " << c.sign_ins << ", album_pages " << c.album_pages << ", photo_pages "
      << c.photo_pages << ", images " << c.images << "}";
}

class HarvestResumeTest : public DemoHarvestTest {
 protected:
  // What the site served since `before`.
  Cost Since(const DemoSiteStats& before) const {
    DemoSiteStats now = site_->Stats();
    return {now.sign_ins - before.sign_ins, now.album_pages - before.album_pages,
            now.photo_pages - before.photo_pages, now.images - before.images};
  }
  Result Again(const std::vector<std::string>& flags, Cost& cost) {
    const DemoSiteStats before = site_->Stats();
    Result r = Harvest("album", flags);
    cost = Since(before);
    return r;
  }
  AlbumManifest Manifest() {
    std::optional<AlbumManifest> m = ReadManifest(Folder("album"));
    EXPECT_TRUE(m) << "album.json missing or not readable";
    return m.value_or(AlbumManifest{});
  }
  // Every saved record names a file with its size and digest.
  void ExpectRecordsTrue(const AlbumManifest& m) {
    for (const ManifestPhoto& p : m.photos) {
      if (p.status != PhotoStatus::psSaved) continue;
      EXPECT_TRUE(SavedFileIntact(Folder("album"), p)) << p.number;
    }
  }

  void StartAlbum(int pages, int per_page, int latency_ms = 0) {
    DemoSiteOptions options;
    options.album.pages = pages;
    options.album.photos_per_page = per_page;
    options.latency_ms = latency_ms;
    StartSite(options);
  }
};

TEST_F(HarvestResumeTest, AnUnchangedAlbumCostsItsAlbumPagesAndForceFetchesItAll) {
  StartAlbum(3, 4);
  ASSERT_EQ(Harvest("album").code, 0);
  const auto first = Album("album");
  AlbumManifest manifest = Manifest();
  for (const char* jobs : {"1", "8"}) {
    SCOPED_TRACE(jobs);
    Cost cost{};
    Result r = Again({"--jobs", jobs}, cost);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(cost, (Cost{1, 3, 0, 0}));
    EXPECT_EQ(LinesWith(r.out, " (уже есть)"), 12) << r.out;
    EXPECT_NE(r.out.find("\n  Рассвет над морем (уже есть)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Сохранено: 12 из 12, ошибок: 0"), std::string::npos) << r.out;
    EXPECT_TRUE(Album("album") == first);
    AlbumManifest again = Manifest();
    again.last_run = manifest.last_run;
    EXPECT_EQ(again, manifest);
  }
  Cost cost{};
  Result forced = Again({"--force"}, cost);
  EXPECT_EQ(forced.code, 0);
  EXPECT_EQ(cost, (Cost{1, 3, 12, 12}));
  EXPECT_EQ(LinesWith(forced.out, " (уже есть)"), 0);
  EXPECT_TRUE(Album("album") == first);
}

TEST_F(HarvestResumeTest, AnInterruptedRunIsTakenUpWhereItStopped) {
  for (const char* jobs : {"1", "8"}) {
    SCOPED_TRACE(jobs);
    StartAlbum(4, 5, 10);
    StopFlag stop;
    std::thread stopper([&] {
      for (int i = 0; i < 2000 && Images("album") < 6; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      stop.Request();
    });
    Result stopped = Harvest("album", {"--jobs", jobs}, &stop);
    stopper.join();
    ASSERT_EQ(stopped.code, 130) << stopped.err;
    const AlbumManifest left = Manifest();
    ExpectRecordsTrue(left);
    const int kept = left.SavedCount();
    EXPECT_EQ(kept, int(Album("album").size())) << "the manifest knows every file";
    EXPECT_GT(kept, 0);
    EXPECT_LT(kept, 20);
    // What the site was still answering for the cancelled transfers.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    Cost cost{};
    Result resumed = Again({"--jobs", jobs}, cost);
    EXPECT_EQ(resumed.code, 0) << resumed.err;
    EXPECT_EQ(LinesWith(resumed.out, " (уже есть)"), kept);
    EXPECT_EQ(cost, (Cost{1, 4, 20 - kept, 20 - kept}));
    const auto album = Album("album");
    EXPECT_EQ(album.size(), 20u);
    ExpectServedBytes(album);

    // A run stopped after its first page forgets none of the photos it
    // did not reach.
    StopFlag early;
    std::thread stopper2([&] {
      for (int i = 0; i < 2000 && site_->Stats().album_pages < 6; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      early.Request();
    });
    EXPECT_EQ(Harvest("album", {"--jobs", jobs}, &early).code, 130);
    stopper2.join();
    EXPECT_EQ(Manifest().SavedCount(), 20);
    site_->Stop();
    fs::remove_all(root_ + "/album");
  }
}

TEST_F(HarvestResumeTest, PhotosFoundUnderAnotherNumberAreRenamedNotDownloaded) {
  // What the earlier run is made to have seen: one photo more in front
  // (since removed), or the first photo missing (since added).
  struct Case {
    const char* name;
    int shift;
    Cost cost;
  } cases[] = {
      {"a photo removed in front", +1, {1, 2, 0, 0}},
      {"a photo added in front", -1, {1, 2, 1, 1}},
  };
  for (const auto& c : cases) {
    for (const char* jobs : {"1", "8"}) {
      SCOPED_TRACE(std::string(c.name) + ", jobs " + jobs);
      StartAlbum(2, 4);
      ASSERT_EQ(Harvest("album").code, 0);
      AlbumManifest before = Manifest();
      AlbumManifest moved = before;
      moved.photos.clear();
      for (ManifestPhoto p : before.photos) {
        const fs::path old_file = PhotoPath(Folder("album"), p.file_name);
        if (p.number + c.shift < 1) {
          fs::remove(old_file);
          continue;
        }
        p.number += c.shift;
        p.file_name = std::to_string(p.number) + p.file_name.substr(p.file_name.find('_'));
        fs::rename(old_file, PhotoPath(Folder("album"), p.file_name));
        moved.Record(p);
      }
      WriteManifest(Folder("album"), moved);

      Cost cost{};
      Result r = Again({"--jobs", jobs}, cost);
      EXPECT_EQ(r.code, 0) << r.err;
      EXPECT_EQ(cost, c.cost);
      const auto album = Album("album");
      EXPECT_EQ(album.size(), 8u) << "no file left under its old name";
      ExpectServedBytes(album);
      AlbumManifest after = Manifest();
      after.last_run = before.last_run;
      EXPECT_EQ(after, before);
      EXPECT_EQ(RemoveLeftoverTempFiles(Folder("album")), 0);
      site_->Stop();
      fs::remove_all(root_ + "/album");
    }
  }
}

TEST_F(HarvestResumeTest, AFileThatFailsItsCheckIsDownloadedAgain) {
  const std::string kFile = "5_Ура, каникулы.jpg";
  struct Case {
    const char* name;
    std::function<void(const fs::path& file)> spoil;
  } cases[] = {
      {"truncated", [](const fs::path& f) { fs::resize_file(f, fs::file_size(f) / 2); }},
      {"one byte changed",
       [](const fs::path& f) {
         std::fstream io(f, std::ios::in | std::ios::out | std::ios::binary);
         io.seekp(100);
         io.put('\x5A');
       }},
      {"deleted", [](const fs::path& f) { fs::remove(f); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StartAlbum(2, 4);
    ASSERT_EQ(Harvest("album").code, 0);
    c.spoil(Folder("album") + "/" + kFile);

    Cost cost{};
    Result r = Again({}, cost);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(cost, (Cost{1, 2, 1, 1}));
    EXPECT_NE(r.out.find("\n  Ура, каникулы\n"), std::string::npos) << r.out;
    EXPECT_EQ(LinesWith(r.out, " (уже есть)"), 7);
    ExpectServedBytes(Album("album"));
    EXPECT_EQ(Album("album").size(), 8u);
    site_->Stop();
    fs::remove_all(root_ + "/album");
  }
}

TEST_F(HarvestResumeTest, AKilledRunLeavesAManifestThatTellsWhatIsOnDisk) {
  StartAlbum(10, 10, 10);
  for (size_t enough : {8u, 40u}) {
    SCOPED_TRACE(enough);
    std::vector<std::string> args = Args(root_ + "/album");
    args.insert(args.begin(), AH_HARVEST_EXE);
    args.insert(args.end(), {"--jobs", "8", "--quiet"});
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      freopen("/dev/null", "w", stdout);
      execv(argv[0], argv.data());
      _exit(127);
    }
    // Once images are on disk and some of them in the manifest.
    const fs::path manifest = Folder("album") + "/album.json";
    for (int i = 0; i < 5000 && (Images("album") < enough || !fs::exists(manifest)); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed, exit "
                                     << WEXITSTATUS(status) << ", " << Images("album") << " images";
    // What the site was still answering for the dead run.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    const AlbumManifest left = Manifest();
    ExpectRecordsTrue(left);
    EXPECT_LE(left.SavedCount(), int(Album("album").size()));
  }
  const int kept = Manifest().SavedCount();
  Cost cost{};
  Result resumed = Again({}, cost);
  EXPECT_EQ(resumed.code, 0) << resumed.err;
  EXPECT_EQ(LinesWith(resumed.out, " (уже есть)"), kept);
  EXPECT_EQ(cost.images, 100 - kept);
  const auto album = Album("album");
  EXPECT_EQ(album.size(), 100u) << "no temporary file is left either";
  ExpectServedBytes(album);
}

}  // namespace
}  // namespace ah
