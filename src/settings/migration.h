// Carries the predecessor client's settings ("tessel_client.ini") over into
// the group "WebApp" of the preferences file once, re-protects its passwords,
// and removes the predecessor's leftover data files.
#pragma once

#include <string>

namespace vm {

class Catalogue;
class Dialogs;
class Preferences;

struct MigrationEnvironment {
  Preferences& prefs;
  Dialogs& dialogs;      // the notice when the app password cannot be carried over
  Catalogue& catalogue;  // its text, "cantMigrateKey"
  // The folder that holds the preferences file, the predecessor's
  // "tessel_client.ini" and its leftovers; ends with "/" (appDataFolder()).
  std::string folder;
};

// Run once per start, before logging is set up. Does nothing when the
// migration was done before or there is no predecessor file to read.
void migratePredecessorSettings(const MigrationEnvironment& env);

// Key in the empty group of the preferences file that records a finished
// migration (its time), so that a predecessor file without a user name is
// not migrated again at every start.
inline constexpr const char* kMigrationDoneKey = "tesselMigrated";

// An optionally signed decimal number at the start of the text, clamped to
// the range of long long; 0 when the text does not begin with one.
long long leadingWholeNumber(const std::string& text);

}  // namespace vm
