// Times htmlToText on the files named on the command line: best of three
// runs per file, printed as "<file> <bytes> <seconds> <ms per MB>".
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "mail/html_to_text.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    const std::string html = s.str();
    double best = 1e9;
    std::size_t outSize = 0;
    for (int run = 0; run < 3; ++run) {
      auto t0 = std::chrono::steady_clock::now();
      std::string text = vm::htmlToText(html);
      auto t1 = std::chrono::steady_clock::now();
      best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
      outSize = text.size();
    }
    std::printf("%s %zu %.4f %.1f %zu\n", argv[i], html.size(), best,
                best * 1000.0 / (html.size() / 1e6), outSize);
  }
  return 0;
}
