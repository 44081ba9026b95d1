// album-harvest's arguments and the settings' other sources: the flags, the
// password's sources with their precedence, the files refused, and the album
// addresses of input files.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "app/cli/cli_client.h"
#include "app/cli/harvest_command.h"
#include "app/cli/hidden_arguments.h"
#include "tests/app/cli/demo_harvest.h"
#include "tests/app/cli/loopback_client.h"

namespace ah {
namespace {

// Writes `text` to `path`, making its folders, with `mode`.
void WriteFile(const std::string& path, const std::string& text, mode_t mode = 0600) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
  chmod(path.c_str(), mode);
}

class HarvestSettingsTest : public DemoHarvestTest {};

TEST(AlbumHarvestCommand, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--login", "x"},
      {"--album"},
      {"--album", "http://h/", "--frobnicate", "1"},
      {"h/no-scheme/"},
      {"http://a/", "b/"},
      {"--album", "http://a/", "--album", "b/"},
      {"http://h/", "--retries", "x"},
      {"http://h/", "--retries", "-1"},
      {"http://h/", "--timeout", "0"},
      {"http://h/", "--timeout", "soon"},
      {"http://h/", "--proxy", "h:x"},
      {"http://h/", "--jobs", "0"},
      {"http://h/", "--jobs", "65"},
      {"http://h/", "--jobs", "many"},
      {"http://h/", "--wait", "-1"},
      {"http://h/", "--limit-rate", "0"},
      {"http://h/", "--limit-rate", "2X"},
  };
  for (const auto& args : cases) {
    std::ostringstream out, err;
    EXPECT_EQ(HarvestMain(args, {}, [] { return new LoopbackClient; }, out, err), 2)
        << testing::PrintToString(args);
    EXPECT_TRUE(err.str().find("usage: album-harvest") != std::string::npos) << err.str();
    EXPECT_TRUE(out.str().empty());
  }
  std::ostringstream out, err;
  EXPECT_EQ(HarvestMain({"--help"}, {}, [] { return nullptr; }, out, err), 0);
  EXPECT_TRUE(out.str().starts_with("usage: album-harvest [flags] URL")) << out.str();
  std::ostringstream version, none;
  EXPECT_EQ(HarvestMain({"--version"}, {}, [] { return nullptr; }, version, none), 0);
  EXPECT_TRUE(version.str().starts_with("album-harvest ")) << version.str();
}

TEST(AlbumHarvestCommand, ReadsBothFlagFormsAndTheAddressAsTheLastArgument) {
  auto parsed = ParseHarvestCommandLine(
      {"--title-suffix", " - X", "--domain=@m.example", "--login", "--x", "--retries=5",
       "--timeout", "2.5", "--proxy", "p.example:3128", "--jobs=8", "--force", "--quiet",
       "--wait", "0.25", "--limit-rate=1.5M", "http://h/a/"});
  ASSERT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.line.albums, std::vector<std::string>{"http://h/a/"});
  EXPECT_EQ(parsed.line.title_suffix, " - X");
  EXPECT_EQ(parsed.line.domain, "@m.example");
  EXPECT_EQ(parsed.line.login, "--x");
  EXPECT_FALSE(parsed.line.password);
  EXPECT_EQ(parsed.line.retries, 5);
  EXPECT_EQ(parsed.line.timeout_ms, 2500);
  EXPECT_EQ(parsed.line.proxy, "p.example:3128");
  EXPECT_EQ(parsed.line.jobs, 8);
  EXPECT_EQ(parsed.line.wait_seconds, 0.25);
  EXPECT_EQ(parsed.line.limit_rate, 1572864);
  EXPECT_TRUE(parsed.line.force);
  EXPECT_TRUE(parsed.line.quiet);
  EXPECT_FALSE(parsed.line.site_root);
  EXPECT_FALSE(ParseHarvestCommandLine({"http://h/"}).line.jobs);
  EXPECT_EQ(ParseHarvestCommandLine({"--album=http://h/b/"}).line.albums.at(0), "http://h/b/");
}

// Where every password of the arguments stands, and the argument list as
// ps reads it once each is hidden.
TEST(AlbumHarvestCommand, HidesEveryPasswordOfTheArgumentList) {
  const std::vector<std::string> args = {"--password", "open sesame", "--login", "x",
                                         "--password=ab", "http://h/"};
  auto parsed = ParseHarvestCommandLine(args);
  ASSERT_EQ(parsed.secrets.size(), 2u);
  std::string block("album-harvest", 14);
  for (const std::string& arg : args) block += arg + '\0';
  std::vector<char*> argv = {block.data()};
  for (size_t i = 0; i < block.size() - 1; ++i)
    if (block[i] == '\0') argv.push_back(&block[i + 1]);
  for (const SecretArgument& s : parsed.secrets)
    HideArgument(int(argv.size()), argv.data(), int(s.index) + 1, s.offset);
  EXPECT_EQ(block, std::string("album-harvest\0--password\0***\0--login\0x\0--password=**\0"
                               "http://h/\0", 63) + std::string(8, '\0'));
  EXPECT_STREQ(argv.back(), "http://h/");
}

