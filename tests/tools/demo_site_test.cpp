#include "tools/album-demo-site/demo_site.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <chrono>
#include <csetjmp>
#include <set>

#include "tests/tools/page_reading.h"
#include "tools/album-demo-site/site_pages.h"

namespace ah {
namespace {

using namespace testing_pages;

// The body the harvester posts: its five form lines, values encoded, joined
// by "&" with a final "&".
std::string SignInBody(std::string_view login, std::string_view password,
                       std::string_view domain) {
  return "return_url=%2Fusers%2F" + std::string(login) + "%2F&login=" + std::string(login) +
         "&domain=" + std::string(domain) + "&password=" + std::string(password) +
         "&remember=on&";
}

// Whether reply holds a whole response: its head and a body by length or
// by chunks.
bool IsComplete(const std::string& reply) {
  size_t head_end = reply.find("\r\n\r\n");
  if (head_end == std::string::npos) return false;
  std::string head = reply.substr(0, head_end + 2);
  size_t body = head_end + 4;
  if (head.find("Transfer-Encoding: chunked") != std::string::npos)
    return reply.size() >= body + 5 && reply.ends_with("\r\n0\r\n\r\n");
  size_t at = head.find("Content-Length: ");
  if (at == std::string::npos) return false;  // then only the close ends it
  return reply.size() >= body + std::stoul(head.substr(at + 16));
}

// Sends request bytes as they stand and returns the first response, read
// until it is complete or the server closes the connection.
std::string RawExchange(int port, std::string_view request) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_GE(fd, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char buf[4096];
    while (!IsComplete(reply)) {
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      reply.append(buf, n);
    }
  }
  ::close(fd);
  return reply;
}

std::string HeadOf(const std::string& reply) { return reply.substr(0, reply.find("\r\n\r\n") + 2); }

struct JpegInfo {
  bool valid = false;
  int width = 0, height = 0;
};

struct JpegErrors {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

// Decodes the whole image; any libjpeg error or warning makes it invalid.
JpegInfo DecodeJpeg(const std::string& bytes) {
  JpegInfo info;
  jpeg_decompress_struct d{};
  JpegErrors errors{};
  d.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = [](j_common_ptr c) {
    std::longjmp(reinterpret_cast<JpegErrors*>(c->err)->jump, 1);
  };
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&d);
    return JpegInfo{};
  }
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  jpeg_read_header(&d, TRUE);
  jpeg_start_decompress(&d);
  std::vector<unsigned char> row(static_cast<size_t>(d.output_width) * d.output_components);
  while (d.output_scanline < d.output_height) {
    JSAMPROW r = row.data();
    jpeg_read_scanlines(&d, &r, 1);
  }
  jpeg_finish_decompress(&d);
  info.valid = errors.base.num_warnings == 0;
  info.width = static_cast<int>(d.output_width);
  info.height = static_cast<int>(d.output_height);
  jpeg_destroy_decompress(&d);
  return info;
}

class DemoSiteTest : public ::testing::Test {
 protected:
  void StartSite(DemoSiteOptions options = {}) {
    site_ = std::make_unique<DemoSite>(std::move(options));
    site_->Start();
    client_ = std::make_unique<httplib::Client>("127.0.0.1", site_->Port());
  }

  // Signs in as the harvester does; returns the session cookie pair
  // ("ph_session=...") or empty.
  std::string SignIn(std::string_view password = "open+sesame") {
    auto res = client_->Post("/login/", SignInBody("demo", password, "mail%2Eexample"),
                             "application/x-www-form-urlencoded");
    EXPECT_TRUE(res);
    if (!res) return "";
    std::string cookie = res->get_header_value("Set-Cookie");
    return cookie.substr(0, cookie.find(';'));
  }

