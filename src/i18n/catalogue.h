// The message catalogue of the native dialogs (German, English, French) and
// the choice of language from the locale.
#pragma once

#include <map>
#include <string>

namespace vm {

class Catalogue {
 public:
  // The full catalogue of the client.
  static Catalogue standard();

  // The text of key in the chosen language with find1 -> replacement1 and
  // find2 -> replacement2 applied (an empty find means none), then "\n" as
  // the two characters backslash-n turned into CR and backslash-t into tab.
  // The language is chosen at the first lookup and kept.
  std::string text(const std::string& key, const std::string& find1 = {},
                   const std::string& replacement1 = {}, const std::string& find2 = {},
                   const std::string& replacement2 = {});

  // For tests: fix the chosen language ("de", "en", "fr").
  void chooseLanguage(const std::string& code) { chosen_ = code; }
  // The language fixed for this run; empty before the first lookup.
  const std::string& chosenLanguage() const { return chosen_; }

 private:
  struct Texts {
    std::string de, en, fr;
  };
  std::map<std::string, Texts> entries_;
  std::string chosen_;
};

// The lookup every dialog text goes through.
inline std::string catalogueText(Catalogue& catalogue, const std::string& key,
                                 const std::string& find1 = {}, const std::string& replacement1 = {},
                                 const std::string& find2 = {}, const std::string& replacement2 = {}) {
  return catalogue.text(key, find1, replacement1, find2, replacement2);
}

// Two-letter code of the user's locale (first non-empty of LC_ALL,
// LC_MESSAGES, LANG); see the language code table.
std::string systemLanguage();

// The same for one POSIX locale name such as "de_CH.UTF-8": "de", "fr",
// "cn" for simplified Chinese, "en" for anything unknown.
std::string languageOfLocale(const std::string& locale);

// The Windows primary language number (1..90 for the known ones, 0 when
// unknown) of a POSIX locale name.
int primaryLanguageNumber(const std::string& locale);

}  // namespace vm