// Each source of the password below the ones a row names: a password file,
// the terminal, ALBUM_HARVEST_PASSWORD, netrc and the config file.
TEST_F(HarvestSettingsTest, ThePasswordComesFromTheHighestSourceGiven) {
  const std::string& dir = root_;
  WriteFile(dir + "/pw", "from file\r\nsecond line\n");
  WriteFile(dir + "/.netrc",
            "machine other.example login x password wrong\n"
            "machine H.example login netrc@mail.example password \"from \\\"netrc\\\"\"\n"
            "macdef init\npassword not-this\n\ndefault login anyone password from-default\n");
  WriteFile(dir + "/xdg/album-harvester/config.json",
            R"({"login": "config", "password": "from config", "domain": "c.example", "jobs": 8})");
  struct Row {
    std::vector<std::string> flags;
    const char* env;
    std::optional<std::string> password, login, domain;
    std::optional<int> jobs = 8;
  } rows[] = {
      {{"--password", "flag", "--password-file", dir + "/pw", "--ask-password", "--netrc"}, "env",
       "flag", "netrc", "mail.example"},
      {{"--password-file", dir + "/pw", "--ask-password", "--netrc"}, "env", "from file", "netrc",
       "mail.example"},
      {{"--ask-password", "--netrc"}, "env", "typed", "netrc", "mail.example"},
      {{"--netrc"}, "env", "env", "netrc", "mail.example"},
      {{"--netrc-file", dir + "/.netrc"}, nullptr, "from \"netrc\"", "netrc", "mail.example"},
      {{}, nullptr, "from config", "config", "c.example"},
      {{"--no-config"}, nullptr, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
      {{"--netrc", "--login", "anyone"}, nullptr, "from-default", "anyone", "c.example"},
      {{"--netrc", "--site-root", "http://other.example:8080"}, nullptr, "wrong", "x", "c.example"},
      {{"--login", "cli", "--domain", "d", "--jobs", "2"}, nullptr, "from config", "cli", "d", 2},
  };
  HarvestEnvironment env;
  env.home = dir;
  env.config_home = dir + "/xdg";
  env.ask_password = [](const std::string& prompt) {
    EXPECT_EQ(prompt, "Password for netrc: ");
    return std::optional<std::string>("typed");
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.flags));
    std::vector<std::string> args = row.flags;
    args.push_back("http://h.example/a/");
    HarvestCommandLine line = ParseHarvestCommandLine(args).line;
    env.password = row.env;
    ASSERT_FALSE(CompleteHarvestCommandLine(line, env));
    EXPECT_EQ(line.password, row.password);
    EXPECT_EQ(line.login, row.login);
    EXPECT_EQ(line.domain, row.domain);
    EXPECT_EQ(line.jobs, row.jobs);
  }
}

