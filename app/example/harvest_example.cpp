// Runs the harvest core against a made-up two-page album: the album and
// photo pages come from an in-memory client, the images from a small HTTP
// server on 127.0.0.1. Prints the log and where the album was saved.
//
// Usage: harvest-example [output-folder]

#include <dirent.h>
#include <httplib.h>
#include <jpeglib.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/harvest_run.h"
#include "app/scratch_lines.h"
#include "framework/exception.h"
#include "http/http_client_interface.h"
#include "platform/code_page.h"
#include "platform/files.h"

namespace {

using namespace ah;

// A small colour gradient as a JPEG file.
std::string MakeJpeg(int seed) {
  const int width = 96, height = 64;
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 85, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<unsigned char> row(width * 3);
  while (cinfo.next_scanline < cinfo.image_height) {
    for (int x = 0; x < width; ++x) {
      row[x * 3] = static_cast<unsigned char>(x * 255 / width);
      row[x * 3 + 1] = static_cast<unsigned char>(cinfo.next_scanline * 255 / height);
      row[x * 3 + 2] = static_cast<unsigned char>(seed * 60);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::string jpeg(reinterpret_cast<char*>(buffer), size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return jpeg;
}

// The site's pages by address; anything else fails like an unreachable host.
class InMemorySite : public IHTTPClient {
 public:
  std::map<std::string, std::string> pages;
  void GetText(const std::string& address, std::string& text) override {
    auto it = pages.find(address);
    if (it == pages.end()) throw Exception("Socket Error # 11001\r\nHost not found.");
    text = it->second;
  }
  void PostFormText(const std::string&, TStrings&, std::string& text) override { text = "welcome"; }
  bool HandleRedirects() const override { return true; }
  void SetHandleRedirects(bool) override {}
  void SetRequestUserAgent(const std::string&) override {}
};

class ConsoleWindow : public HarvestFields, public HarvestLog, public MessagePump, public HTTPClientSlot {
 public:
  explicit ConsoleWindow(InMemorySite* site) : client_(site) {}
  std::string Edit1Text() override { return "demo"; }
  std::string Edit2Text() override { return "fotodemo42!"; }
  std::string Edit3Text() override { return "@fotopolka.example"; }
  std::string Edit4Text() override { return "http://fotopolka.example/users/demo/1/"; }
  void AddLogLine(const std::string& line) override {
    std::cout << AnsiToUtf8(line) << std::endl;
    ++lines_;
  }
  int LogLineCount() override { return lines_; }
  void ClearLog() override { lines_ = 0; }
  void ProcessMessages() override {}
  IHTTPClient* IdHTTP1() override { return client_; }
  void SetIdHTTP1(IHTTPClient* client) override { client_ = client; }
  IHTTPClient* CreateIdHTTP() override { return nullptr; }  // albums here stay under 21 pages

 private:
  IHTTPClient* client_;
  int lines_ = 0;
};

std::string AlbumPage(const std::vector<std::string>& photos, int next) {
  std::string html = "<html><head>\n<title>Летний отпуск - Фотополка</title>\n</head><body>\n";
  for (auto& p : photos) html += "<a href=\"/users/demo/1/" + p + "/#mainImageLink\"><img src=\"/t/" + p + ".jpg\"></a>\n";
  if (next) html += "<a href=\"?page=" + std::to_string(next) + "\">дальше</a>\n";
  return html + "</body></html>\n";
}

std::string PhotoPage(const std::string& image_url, const std::string& title) {
  return "<html><head><title>" + title + " - Фотополка</title></head><body>\n<img id=\"main\" src=\"" + image_url +
         "\" title=\"" + title + "\">\n</body></html>\n";
}

}  // namespace

int main(int argc, char** argv) {
  // The image host is this process, on the loopback: no proxy in between.
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);

  httplib::Server images;
  std::map<std::string, std::string> jpegs;
  for (int n = 1; n <= 4; ++n) jpegs["/photo/" + std::to_string(n) + ".jpg"] = MakeJpeg(n);
  images.Get(R"(/photo/\d+\.jpg)", [&](const httplib::Request& req, httplib::Response& res) {
    auto it = jpegs.find(req.path);
    if (it == jpegs.end()) {
      res.status = 404;
      return;
    }
    res.set_content(it->second, "image/jpeg");
  });
  const int port = images.bind_to_any_port("127.0.0.1");
  if (port <= 0) {
    std::cerr << "harvest-example: cannot listen on 127.0.0.1\n";
    return 1;
  }
  std::thread server([&] { images.listen_after_bind(); });
  while (!images.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  const std::string host = "127.0.0.1:" + std::to_string(port);
  const std::string img = "http://" + host + "/photo/";
  InMemorySite site;
  const std::string album = "http://fotopolka.example/users/demo/1/";
  site.pages[album + "?page=1"] = AlbumPage({"101", "102"}, 2);
  site.pages[album + "?page=2"] = AlbumPage({"103"}, 0);
  site.pages["http://fotopolka.example/users/demo/1/101/#mainImageLink"] = PhotoPage(img + "1.jpg", "Рассвет над морем");
  site.pages["http://fotopolka.example/users/demo/1/102/#mainImageLink"] = PhotoPage(img + "2.jpg", "Маяк?");
  site.pages["http://fotopolka.example/users/demo/1/103/#mainImageLink"] =
      PhotoPage(img + "3.jpg", "Закат: вид с холма") + PhotoPage(img + "4.jpg", "Ночь");

  std::string out;
  if (argc > 1) {
    out = argv[1];
    mkdir(out.c_str(), 0777);
  } else {
    char pattern[] = "/tmp/harvest-example-XXXXXX";
    if (!mkdtemp(pattern)) {
      std::perror("mkdtemp");
      return 1;
    }
    out = pattern;
  }

  ConsoleWindow window(&site);
  ScratchLines scratch;
  HarvestSettings settings;
  settings.profile.ImageHostMarker = host + "/photo";
  settings.output_dir = Utf8ToAnsi(out);
  RunHarvest({window, window, window, window, scratch}, settings);

  images.stop();
  server.join();

  const std::string folder = out + "/Летний отпуск/";
  std::cout << "\nAlbum saved to: " << folder << "\n";
  std::set<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.insert(e->d_name);
    closedir(d);
  }
  for (auto& name : names) {
    struct stat st{};
    stat((folder + name).c_str(), &st);
    std::cout << "  " << name << "  (" << st.st_size << " bytes)\n";
  }
  return names.size() == 4 ? 0 : 1;
}
