// Fault injection for the preferences file, run by tests/stress/run.sh (not
// part of CTest): the real preferences code rewrites the file while it is
// killed with SIGKILL or while the disk is full, and after every fault the
// file must be whole, hold the device identifier it held before, and take
// the next change.
//   prefs_stress kill FOLDER ROUNDS   kill a rewriting process ROUNDS times
//   prefs_stress full FOLDER          FOLDER on a small file system of its own:
//                                     rewrite with 0, 1, 2 ... pages left free
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "base/log.h"
#include "settings/device_identity.h"
#include "settings/ini_document.h"
#include "settings/preferences.h"

namespace {

const std::string kBom = "\xEF\xBB\xBF";

std::string readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Whole: the layout the client writes, every key line intact, the identifier kept.
bool isWhole(const std::string& bytes, const std::string& id) {
  if (!bytes.starts_with(kBom + "\r\n") || !bytes.ends_with("\r\n")) return false;
  const vm::IniDocument doc = vm::IniDocument::parse(bytes);
  const std::string* stored = doc.find("", "deviceId");
  return stored && *stored == id;
}

// Temporary files of rewrites that a kill cut short; removes them.
int removeStrayFiles(const std::string& folder) {
  int stray = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename();
    if (name.starts_with("velomark_client.ini.") && name != "velomark_client.ini.lock") {
      std::filesystem::remove(entry.path());
      ++stray;
    }
  }
  return stray;
}

[[noreturn]] void rewriteForever(const std::string& folder, unsigned seed) {
  vm::Preferences prefs(folder);
  std::mt19937 random(seed);
  for (long i = 0;; ++i) {
    const std::string value(random() % 20000, static_cast<char>('a' + i % 26));
    prefs.writeSetting("k" + std::to_string(random() % 40), value, vm::kWebAppGroup);
    if (i % 7 == 0) prefs.removeSetting("k" + std::to_string(random() % 40), vm::kWebAppGroup);
  }
}

int killRounds(const std::string& folder, int rounds) {
  vm::Preferences prefs(folder);
  const std::string id = vm::deviceIdentifier(prefs);
  const std::string file = prefs.filePath();
  std::mt19937 random(std::random_device{}());
  int broken = 0, stray = 0, unchangeable = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int round = 0; round < rounds; ++round) {
    const pid_t writer = fork();
    if (writer < 0) return 2;
    if (writer == 0) rewriteForever(folder, random());
    usleep(1000 + random() % 30000);
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    if (!isWhole(readWhole(file), id)) {
      ++broken;
      std::fprintf(stderr, "round %d: the file is not whole\n", round);
    }
    stray += removeStrayFiles(folder);
    // The lock died with the writer: the next change goes through.
    const std::string mark = "round" + std::to_string(round);
    prefs.writeSetting("mark", mark, vm::kWebAppGroup);
    if (prefs.readSetting("mark", "", vm::kWebAppGroup) != mark) ++unchangeable;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("kill: %d rounds in %.1f s; %d killed inside a rewrite (temporary file left); "
              "%d files not whole or without the identifier; %d later changes lost\n",
              rounds, seconds, stray, broken, unchangeable);
  return broken || unchangeable ? 1 : 0;
}

class RecordingSink : public vm::LogSink {
 public:
  std::vector<std::string> lines;
  void write(std::string_view text) override { lines.emplace_back(text); }
};

// Fills the file system until no byte is left; the filler's size.
off_t fillDisk(const std::string& filler) {
  const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const std::string block(4096, 'f');
  off_t size = 0;
  while (true) {
    const ssize_t n = ::write(fd, block.data(), block.size());
    if (n <= 0) break;
    size += n;
  }
  ::close(fd);
  return size;
}

int fullDisk(const std::string& folder) {
  RecordingSink sink;
  vm::LogSinkScope scope(sink);
  vm::Preferences prefs(folder + "tessel/");
  const std::string id = vm::deviceIdentifier(prefs);
  for (int i = 0; i < 10; ++i) prefs.writeSetting("old" + std::to_string(i), std::string(1000, 'o'), "WebApp");
  const std::string file = prefs.filePath();
  const std::string filler = folder + "filler";
  const off_t full = fillDisk(filler);
  const std::string reason = "No space left on device";
  int failed = 0, written = 0, broken = 0, wrongReason = 0;
  for (int pagesFree = 0; pagesFree <= 8; ++pagesFree) {
    ::truncate(filler.c_str(), full - pagesFree * 4096);
    const std::string before = readWhole(file);
    const std::string value(4096 + pagesFree * 1024, static_cast<char>('a' + pagesFree));
    sink.lines.clear();
    prefs.writeSetting("new", value, "WebApp");
    const std::string after = readWhole(file);
    if (!isWhole(after, id)) ++broken;
    if (prefs.readSetting("new", "", "WebApp") == value) {
      ++written;
    } else {
      ++failed;
      if (after != before) ++broken;
      if (sink.lines.size() != 1 ||
          sink.lines[0] != "ERROR: Failed to write preferences file [" + file + "]: " + reason)
        ++wrongReason;
    }
    removeStrayFiles(folder + "tessel/");
  }
  std::printf("full disk: 9 rewrites with 0 to 8 pages free: %d failed with \"%s\" logged, "
              "%d went through; %d files not whole or changed by a failed rewrite; "
              "%d failures logged otherwise\n",
              failed, reason.c_str(), written, broken, wrongReason);
  return broken || wrongReason || failed == 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "kill") return killRounds(args[1], std::stoi(args[2]));
  if (args.size() == 2 && args[0] == "full") return fullDisk(args[1]);
  std::fprintf(stderr, "usage: prefs_stress kill FOLDER ROUNDS | prefs_stress full FOLDER\n");
  return 2;
}
