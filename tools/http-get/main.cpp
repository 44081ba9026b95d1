// http-get: GETs URLs (or posts a form) through the library's HTTP client.
#include <iostream>
#include <string>
#include <vector>

#include "tools/http-get/http_get.h"
#include "tools/http-get/options.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  ah::HttpGetArguments parsed = ah::ParseHttpGetArguments(args);
  if (parsed.help) {
    std::cout << ah::HttpGetHelp();
    return 0;
  }
  if (!parsed.ok()) {
    std::cerr << "http-get: " << parsed.error << "; " << ah::HttpGetUsage() << '\n';
    return 2;
  }
  return ah::RunHttpGet(parsed.options, std::cerr);
}