  std::string AlbumPage(int page, const std::string& cookie) {
    httplib::Headers headers;
    if (!cookie.empty()) headers.emplace("Cookie", cookie);
    auto res = client_->Get(("/users/demo/krym-2024/?page=" + std::to_string(page)).c_str(), headers);
    EXPECT_TRUE(res);
    EXPECT_EQ(res ? res->status : 0, 200) << "page " << page;
    return res ? res->body : "";
  }

  std::unique_ptr<DemoSite> site_;
  std::unique_ptr<httplib::Client> client_;
};

TEST_F(DemoSiteTest, SignInSetsASessionCookieAndRedirectsToTheReturnAddress) {
  StartSite();
  auto res = client_->Post("/login/", SignInBody("demo", "open+sesame", "mail%2Eexample"),
                           "application/x-www-form-urlencoded");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 302);
  EXPECT_EQ(res->get_header_value("Location"), "/users/demo/");
  std::string cookie = res->get_header_value("Set-Cookie");
  EXPECT_TRUE(cookie.starts_with("ph_session=s1-")) << cookie;
  // The client's jar sends only cookies that carry a path.
  EXPECT_TRUE(Contains(cookie, "; path=/")) << cookie;
  EXPECT_TRUE(Contains(cookie, "; expires=")) << cookie;
  EXPECT_EQ(site_->Stats().sign_ins, 1);
  EXPECT_EQ(site_->RequestLog().back(), "sign-in ok login=demo session=s1");
}

TEST_F(DemoSiteTest, RefusesWrongCredentialsWithoutCookieOrRedirect) {
  StartSite();
  struct Case {
    std::string login, password, domain;
  } cases[] = {
      {"demo", "open+sesam", "mail%2Eexample"},
      {"demo", "open%20sesame", "mail%2Eexampl"},
      {"demo2", "open+sesame", "mail%2Eexample"},
      {"demo", "", "mail%2Eexample"},
  };
  for (const auto& c : cases) {
    auto res = client_->Post("/login/", SignInBody(c.login, c.password, c.domain),
                             "application/x-www-form-urlencoded");
    ASSERT_TRUE(res);
    std::string what = c.login + " " + c.password + " " + c.domain;
    EXPECT_EQ(res->status, 200) << what;
    EXPECT_FALSE(res->has_header("Set-Cookie")) << what;
    EXPECT_FALSE(res->has_header("Location")) << what;
    EXPECT_TRUE(Contains(res->body, "Неверный логин или пароль")) << what;
  }
  EXPECT_EQ(site_->Stats().refused_sign_ins, 4);
  EXPECT_EQ(site_->Stats().sign_ins, 0);
  // A percent-encoded space is the same password as "+".
  EXPECT_FALSE(SignIn("open%20sesame").empty());
}

TEST_F(DemoSiteTest, AcceptsTheHarvesterPostAsItGoesOnTheWire) {
  StartSite();
  std::string body = SignInBody("demo", "open+sesame", "mail%2Eexample");
  std::string reply = RawExchange(
      site_->Port(),
      "POST /login/ HTTP/1.0\r\nConnection: keep-alive\r\n"
      "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
          std::to_string(body.size()) + "\r\nHost: 127.0.0.1\r\nAccept: text/html, */*\r\n"
          "User-Agent: Mozilla/5.0 (Windows NT 5.1; rv:33.0) Gecko/20100101 Firefox/33.0\r\n\r\n" +
          body);
  EXPECT_TRUE(reply.starts_with("HTTP/1.1 302")) << reply;
  // Without a length the client would wait for the close of a kept connection.
  EXPECT_TRUE(Contains(HeadOf(reply), "\r\nContent-Length: ")) << reply;
  EXPECT_TRUE(Contains(HeadOf(reply), "\r\nLocation: /users/demo/\r\n")) << reply;
  EXPECT_EQ(site_->Stats().sign_ins, 1);
}

