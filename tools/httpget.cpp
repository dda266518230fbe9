// httpget: fetches URLs into files over the program's own HTTP client, with the settings of the
// download window. See THttpGetCommand for the interface.

#include <iostream>
#include <string>
#include <vector>

#include "tools/THttpGetCommand.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  kv::tools::THttpGetCommand command(std::cout, std::cerr);
  return command.Run(args);
}
