#include "app/bridge_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/process_state.h"
#include "support/recording_dialogs.h"
#include "support/temp_dir.h"

namespace vm {
namespace {

TEST(BridgeTable, TheSeventeenCommandsInThePagesOrder) {
  std::vector<std::string> names;
  for (const BridgeRow& row : kBridgeTable) names.push_back(row.name);
  EXPECT_EQ(names, (std::vector<std::string>{
                       "getHostInfo", "setSetting", "deleteSetting", "getSetting", "getAllSettings",
                       "openFile", "closeApp", "reload", "askProxy", "sendLogEntry", "enableLog",
                       "attachFiles", "requestData", "openURL", "sendMail", "getAddresses",
                       "sendLog"}));
}

// The handlers' context over a state of their own.
class BridgeRows : public ::testing::Test {
 protected:
  BridgeRows() { state.dialogs = &dialogs; }
  test::TempDir dir;
  ProcessState state{Preferences(dir.path()), dir.path()};
  test::RecordingDialogs dialogs;
  BridgeContext context{state, nullptr, [] { return std::string(); }, [](const std::string&) {}};
};

// A row without a handler would leave the page without its function.
TEST_F(BridgeRows, EveryRowMakesAHandler) {
  for (const BridgeRow& row : kBridgeTable) {
    SCOPED_TRACE(row.name);
    // Exactly one kind: one answering at once or one answering later.
    ASSERT_NE(row.makeHandler == nullptr, row.makeLaterHandler == nullptr);
    if (row.makeHandler)
      EXPECT_TRUE(row.makeHandler(context));
    else
      EXPECT_TRUE(row.makeLaterHandler(context));
  }
}

// askProxy only posts the dialog request: the page's call completes before
// the loop shows the dialog, whatever arguments it passed.
TEST_F(BridgeRows, AskProxyPostsTheDialogRequestAndAnswersNothing) {
  const BridgeRow& row = kBridgeTable[8];
  ASSERT_STREQ(row.name, "askProxy");
  EXPECT_EQ(row.makeHandler(context)("[1, \"x\"]"), std::nullopt);
  EXPECT_TRUE(state.proxyDialogRequested);
  EXPECT_TRUE(dialogs.prompts.empty());
}

}  // namespace
}  // namespace vm
