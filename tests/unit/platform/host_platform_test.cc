#include "platform/host_platform.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace vm {
namespace {

TEST(RunAndCapture, SeparatorFollowsEveryBlockRead) {
  // The child writes "a", waits until the reader has drained the pipe, then
  // writes "b": two blocks, deterministically.
  const std::string script =
      "\"import os,fcntl,termios,struct,time\n"
      "os.write(1,b'a')\n"
      "while struct.unpack('i',fcntl.ioctl(1,termios.FIONREAD,b'0000'))[0]: time.sleep(0.001)\n"
      "os.write(1,b'b')\"";
  EXPECT_EQ(runAndCapture("/usr/bin/python3", "-c " + script, "", "\n", false), "a\nb\n");
}

TEST(RunAndCapture, RealProgramsThroughPath) {
  EXPECT_EQ(runAndCapture("printf", "%s| \"a b\" c", "", "", false), "a b|c|");
  // Standard error is not captured.
  EXPECT_EQ(runAndCapture("sh", "-c \"echo err >&2; printf out\"", "", "#", true), "out#");
  EXPECT_EQ(runAndCapture("true", "", "", "\n", false), "");
}

TEST(RunAndCapture, WorkingFolder) {
  char dir[] = "/tmp/run_capture.XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  EXPECT_EQ(runAndCapture("pwd", "", dir, "", false), std::string(dir) + "\n");
  EXPECT_EQ(runAndCapture("pwd", "", std::string(dir) + "/missing", "", false), "");
  rmdir(dir);
}

TEST(RunAndCapture, LargeOutputArrivesWhole) {
  const std::string out = runAndCapture("head", "-c 300000 /dev/zero", "", "", false);
  EXPECT_EQ(out.size(), 300000u);
}

TEST(RunAndCapture, ProgramThatCannotStartGivesEmptyText) {
  EXPECT_EQ(runAndCapture("no-such-program-velomark", "x", "", "\n", false), "");
  EXPECT_EQ(runAndCapture("/nonexistent/prog", "", "", "\n", false), "");
  EXPECT_EQ(runAndCapture("", "", "", "\n", false), "");
}

TEST(SplitParameters, BlanksOutsideQuotes) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"", {}},
      {"  ", {}},
      {"/etc/os-release", {"/etc/os-release"}},
      {"a  b\tc", {"a", "b", "c"}},
      {"\"a b\" c", {"a b", "c"}},
      {"x\"y z\"w", {"xy zw"}},
      {"\"\"", {""}},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(splitParameters(text), expected) << text;
}

TEST(OperatingSystem, PackageTypeFromOsRelease) {
  const std::pair<const char*, const char*> cases[] = {
      {"id=\"opensuse-leap\"\nid_like=\"suse opensuse\"\n", "linux rpm"},
      {"id=fedora\n", "linux rpm"},
      {"id=\"rhel\"\n", "linux rpm"},
      {"id=centos\nid_like=\"redhat\"\n", "linux rpm"},
      {"id=debian\n", "linux deb"},
      {"id=ubuntu\nid_like=debian\n", "linux deb"},
      {"", "linux deb"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(linuxPackageType(text), expected) << text;
}

TEST(OperatingSystem, ThisHost) {
  EXPECT_EQ(operatingSystem(false), "linux");
  const std::string withType = operatingSystem(true);
  EXPECT_TRUE(withType == "linux deb" || withType == "linux rpm") << withType;
}

}  // namespace
}  // namespace vm
