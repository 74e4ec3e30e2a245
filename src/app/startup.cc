#include "app/startup.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace vm {

int runClient(int argc, char** argv) {
  std::vector<std::string> params(argv + 1, argv + argc);
  CommandLine cmd = CommandLine::parse(params);
  if (cmd.wantsUsage()) {
    std::fputs(usageText().c_str(), stdout);
    std::fflush(stdout);
    return 0;
  }
  return 0;
}

}  // namespace vm
