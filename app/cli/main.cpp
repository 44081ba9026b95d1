// album-harvest: the harvest run from a terminal.

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/cli/cli_client.h"
#include "app/cli/harvest_command.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return ah::HarvestMain(args, std::getenv("ALBUM_HARVEST_PASSWORD"), ah::CreateCliClient,
                         std::cout, std::cerr);
}
