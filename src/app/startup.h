// The program's entry and exit: process-wide state, command line, migration,
// logging set-up, developer mode, the main window, and the shutdown.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vm {

class CommandLine;
struct ProcessState;

// Runs the whole client; the exit code is always 0.
int runClient(int argc, char** argv);

// Fills the constant and per-run parts of the process-wide state.
void initialiseProcessState(ProcessState& state);
// "xsf" followed by two random numbers from 1000000000 to 2147483647.
std::string makeOAuthState();
// Log file path, the "-l" option and the stored "debug" setting.
void setUpLogging(ProcessState& state, const CommandLine& cmd, const std::string& tempFolder);
// "true" when TS_PLSKEYID or TS_CLKEYID is set to anything but "" or "0".
std::string developerModeFrom(const std::function<const char*(const char*)>& getEnv);
// Deletes each listed path that names an existing file, logging failures.
void deleteTemporaryFiles(const std::vector<std::string>& paths);

// What the update step of the shutdown calls: the check with the stored
// check time, the download with the offered address, and the clock.
struct UpdateStepCalls {
  std::function<std::string(long long checkTime)> check;
  std::function<bool(const std::string& url)> downloadAndRun;
  std::function<long long()> now;
};
// The calls of this build: the update check and download on the state's
// HTTP client, the local clock.
UpdateStepCalls updateStepCallsOf(ProcessState& state);
// Runs the check with "lastUpdateCheck" (empty group; no number counts as
// 0), stores the current time unless the check was not due, and when a newer
// version is offered asks the user with the catalogue text "update" and, on
// Yes, starts its download.
void runUpdateStep(ProcessState& state, const UpdateStepCalls& calls);

}  // namespace vm
