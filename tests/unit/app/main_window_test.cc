#include <gtest/gtest.h>

#include <vector>

#include "app/main_window.h"
#include "app/process_state.h"
#include "app/window_commands.h"
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
      {R"([5])", {""}},  // a non-string element is empty text
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
