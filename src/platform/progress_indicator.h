// The small window that shows that the client is busy (the update download):
// borderless, 100 by 100 pixels, centred, never taking the keyboard focus,
// with one centred line of text.
#pragma once

#include <memory>
#include <string>

namespace vm {

class ProgressIndicator {
 public:
  virtual ~ProgressIndicator() = default;
  virtual void showText(const std::string& text) = 0;
  // Handles the window events that are waiting, without waiting for one, so
  // that the window is painted while its thread polls something else.
  virtual void handlePendingEvents() = 0;
};

// Opens the window on the toolkit (which must be initialised with a display)
// with empty text; the window closes when the object goes.
std::unique_ptr<ProgressIndicator> openProgressIndicator();

}  // namespace vm