TEST_F(DemoSiteTest, FollowsTheRedirectedPostToTheUserPage) {
  StartSite();
  std::string cookie = SignIn();
  auto res = client_->Post("/users/demo/", httplib::Headers{{"Cookie", cookie}},
                           SignInBody("demo", "open+sesame", "mail%2Eexample"),
                           "application/x-www-form-urlencoded");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_TRUE(Contains(res->body, "Вы вошли как <b>demo</b>")) << res->body;
}

TEST_F(DemoSiteTest, ShowsPhotoLinksOnlyToASignedInSession) {
  DemoSiteOptions options;
  options.album.pages = 2;
  options.album.photos_per_page = 3;
  StartSite(options);
  std::string suffix = site_->TitleSuffix();
  EXPECT_TRUE(ReadAlbumPage(AlbumPage(1, ""), 1, suffix).photo_links.empty());
  EXPECT_TRUE(ReadAlbumPage(AlbumPage(1, "ph_session=s1-forged"), 1, suffix).photo_links.empty());
  std::string cookie = SignIn();
  ASSERT_FALSE(cookie.empty());
  auto one = ReadAlbumPage(AlbumPage(1, "ph_lang=ru; " + cookie), 1, suffix);
  EXPECT_EQ(one.photo_links.size(), 3u);
  EXPECT_TRUE(one.next_page);
  EXPECT_EQ(one.decoys, 1);
  auto two = ReadAlbumPage(AlbumPage(2, cookie), 2, suffix);
  EXPECT_EQ(two.photo_links.size(), 3u);
  EXPECT_FALSE(two.next_page);
  EXPECT_EQ(two.titles, std::vector<std::string>{options.album.title});
  DemoSiteStats s = site_->Stats();
  EXPECT_EQ(s.album_pages, 4);
  EXPECT_EQ(s.album_pages_with_photos, 2);
}

TEST_F(DemoSiteTest, SessionEndsAfterItsPageRequestsUntilTheNextSignIn) {
  DemoSiteOptions options;
  options.album.pages = 5;
  options.session_requests = 2;
  StartSite(options);
  std::string suffix = site_->TitleSuffix();
  std::string first = SignIn();
  EXPECT_EQ(ReadAlbumPage(AlbumPage(1, first), 1, suffix).photo_links.size(), 4u);
  EXPECT_EQ(ReadAlbumPage(AlbumPage(2, first), 2, suffix).photo_links.size(), 4u);
  EXPECT_TRUE(ReadAlbumPage(AlbumPage(3, first), 3, suffix).photo_links.empty());
  EXPECT_TRUE(ReadAlbumPage(AlbumPage(3, first), 3, suffix).photo_links.empty());
  std::string second = SignIn();
  EXPECT_NE(second, first);
  EXPECT_EQ(ReadAlbumPage(AlbumPage(3, second), 3, suffix).photo_links.size(), 4u);
  // Photo pages and images do not use up a session.
  client_->Get("/users/demo/krym-2024/photo/9/", httplib::Headers{{"Cookie", second}});
  EXPECT_EQ(ReadAlbumPage(AlbumPage(4, second), 4, suffix).photo_links.size(), 4u);

  EXPECT_EQ(site_->Stats().expired_sessions, 1);
  std::vector<std::string> expected = {
      "sign-in ok login=demo session=s1",
      "album page=1 session=s1 photos=yes",
      "album page=2 session=s1 photos=yes",
      "album page=3 session=s1 expired photos=no",
      "album page=3 session=unknown photos=no",
      "sign-in ok login=demo session=s2",
      "album page=3 session=s2 photos=yes",
      "photo id=9",
      "album page=4 session=s2 photos=yes",
  };
  EXPECT_EQ(site_->RequestLog(), expected);
}

