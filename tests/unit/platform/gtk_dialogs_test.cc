#include "platform/gtk_dialogs.h"

#include <gtest/gtest.h>

#include <string>

namespace vm {
namespace {

TEST(GtkDialogsTest, MessageTextIsCutAfter65535Characters) {
  const std::string euro = "\xE2\x82\xAC";  // one character, three bytes
  auto repeated = [](const std::string& unit, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += unit;
    return s;
  };
  struct Case {
    std::string text, shown;
  };
  const Case cases[] = {
      {"", ""},
      {"short", "short"},
      {repeated("x", 65535), repeated("x", 65535)},
      {repeated("x", 65536), repeated("x", 65534)},
      {repeated("x", 200000), repeated("x", 65534)},
      // Counted in characters, never cutting inside one.
      {repeated(euro, 65535), repeated(euro, 65535)},
      {repeated(euro, 65536), repeated(euro, 65534)},
      // Bytes that are not UTF-8 would make GTK drop the whole label.
      {std::string("a\xFF") + "b", std::string("a\xEF\xBF\xBD") + "b"},
  };
  for (const auto& c : cases) {
    auto shown = messageBoxText(c.text);
    EXPECT_EQ(shown.size(), c.shown.size()) << c.text.substr(0, 20);
    EXPECT_EQ(shown, c.shown) << c.text.substr(0, 20);
  }
}

TEST(GtkDialogsTest, FilterPatternsForGtk) {
  const std::pair<const char*, const char*> cases[] = {
      {"*.*", "*"},
      {"*", "*"},
      {"*.txt", "*.[tT][xX][tT]"},
      {"*.LOG", "*.[lL][oO][gG]"},
      {"report-?.7z", "[rR][eE][pP][oO][rR][tT]-?.7[zZ]"},
      {"*.[ch]", "*.[ch]"},
      {"*.tar.*", "*.[tT][aA][rR].*"},
  };
  for (const auto& [pattern, gtk] : cases) EXPECT_EQ(filterPatternForGtk(pattern), gtk) << pattern;
}

}  // namespace
}  // namespace vm
