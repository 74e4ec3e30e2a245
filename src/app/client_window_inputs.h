// Wires the client's subsystems to the main window: the application URL
// decision with the proxy it applies, the proxy dialog, and the web view's
// proxy and trust settings.
#pragma once

#include "app/main_window.h"

namespace vm {

struct ProcessState;

// Everything runMainWindow needs for the real client. state (and its
// dialogs) must outlive the window.
MainWindowInputs clientMainWindowInputs(ProcessState& state);

}  // namespace vm
