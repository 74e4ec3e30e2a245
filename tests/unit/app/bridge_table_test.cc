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

// A row without a handler would leave the page without its function; only
// askProxy, whose dialog is not built yet, may say so.
TEST(BridgeTable, EveryRowButAskProxyMakesAHandler) {
  test::TempDir dir;
  ProcessState state{Preferences(dir.path()), dir.path()};
  test::RecordingDialogs dialogs;
  state.dialogs = &dialogs;
  BridgeContext context{state, nullptr, [] { return std::string(); }, [](const std::string&) {}};
  for (const BridgeRow& row : kBridgeTable) {
    SCOPED_TRACE(row.name);
    ASSERT_NE(row.makeHandler, nullptr);
    if (std::string(row.name) == "askProxy") {
      EXPECT_EQ(row.makeHandler, notBuiltYet);
      continue;
    }
    EXPECT_NE(row.makeHandler, notBuiltYet);
    EXPECT_TRUE(row.makeHandler(context));
  }
}

}  // namespace
}  // namespace vm
