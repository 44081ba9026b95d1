#include "app/album/album_manifest.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "framework/exception.h"
#include "platform/atomic_file.h"
#include "platform/code_page.h"
#include "platform/sha256.h"
#include "tests/support/file_bytes.h"

namespace ah {
namespace {

namespace fs = std::filesystem;

const std::string kKrym = "Крым";
const std::string kLisa = "Лиса";

void Put(const fs::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

class ManifestTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ah-manifest-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A saved photo whose file is written into the folder.
  ManifestPhoto Saved(int number, const std::string& title, const std::string& bytes) {
    ManifestPhoto p;
    p.number = number;
    p.title = title;
    p.page_url = "http://127.0.0.1:1/users/demo/a/photo/" + std::to_string(number) + "/";
    p.image_url = "http://127.0.0.1:2/photo/demo/a/" + std::to_string(number) + ".jpg";
    p.file_name = std::to_string(number) + "_" + title + ".jpg";
    p.bytes = bytes.size();
    p.sha256 = Sha256Hex(bytes);
    p.status = PhotoStatus::psSaved;
    Put(PhotoPath(dir_, p.file_name), bytes);
    return p;
  }

  AlbumManifest Sample() {
    AlbumManifest m;
    m.album_url = "http://127.0.0.1:1/users/demo/a/";
    m.title = kKrym + " 2024";
    m.folder = (dir_ / "Крым 2024").native();
    m.last_run = ManifestTime(1700000000);
    m.Record(Saved(2, kLisa, "second image"));
    m.Record(Saved(1, kKrym, "first image"));
    ManifestPhoto failed;
    failed.number = 3;
    failed.title = "<b>\"x\"</b>";
    failed.page_url = "http://127.0.0.1:1/users/demo/a/photo/3/";
    failed.image_url = "http://127.0.0.1:2/photo/demo/a/3.jpg";
    failed.file_name = "3_x.jpg";
    failed.error = "HTTP/1.1 500 Internal Server Error";
    m.Record(failed);
    ManifestPhoto page;  // a photo page that could not be read
    page.number = 4;
    page.page_url = "http://127.0.0.1:1/users/demo/лето/photo/9/";  // as the page linked it
    page.error = "Read timed out.";
    m.Record(page);
    return m;
  }

  fs::path dir_;
};

TEST_F(ManifestTest, WritesUtf8JsonAndReadsBackTheSameRecord) {
  AlbumManifest m = Sample();
  WriteManifest(dir_, m);
  std::string text = test::FileBytes(dir_ / "album.json");
  EXPECT_NE(text.find("\"title\": \"Крым 2024\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"status\": \"failed\""), std::string::npos);
  EXPECT_NE(text.find("\"error\": \"HTTP/1.1 500 Internal Server Error\""), std::string::npos);
  EXPECT_NE(text.find("/users/demo/лето/photo/9/"), std::string::npos) << "encoded once";
  auto back = ReadManifest(dir_);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, m);
  ASSERT_EQ(back->photos.size(), 4u);
  EXPECT_EQ(back->photos[0].number, 1);  // kept in number order
  EXPECT_EQ(back->photos[3].page_url, "http://127.0.0.1:1/users/demo/лето/photo/9/");
  // The first version wrote such an address through the code page again.
  std::string old = ManifestJson(m);
  old.replace(old.find("\"version\": 2"), 12, "\"version\": 1");
  old.replace(old.find("лето"), 8, AnsiToUtf8("лето"));
  EXPECT_EQ(ParseManifest(old), m);
  EXPECT_EQ(back->SavedCount(), 2);
  EXPECT_EQ(back->FailedCount(), 2);
  // A local time with its offset: 2026-12-09T05:07:12+01:00.
  const std::string_view shape = "9999-99-99T99:99:99+99:99";
  bool shaped = m.last_run.size() == shape.size();
  for (size_t i = 0; shaped && i < shape.size(); ++i) {
    const char c = m.last_run[i];
    shaped = shape[i] == '9' ? c >= '0' && c <= '9' : shape[i] == '+' ? c == '+' || c == '-' : c == shape[i];
  }
  EXPECT_TRUE(shaped) << m.last_run;
}

TEST_F(ManifestTest, AnythingButAManifestReadsAsNone) {
  const std::string good = ManifestJson(Sample());
  auto with = [&](std::string_view from, std::string_view to) {
    std::string text = good;
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"empty", ""},
      {"truncated", good.substr(0, good.size() / 2)},
      {"cut before the last brace", good.substr(0, good.rfind('}'))},
      {"not json", "\xFF\xD8\xFF\xE0 jpeg bytes"},
      {"foreign object", R"({"name": "my album", "photos": []})"},
      {"array", "[1, 2, 3]"},
      {"other format", with("album-harvester manifest", "something else")},
      {"other version", with("\"version\": 2", "\"version\": 3")},
      {"photo without number", with("\"number\": 1", "\"number\": 0")},
      {"number twice", with("\"number\": 2", "\"number\": 1")},
      {"number as text", with("\"number\": 1", "\"number\": \"1\"")},
      {"negative size", with("\"bytes\": 11", "\"bytes\": -11")},
      {"unknown status", with("\"status\": \"failed\"", "\"status\": \"maybe\"")},
      {"saved without digest", with(Sha256Hex("first image"), "abc")},
      {"file outside the folder", with("\"file_name\": \"1_", "\"file_name\": \"../1_")},
      {"one file for two saved photos", with("2_Лиса.jpg", "1_Крым.jpg")},
      {"missing photos", with("\"photos\"", "\"pictures\"")},
      {"invalid utf-8", with("2024", "\xC3\x28")},
  };
  EXPECT_TRUE(ParseManifest(good));
  for (const auto& [name, text] : cases) EXPECT_FALSE(ParseManifest(text)) << name;

