// A Dialogs fake that records what was shown and answers from a script.
#pragma once

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "platform/dialogs.h"

namespace vm::test {

class RecordingDialogs : public Dialogs {
 public:
  // The arguments of one file dialog.
  struct FileDialogCall {
    std::string title;
    std::string proposedName;  // empty for the open-file dialog
    std::vector<FileFilter> filters;
  };

  std::vector<std::string> errors, infos, questions, prompts, presets;
  std::vector<FileDialogCall> saveCalls, openCalls;
  std::vector<std::pair<std::string, std::string>> titledErrors;  // title, text
  std::deque<std::string> saveAnswers, textAnswers;
  std::deque<std::vector<std::string>> openAnswers;
  bool yesNoAnswer = false;

  void showError(const std::string& text) override { errors.push_back(text); }
  void showTitledError(const std::string& title, const std::string& text) override {
    titledErrors.emplace_back(title, text);
  }
  void showInfo(const std::string& text) override { infos.push_back(text); }
  bool askYesNo(const std::string& text) override {
    questions.push_back(text);
    return yesNoAnswer;
  }
  std::string askText(const std::string& prompt, const std::string& preset,
                      bool* confirmed) override {
    prompts.push_back(prompt);
    presets.push_back(preset);
    std::string answer = pop(textAnswers);
    if (confirmed) *confirmed = !answer.empty();
    return answer;
  }
  std::string chooseSaveFile(const std::string& title, const std::string& proposedName,
                             const std::vector<FileFilter>& filters) override {
    saveCalls.push_back({title, proposedName, filters});
    return pop(saveAnswers);
  }
  std::vector<std::string> chooseOpenFiles(const std::string& title,
                                           const std::vector<FileFilter>& filters) override {
    openCalls.push_back({title, "", filters});
    if (openAnswers.empty()) return {};
    auto answer = openAnswers.front();
    openAnswers.pop_front();
    return answer;
  }

 private:
  static std::string pop(std::deque<std::string>& queue) {
    if (queue.empty()) return {};
    std::string s = queue.front();
    queue.pop_front();
    return s;
  }
};

}  // namespace vm::test
