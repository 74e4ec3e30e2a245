// Start-up of the GUI toolkit and the client's dialogs.
#pragma once

#include <memory>

#include "platform/dialogs.h"

namespace vm {

// Initialises GTK; false when no display can be opened.
bool initGui(int* argc, char*** argv);
// The client's dialogs on the toolkit.
std::unique_ptr<Dialogs> makeDialogs();

}  // namespace vm