// A settings file or source that cannot be used ends the program with 2 and
// one line; a row that can gets as far as the output folder.
TEST_F(HarvestSettingsTest, SettingsThatCannotBeUsedAreRefusedInOneLine) {
  const std::string& dir = root_;
  const std::string config = dir + "/c.json";
  WriteFile(dir + "/pw", "secret\n", 0640);
  WriteFile(dir + "/netrc", "default login a password b\n", 0604);
  WriteFile(dir + "/list", "http://h/a/\nh/b/\n");
  WriteFile(dir + "/two", "http://h/a/\nhttp://h/b/\nhttp://h/a/\n");
  struct Row {
    std::string config;  // written to c.json when not empty
    mode_t mode;
    std::vector<std::string> flags;
    std::string error;  // {dir} stands for the scratch folder; empty: no refusal
  } rows[] = {
      {R"({"jobs": "many"})", 0600, {}, R"({dir}/c.json: "jobs" takes a whole number from 1 to 64, not "many")"},
      {R"({"jobs": 65})", 0600, {}, R"({dir}/c.json: "jobs" takes a whole number from 1 to 64, not 65)"},
      {R"({"jobs": 4.5})", 0600, {}, R"({dir}/c.json: "jobs" takes a whole number from 1 to 64, not 4.5)"},
      {R"({"login": 5})", 0600, {}, R"({dir}/c.json: "login" takes a text, not 5)"},
      {R"({"password": 5})", 0600, {}, R"({dir}/c.json: "password" takes a text)"},
      {R"({"timeout": "30"})", 0600, {}, R"({dir}/c.json: "timeout" takes a number of seconds above 0, not "30")"},
      {R"({"wait": -1})", 0600, {}, R"({dir}/c.json: "wait" takes a number of seconds, 0 or more, not -1)"},
      {R"({"limit-rate": "2X"})", 0600, {},
       R"({dir}/c.json: "limit-rate" takes bytes per second above 0, with k, M or G for KiB, MiB or GiB, not "2X")"},
      {R"({"jbos": 4})", 0600, {},
       R"({dir}/c.json: unknown key "jbos"; the keys are site-root, title-suffix, image-host-marker, login, domain, password, output-dir, jobs, retries, timeout, proxy, wait, limit-rate)"},
      {"{\"jobs\": 4,}", 0600, {}, "{dir}/c.json: not JSON (at byte 12); expected one JSON object of settings"},
      {"[1]", 0600, {}, "{dir}/c.json: expected one JSON object of settings"},
      {R"({"password": "x"})", 0644, {}, "{dir}/c.json holds a password and is open to other users: chmod 600 {dir}/c.json"},
      {R"({"login": "x", "limit-rate": 2048, "wait": 1})", 0644, {}, ""},
      {"", 0, {"--config", dir + "/none.json"}, "cannot read {dir}/none.json: No such file or directory"},
      {"", 0, {}, ""},
      {"", 0, {"--password-file", dir + "/pw"}, "{dir}/pw holds a password and is open to other users: chmod 600 {dir}/pw"},
      {"", 0, {"--netrc-file", dir + "/netrc"}, "{dir}/netrc holds a password and is open to other users: chmod 600 {dir}/netrc"},
      {"", 0, {"--input-file", dir + "/list"}, "{dir}/list line 2: the album address must begin with http:// or https://"},
      {"", 0, {"--input-file", dir + "/none"}, "cannot read {dir}/none: No such file or directory"},
      {"", 0, {"--ask-password"}, "--ask-password: no password was read from a terminal"},
      {"", 0, {"--input-file", dir + "/two", "--ask-password"}, "--ask-password: no password was read from a terminal"},
  };
  HarvestEnvironment env;
  env.config_home = dir;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.config + testing::PrintToString(row.flags));
    std::filesystem::remove(config);
    if (!row.config.empty()) WriteFile(config, row.config, row.mode);
    std::vector<std::string> args = {"--output-dir", "/proc/no/such", "http://h/a/"};
    args.insert(args.end(), row.flags.begin(), row.flags.end());
    if (!row.config.empty()) args.insert(args.end(), {"--config", config});
    std::ostringstream out, err;
    const int code = HarvestMain(args, env, CreateCliClient, out, err);
    std::string want = row.error;
    for (size_t at; (at = want.find("{dir}")) != std::string::npos;) want.replace(at, 5, dir);
    if (want.empty()) {
      EXPECT_EQ(code, 1) << err.str();
      continue;
    }
    EXPECT_EQ(code, 2);
    EXPECT_EQ(err.str().substr(0, err.str().find('\n')), "album-harvest: " + want);
  }
}

// Addresses of the arguments first, then those of each input file, each once.
TEST_F(HarvestSettingsTest, ReadsAlbumAddressesFromInputFilesOnceEach) {
  WriteFile(root_ + "/list", "  http://h/a/ \r\n\n# a note\n\t# indented\nhttp://h/b/\nHTTP://u:p@H:80/a/\nhttp://h/a");
  std::istringstream input("http://h/c/\r\nhttp://h/b/\n");
  HarvestEnvironment env;
  env.input = &input;
  HarvestCommandLine line =
      ParseHarvestCommandLine({"--input-file", root_ + "/list", "http://h/b/", "--input-file=-"}).line;
  EXPECT_FALSE(CompleteHarvestCommandLine(line, env));
  EXPECT_EQ(line.albums,
            (std::vector<std::string>{"http://h/b/", "http://h/a/", "http://h/a", "http://h/c/"}));
}

TEST(AlbumHarvestCommand, FailsWithOneWhenItCannotRun) {
  std::ostringstream out, err;
  EXPECT_EQ(HarvestMain({"--album", "http://127.0.0.1:1/a/", "--output-dir", "/tmp"}, {},
                        [] { return nullptr; }, out, err),
            1);
  EXPECT_TRUE(err.str().find("no HTTP client") != std::string::npos) << err.str();
  std::ostringstream out2, err2;
  EXPECT_EQ(HarvestMain({"--album", "http://127.0.0.1:1/a/", "--output-dir", "/proc/no/such"},
                        {}, CreateCliClient, out2, err2),
            1);
  EXPECT_TRUE(err2.str().find("cannot create the output folder") != std::string::npos)
      << err2.str();
  if (geteuid() != 0) {
    std::ostringstream out3, err3;
    EXPECT_EQ(HarvestMain({"http://127.0.0.1:1/a/", "--output-dir", "/"}, {}, CreateCliClient, out3,
                          err3),
              1);
    EXPECT_TRUE(err3.str().find("cannot write into the output folder /") != std::string::npos)
        << err3.str();
  }
  EXPECT_TRUE(out2.str().empty());
}

}  // namespace
}  // namespace ah