TEST_F(DemoSiteTest, ChunkedModeSendsTheSamePagesInChunks) {
  DemoSiteOptions options;
  options.chunked = true;
  StartSite(options);
  std::string cookie = SignIn();
  auto res = client_->Get("/users/demo/krym-2024/?page=2", httplib::Headers{{"Cookie", cookie}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->get_header_value("Transfer-Encoding"), "chunked");
  EXPECT_FALSE(res->has_header("Content-Length"));
  EXPECT_EQ(res->body, AlbumPageHtml(options.album, site_->ImageRoot(), 2, "demo"));

  std::string reply = RawExchange(site_->Port(),
                                  "GET /users/demo/krym-2024/photo/5/ HTTP/1.1\r\nHost: x\r\n"
                                  "Connection: close\r\n\r\n");
  EXPECT_TRUE(Contains(HeadOf(reply), "Transfer-Encoding: chunked")) << HeadOf(reply);
  // Several chunks, the first of them 997 bytes (0x3e5).
  EXPECT_TRUE(Contains(reply, "\r\n\r\n3e5\r\n")) << reply.substr(0, 400);
  EXPECT_TRUE(reply.ends_with("\r\n0\r\n\r\n")) << reply.substr(reply.size() - 40);

  // HTTP/1.0 has no chunked coding: such a request gets a length.
  std::string old = RawExchange(site_->Port(),
                                "GET /users/demo/krym-2024/?page=1 HTTP/1.0\r\nHost: x\r\n\r\n");
  EXPECT_TRUE(Contains(HeadOf(old), "Content-Length: ")) << HeadOf(old);
  EXPECT_FALSE(Contains(HeadOf(old), "chunked")) << HeadOf(old);
}

TEST_F(DemoSiteTest, WithoutChunkedModePagesCarryALength) {
  StartSite();
  auto res = client_->Get("/users/demo/krym-2024/?page=1");
  ASSERT_TRUE(res);
  EXPECT_TRUE(res->has_header("Content-Length"));
  EXPECT_FALSE(res->has_header("Transfer-Encoding"));
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=utf-8");
}

TEST_F(DemoSiteTest, PhotoPageReadsAsTheRunReadsItAndNamesAServedImage) {
  DemoSiteOptions options;
  options.album.pages = 2;
  StartSite(options);
  httplib::Client images("127.0.0.1", site_->ImagePort());
  for (int id = 1; id <= 8; ++id) {
    // The run appends the album page's whole line, fragment included.
    std::string link = "/users/demo/krym-2024/photo/" + std::to_string(id) + "/#mainImageLink";
    std::string reply = RawExchange(site_->Port(), "GET " + link + " HTTP/1.0\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(reply.starts_with("HTTP/1.1 200")) << link << "\n" << HeadOf(reply);
    std::string page = reply.substr(reply.find("\r\n\r\n") + 4);
    auto hits = ReadPhotoPage(page, site_->ImageHostMarker());
    ASSERT_EQ(hits.size(), 1u) << link;
    EXPECT_EQ(hits[0].address, site_->ImageUrl(id));
    EXPECT_EQ(hits[0].title, StripTagsAndTrim(DemoPhotoTitle(id)));
    std::string path = hits[0].address.substr(site_->ImageRoot().size());
    auto image = images.Get(path.c_str());
    ASSERT_TRUE(image) << path;
    EXPECT_EQ(image->status, 200) << path;
  }
  EXPECT_EQ(site_->Stats().photo_pages, 8);
  EXPECT_EQ(site_->Stats().images, 8);
}

TEST_F(DemoSiteTest, ImagesAreValidJpegsThatStayTheSameAndDiffer) {
  StartSite();
  httplib::Client images("127.0.0.1", site_->ImagePort());
  std::vector<std::string> served;
  for (int id = 1; id <= 4; ++id) {
    std::string path = site_->ImageUrl(id).substr(site_->ImageRoot().size());
    auto first = images.Get(path.c_str());
    auto again = images.Get(path.c_str());
    ASSERT_TRUE(first && again) << path;
    EXPECT_EQ(first->get_header_value("Content-Type"), "image/jpeg");
    EXPECT_EQ(first->body, again->body) << path;
    EXPECT_EQ(first->body, site_->ImageBytes(id)) << path;
    EXPECT_GE(first->body.size(), 10u * 1024) << path;
    EXPECT_LE(first->body.size(), 200u * 1024) << path;
    JpegInfo info = DecodeJpeg(first->body);
    EXPECT_TRUE(info.valid) << path;
    EXPECT_EQ(info.width, 512);
    EXPECT_EQ(info.height, 384);
    for (const auto& other : served) EXPECT_NE(other, first->body) << path;
    served.push_back(first->body);
  }
  auto thumb = images.Get("/thumb/demo/krym-2024/2.jpg");
  ASSERT_TRUE(thumb);
  EXPECT_EQ(DecodeJpeg(thumb->body).width, 160);
  // A second site with the same album serves the same bytes.
  DemoSite other{DemoSiteOptions{}};
  EXPECT_EQ(other.ImageBytes(3), served[2]);
}

TEST_F(DemoSiteTest, ServesEveryAlbumOfTheUserWithItsOwnTitleAndPhotos) {
  DemoSiteOptions options;
  options.album.pages = 1;
  options.album.photos_per_page = 2;
  for (int n = 2; n <= 3; ++n) options.more_albums.push_back(NthDemoAlbum(options.album, n));
  StartSite(options);
  const std::string cookie = SignIn();
  const std::vector<std::string> urls = site_->AlbumUrls();
  ASSERT_EQ(urls.size(), 3u);
  std::set<std::string> titles, images;
  for (size_t i = 0; i < urls.size(); ++i) {
    const std::string path = urls[i].substr(site_->SiteRoot().size());
    auto album = client_->Get(path, httplib::Headers{{"Cookie", cookie}});
    ASSERT_TRUE(album && album->status == 200) << path;
    auto page = ReadAlbumPage(album->body, 1, site_->TitleSuffix());
    ASSERT_EQ(page.photo_links.size(), 2u) << path;
    titles.insert(page.titles.at(0));
    auto photo = client_->Get(path + "photo/2/");
    ASSERT_TRUE(photo) << path;
    auto hits = ReadPhotoPage(photo->body, site_->ImageHostMarker());
    ASSERT_EQ(hits.size(), 1u) << path;
    titles.insert(hits[0].title);
    auto image = httplib::Client("127.0.0.1", site_->ImagePort())
                     .Get(hits[0].address.substr(site_->ImageRoot().size()));
    ASSERT_TRUE(image) << path;
    EXPECT_EQ(image->body, site_->ImageBytes(2, i));
    images.insert(image->body);
  }
  EXPECT_EQ(titles.size(), 6u);
  EXPECT_EQ(images.size(), 3u);
  EXPECT_EQ(site_->RequestLog().back(),
            "image id=2 bytes=" + std::to_string(site_->ImageBytes(2, 2).size()) + " album=baikal-2022");
  const std::string all = urls[0] + " " + urls[1] + " " + urls[2];
  EXPECT_TRUE(site_->Banner().ends_with(" ALBUM_URLS='" + all + "'")) << site_->Banner();
  EXPECT_TRUE(site_->HarvestCommand().ends_with(site_->ImageHostMarker() + " " + all));
}

TEST_F(DemoSiteTest, CountsDecoyAndUnknownRequests) {
  StartSite();
  // What a harvester that followed the script handler would ask for.
  auto decoy = client_->Get(
      "/*%20slideshow%20*/%20Slideshow.open('/users/demo/krym-2024/slideshow/");
  ASSERT_TRUE(decoy);
  EXPECT_EQ(decoy->status, 404);
  client_->Get("/users/demo/krym-2024/slideshow/");
  for (const char* path : {"/users/demo/krym-2024/?page=0", "/users/demo/krym-2024/?page=4",
                           "/users/demo/krym-2024/photo/13/", "/users/other/", "/nowhere"}) {
    auto res = client_->Get(path);
    ASSERT_TRUE(res) << path;
    EXPECT_EQ(res->status, 404) << path;
  }
  httplib::Client images("127.0.0.1", site_->ImagePort());
  auto missing = images.Get("/photo/demo/krym-2024/99.jpg");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);
  // The script line sent unencoded is no request at all; it still counts.
  std::string reply = RawExchange(site_->Port(),
                                  "GET /* slideshow */ Slideshow.open('/users/demo/krym-2024/"
                                  "slideshow/ HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_TRUE(reply.starts_with("HTTP/1.1 400")) << reply;
  DemoSiteStats s = site_->Stats();
  EXPECT_EQ(s.decoy_requests, 2);
  EXPECT_EQ(s.other_requests, 7);
  EXPECT_EQ(s.album_pages, 0);
}

TEST_F(DemoSiteTest, ReportsWhatItSawOverHttp) {
  StartSite();
  SignIn();
  client_->Get("/users/demo/krym-2024/?page=1");
  auto stats = client_->Get("/__stats");
  ASSERT_TRUE(stats);
  EXPECT_EQ(stats->get_header_value("Content-Type"), "application/json");
  EXPECT_TRUE(Contains(stats->body, "\"sign_ins\": 1")) << stats->body;
  EXPECT_TRUE(Contains(stats->body, "\"album_pages\": 1")) << stats->body;
  EXPECT_TRUE(Contains(stats->body, "\"decoy_requests\": 0")) << stats->body;
  auto log = client_->Get("/__log");
  ASSERT_TRUE(log);
  EXPECT_EQ(log->body, "sign-in ok login=demo session=s1\nalbum page=1 session=- photos=no\n");
}

TEST_F(DemoSiteTest, LatencyDelaysEveryResponseOfBothHosts) {
  DemoSiteOptions options;
  options.latency_ms = 120;
  StartSite(options);
  httplib::Client images("127.0.0.1", site_->ImagePort());
  const std::string cookie = SignIn();
  auto timed = [](auto&& request) {
    auto start = std::chrono::steady_clock::now();
    auto res = request();
    EXPECT_TRUE(res && res->status < 500);
    return std::chrono::steady_clock::now() - start;
  };
  const std::string image_path = site_->ImageUrl(1).substr(site_->ImageRoot().size());
  for (auto elapsed : {timed([&] { return client_->Get("/users/demo/krym-2024/?page=1"); }),
                       timed([&] { return client_->Get("/no/such/page"); }),
                       timed([&] { return images.Get(image_path.c_str()); })})
    EXPECT_GE(elapsed, std::chrono::milliseconds(120));
  EXPECT_FALSE(cookie.empty());
}

TEST_F(DemoSiteTest, PrintsTheCommandThatHarvestsIt) {
  StartSite();
  std::string root = "http://127.0.0.1:" + std::to_string(site_->Port());
  std::string marker = "127.0.0.1:" + std::to_string(site_->ImagePort()) + "/photo";
  EXPECT_EQ(site_->SiteRoot(), root);
  EXPECT_EQ(site_->ImageHostMarker(), marker);
  EXPECT_EQ(site_->HarvestCommand(),
            "album-harvest --album " + root + "/users/demo/krym-2024/ --login demo --password "
            "'open sesame' --domain mail.example --site-root " + root +
            " --title-suffix ' - Фотокадр' --image-host-marker " + marker);
  EXPECT_EQ(site_->Banner(), "SITE_ROOT=" + root + " TITLE_SUFFIX=' - Фотокадр' IMAGE_HOST_MARKER=" +
                                 marker + " ALBUM_URL=" + root +
                                 "/users/demo/krym-2024/ STATS_URL=" + root + "/__stats");
}

}  // namespace
}  // namespace ah
