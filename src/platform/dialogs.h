// The native dialogs, as an interface: the GTK implementation lives in
// gtk_dialogs.*, tests use a recording fake.
#pragma once

#include <string>
#include <vector>

namespace vm {

struct FileFilter {
  std::string description;  // "Text (*.txt,*.log)"
  std::string patterns;     // "*.txt;*.log"; "*.*" means every file
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // Message boxes titled "velomark" with one OK button.
  virtual void showError(const std::string& text) = 0;
  // The error box under a title of its own ("PAC error").
  virtual void showTitledError(const std::string& title, const std::string& text) = 0;
  virtual void showInfo(const std::string& text) = 0;
  // Yes/No question with the information icon; true for Yes.
  virtual bool askYesNo(const std::string& text) = 0;
  // The input dialog: the entered text, or empty text on cancel. A close
  // request of any of the program's windows cancels it. confirmed
  // (optional) tells an accepted empty entry from a cancel.
  virtual std::string askText(const std::string& prompt, const std::string& defaultText,
                              bool* confirmed = nullptr) = 0;
  // Save-file dialog: the chosen path, or empty text when cancelled.
  virtual std::string chooseSaveFile(const std::string& title, const std::string& proposedName,
                                     const std::vector<FileFilter>& filters) = 0;
  // Open-file dialog with multiple selection: the chosen paths, empty when cancelled.
  virtual std::vector<std::string> chooseOpenFiles(const std::string& title,
                                                   const std::vector<FileFilter>& filters) = 0;
};

// Parses "Desc|pat;pat|Desc|pat" into filters.
std::vector<FileFilter> parseFilterList(const std::string& list);

}  // namespace vm
