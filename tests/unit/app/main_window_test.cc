#include "app/main_window.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/process_state.h"
#include "app/window_commands.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace vm {
namespace {

TEST(OpenUrlCommand, ExactlyOneArgumentReachesTheOpenerAsItIs) {
  const struct {
    const char* args;
    std::vector<std::string> opened;
  } cases[] = {
      {R"(["https://example.org/a?b=1&c=2"])", {"https://example.org/a?b=1&c=2"}},
      {R"(["mailto:someone@example.org"])", {"mailto:someone@example.org"}},
      {R"(["HTTP://Example.org/"])", {"HTTP://Example.org/"}},
      {R"(["mailto:someone@example.org?subject=a b"])", {"mailto:someone@example.org?subject=a b"}},
      {R"([5])", {}},  // a non-string element is empty text, which is no address
      {R"([])", {}},
      {R"(["a","b"])", {}},
      {R"(not json)", {}},
  };
  for (const auto& [args, expected] : cases) {
    std::vector<std::string> opened;
    EXPECT_EQ(openURLCommand([&](const std::string& t) { opened.push_back(t); }, args), std::nullopt);
    EXPECT_EQ(opened, expected) << args;
  }
}

TEST(OpenUrlCommand, OnlyWebAndMailAddressesAreOpened) {
  test::LogCapture log;
  const struct {
    const char* args;
    const char* logged;  // the text between the brackets of the refusal
  } refused[] = {
      {R"(["file:///etc/shadow"])", "file:///etc/shadow"},
      {R"(["--help"])", "--help"},
      {R"(["/usr/bin/id"])", "/usr/bin/id"},
      {R"x(["javascript:alert(1)"])x", "javascript:alert(1)"},
      {R"(["ftp://example.org/x"])", "ftp://example.org/x"},
      {R"(["http:/example.org"])", "http:/example.org"},
      {R"([" https://example.org"])", " https://example.org"},
      {R"(["smb://server/share"])", "smb://server/share"},
      {R"([""])", ""},
      // A control character is no part of an address; the log line shows it
      // without breaking the line.
      {R"(["https://example.org/\nX"])", "https://example.org/\\x0AX"},
      {R"(["https://example.org/\u0000--help"])", "https://example.org/\\x00--help"},
  };
  std::string expectedLog;
  for (const auto& [args, logged] : refused) {
    std::vector<std::string> opened;
    openURLCommand([&](const std::string& t) { opened.push_back(t); }, args);
    EXPECT_TRUE(opened.empty()) << args;
    expectedLog += std::string("ERROR: Refused to open [") + logged + "]\r\n";
  }
  EXPECT_EQ(log.text(), expectedLog);
}

TEST(WindowGeometry, StoredValuesDefaultsAndTextThatIsNoNumber) {
  test::TempDir dir;
  Preferences prefs(dir.path());
  WindowGeometry first = readWindowGeometry(prefs);
  EXPECT_EQ(first.left, 100);
  EXPECT_EQ(first.top, 100);
  EXPECT_EQ(first.width, 1200);
  EXPECT_EQ(first.height, 800);

  prefs.writeSetting("left", "-20", "main");
  prefs.writeSetting("top", "abc", "main");
  prefs.writeSetting("width", "1300px", "main");
  prefs.writeSetting("height", "", "main");
  WindowGeometry stored = readWindowGeometry(prefs);
  EXPECT_EQ(stored.left, -20);
  EXPECT_EQ(stored.top, 0);
  EXPECT_EQ(stored.width, 1300);
  EXPECT_EQ(stored.height, 0);
}

TEST(MainWindowTitle, TwoBlanksBeforeTheVersionAndTheBuildSuffix) {
  test::TempDir dir;
  ProcessState state{Preferences(dir.path()), dir.path()};
  state.titleVersion.clear();
#if defined(__x86_64__)
  EXPECT_EQ(mainWindowTitle(state), "velomark client  5.0.0-140.x64");
#endif
  state.titleVersion = " 1.2.3.x64";
  EXPECT_EQ(mainWindowTitle(state), "velomark client  1.2.3.x64");
}

}  // namespace
}  // namespace vm
