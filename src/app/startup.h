// The program's entry and exit: process-wide state, command line, migration,
// logging set-up, developer mode, the main window, and the shutdown.
#pragma once

namespace vm {

// Runs the whole client; the exit code is always 0.
int runClient(int argc, char** argv);

}  // namespace vm
