#include "app/command_line.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

struct Case {
  std::vector<std::string> params;
  std::map<std::string, std::string> expected;
  bool usage;
};

TEST(CommandLine, TableOfCases) {
  const Case cases[] = {
      {{"-h"}, {{"h", "1"}}, true},
      {{"-?"}, {{"?", "1"}}, true},
      {{"-H"}, {{"H", "1"}}, false},
      {{"-help"}, {{"h", "elp"}}, false},
      {{"--help"}, {{"-", "help"}}, false},
      {{"-h", "file.tsf"}, {{"h", "file.tsf"}}, false},
      {{"-l"}, {{"l", "1"}}, false},
      {{"-l", "/tmp/x.log"}, {{"l", "/tmp/x.log"}}, false},
      {{"-l/tmp/x.log"}, {{"l", "/tmp/x.log"}}, false},
      {{"-l", "file.tsf"}, {{"l", "file.tsf"}}, false},
      {{"-l1", "a.tsf"}, {{"l", "1"}, {"-1", "a.tsf"}}, false},
      {{"a.tsf", "b.tsf"}, {{"-1", "a.tsf"}, {"-2", "b.tsf"}}, false},
      {{"-"}, {{"", "1"}}, false},
      {{"-i", "\"my file.tsf\""}, {{"i", "my file.tsf"}}, false},
      {{"-l", "a", "-l", "b"}, {{"l", "b"}}, false},
      {{"-i", "x", "y"}, {{"i", "x"}, {"-1", "y"}}, false},
  };
  for (const auto& [params, expected, usage] : cases) {
    auto table = CommandLine::parse(params);
    EXPECT_EQ(table.entries(), expected) << params[0];
    EXPECT_EQ(table.wantsUsage(), usage) << params[0];
  }
  EXPECT_EQ(CommandLine::parse({}).value("l"), "");
}

TEST(CommandLine, FileOfALaterStartIsFoundFromItsWorkingFolder) {
  const struct {
    std::vector<std::string> params;
    const char* workingFolder;
    const char* expected;
  } cases[] = {
      {{}, "/home/me", ""},
      {{"-l", "x.log"}, "/home/me", ""},
      {{"-h", "a.tsf"}, "/home/me", ""},  // the value of h, not a file to open
      {{"a.tsf"}, "/home/me", "/home/me/a.tsf"},
      {{"mail/a.tsf", "b.tsf"}, "/home/me/", "/home/me/mail/a.tsf"},
      {{"-i", "../a.tsf"}, "/home/me", "/home/me/../a.tsf"},
      {{"-i/srv/a.tsf"}, "/home/me", "/srv/a.tsf"},
      {{"/srv/a b.tsf"}, "/home/me", "/srv/a b.tsf"},
      {{"a.tsf"}, "", "a.tsf"},
      // The two are joined as at start-up; the joint path counts from the
      // folder when the first one is relative.
      {{"a", "-i", "b.tsf"}, "/w", "/w/ab.tsf"},
  };
  for (const auto& [params, folder, expected] : cases)
    EXPECT_EQ(laterStartFileToOpen(params, folder), expected) << (params.empty() ? "" : params[0]);
}

TEST(CommandLine, UsageTextIsExact) {
  EXPECT_EQ(usageText(),
            "velomark_client usage:\n"
            "  velomark_client {-h} {-?} {-l {logfile}} {-i fileToOpen.tsf} {fileToOpen.tsf}\n"
            "  -l logfile    will acivate logging and log to given logfile\n"
            "  -l            will activate logging and logs to %temp%/velomark_log.txt by default\n"
            "  -i file.tsf   will open given tsf file for display\n"
            "  file.tsf      will open given tsf file for display (only without any other switch)\n"
            "  -h or -?      display usage\n");
}

}  // namespace
}  // namespace vm