  EXPECT_FALSE(ReadManifest(dir_)) << "no file";
  fs::create_directory(dir_ / "album.json");
  EXPECT_FALSE(ReadManifest(dir_)) << "a folder of that name";
}

TEST_F(ManifestTest, AFileIsTakenAsSavedOnlyWhenItsSizeAndDigestMatch) {
  AlbumManifest m = Sample();
  const ManifestPhoto& first = *m.FindByNumber(1);
  const fs::path file = PhotoPath(dir_, first.file_name);
  const std::string image_url = first.image_url;
  const std::vector<std::pair<std::string, std::function<void()>>> cases = {
      {"missing", [&] { fs::remove(file); }},
      {"truncated", [&] { Put(file, "first ima"); }},
      {"one byte changed", [&] { Put(file, "first imagE"); }},
      {"grown", [&] { Put(file, "first image!"); }},
      {"empty", [&] { Put(file, ""); }},
      {"a folder", [&] { fs::remove(file), fs::create_directory(file); }},
  };
  EXPECT_TRUE(SavedFileIntact(dir_, first));
  EXPECT_TRUE(AlreadySaved(dir_, first, image_url));
  EXPECT_FALSE(AlreadySaved(dir_, first, image_url + "?v=2")) << "image address changed";
  EXPECT_FALSE(SavedFileIntact(dir_, *m.FindByNumber(3))) << "a failed photo";
  for (const auto& [name, spoil] : cases) {
    spoil();
    EXPECT_FALSE(SavedFileIntact(dir_, first)) << name;
    fs::remove_all(file);
    Put(file, "first image");
    EXPECT_TRUE(SavedFileIntact(dir_, first)) << name << " restored";
  }
}

TEST_F(ManifestTest, RecordsReplaceByNumber) {
  AlbumManifest m = Sample();
  EXPECT_EQ(m.FindSavedByImageUrl("http://127.0.0.1:2/photo/demo/a/3.jpg"), nullptr) << "failed";
  ManifestPhoto again = *m.FindByNumber(2), page_again = *m.FindByNumber(4);
  again.title = "new";
  page_again.error = "again";
  m.Record(again);
  m.Record(page_again);
  ASSERT_EQ(m.photos.size(), 4u);
  EXPECT_EQ(m.FindSavedByImageUrl("http://127.0.0.1:2/photo/demo/a/2.jpg")->title, "new");
  EXPECT_EQ(m.FindByNumber(4)->error, "again");
}

TEST_F(ManifestTest, AKilledWriterLeavesTheOldOrTheNewManifest) {
  AlbumManifest a = Sample(), b = Sample();
  // Large enough that a kill lands inside a write now and then.
  for (int n = 5; n < 3000; ++n) {
    ManifestPhoto p = *b.FindByNumber(3);  // failed, so no file needed
    p.number = n;
    b.Record(p);
  }
  WriteManifest(dir_, a);
  for (int round = 0; round < 6; ++round) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (;;) {
        WriteManifest(dir_, b);
        WriteManifest(dir_, a);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(15 + 20 * round));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    auto read = ReadManifest(dir_);
    ASSERT_TRUE(read) << "round " << round;
    EXPECT_TRUE(*read == a || *read == b) << "round " << round;
  }
  RemoveLeftoverTempFiles(dir_);
  for (const auto& entry : fs::directory_iterator(dir_))
    EXPECT_FALSE(entry.path().filename().native().starts_with(".")) << entry.path();
}

TEST_F(ManifestTest, AFailedWriteRaisesAndLeavesTheFolderAsItWas) {
  fs::create_directory(dir_ / "album.json");
  EXPECT_THROW(WriteManifest(dir_, Sample()), EFCreateError);
  EXPECT_TRUE(fs::is_directory(dir_ / "album.json"));
  EXPECT_EQ(RemoveLeftoverTempFiles(dir_), 0);
}

}  // namespace
}  // namespace ah
