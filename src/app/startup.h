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

}  // namespace vm
