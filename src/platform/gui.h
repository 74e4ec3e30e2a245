// Start-up of the GUI toolkit and the client's dialogs.
#pragma once

#include <memory>
#include <string>

#include "platform/dialogs.h"

namespace vm {

// Initialises GTK; false when no display can be opened. appId names the
// program to the desktop: the window class (X11) and application id
// (Wayland) that the desktop entry's StartupWMClass and file name match, and
// the theme icon of every window.
bool initGui(int* argc, char*** argv, const std::string& appId);
// The client's dialogs on the toolkit.
std::unique_ptr<Dialogs> makeDialogs();

}  // namespace vm
