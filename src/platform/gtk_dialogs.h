// The native dialogs on GTK 3: message boxes, the yes/no question, the small
// input dialog and the file choosers. Every dialog is modal, transient for
// the program's active window when there is one, and runs its own nested
// main loop, so it works whether or not the program's loop is running.
#pragma once

#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace vm {

class GtkDialogs : public Dialogs {
 public:
  void showError(const std::string& text) override;
  void showTitledError(const std::string& title, const std::string& text) override;
  void showInfo(const std::string& text) override;
  bool askYesNo(const std::string& text) override;
  std::string askText(const std::string& prompt, const std::string& defaultText,
                      bool* confirmed = nullptr) override;
  std::string chooseSaveFile(const std::string& title, const std::string& proposedName,
                             const std::vector<FileFilter>& filters) override;
  std::vector<std::string> chooseOpenFiles(const std::string& title,
                                           const std::vector<FileFilter>& filters) override;

 private:
  // A bridge call arriving while the input dialog waits could ask for a
  // second one; only one may exist at a time.
  bool askTextRunning_ = false;
};

// The text a message box shows: valid UTF-8 (invalid bytes become U+FFFD),
// and longer than 65535 characters cut to the first 65534.
std::string messageBoxText(const std::string& text);

// A file-name pattern as a GTK filter pattern: "*.*" means every file ("*"),
// and letters match either case, because the page's patterns name file
// types, not spellings ("*.txt" -> "*.[tT][xX][tT]" also offers "A.TXT").
std::string filterPatternForGtk(const std::string& pattern);

}  // namespace vm
