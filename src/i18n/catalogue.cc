#include "i18n/catalogue.h"

#include <array>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "base/text.h"

namespace vm {
namespace {

// The languages the catalogue carries, as the language choice compares them.
constexpr std::string_view kLanguageList = "DE EN FR";

// Two-letter codes by Windows primary language number 1..90. The odd entries
// ("jp", "in", "ka" twice, "ma", "mo", "kn", "sy") are the product's own
// codes and stay as they are: only "de", "en" and "fr" matter for the
// choice, the others are kept so the table reads the same everywhere.
constexpr std::array<std::string_view, 90> kLanguageCodes = {
    "ar", "bg", "ca", "zh", "cs", "da", "de", "el", "en", "es", "fi", "fr", "he", "hu", "is",
    "it", "jp", "ko", "nl", "no", "pl", "pt", "en", "ro", "ru", "en", "sk", "sq", "sv", "th",
    "tr", "ur", "in", "uk", "be", "sl", "et", "lv", "lt", "en", "fa", "vi", "hy", "az", "eu",
    "en", "mk", "en", "en", "en", "en", "en", "en", "af", "ka", "fo", "hi", "en", "en", "en",
    "en", "ms", "kk", "ky", "sw", "en", "uz", "tt", "en", "pa", "gu", "en", "ta", "te", "ka",
    "en", "en", "ma", "sa", "mo", "en", "en", "en", "en", "en", "gl", "kn", "en", "en", "sy"};

// POSIX language codes (ISO 639-1, or 639-2/3 where glibc uses them) and the
// Windows primary language number of the same language. Withdrawn ISO codes
// ("iw", "in", "ji", "mo") are accepted because old systems still set them.
constexpr std::pair<std::string_view, int> kPosixLanguages[] = {
    {"ar", 1},   {"bg", 2},  {"ca", 3},  {"zh", 4},   {"cs", 5},   {"da", 6},   {"de", 7},
    {"el", 8},   {"en", 9},  {"es", 10}, {"fi", 11},  {"fr", 12},  {"he", 13},  {"iw", 13},
    {"hu", 14},  {"is", 15}, {"it", 16}, {"ja", 17},  {"ko", 18},  {"nl", 19},  {"no", 20},
    {"nb", 20},  {"nn", 20}, {"pl", 21}, {"pt", 22},  {"rm", 23},  {"ro", 24},  {"mo", 24},
    {"ru", 25},  {"hr", 26}, {"bs", 26}, {"sr", 26},  {"sk", 27},  {"sq", 28},  {"sv", 29},
    {"th", 30},  {"tr", 31}, {"ur", 32}, {"id", 33},  {"in", 33},  {"uk", 34},  {"be", 35},
    {"sl", 36},  {"et", 37}, {"lv", 38}, {"lt", 39},  {"tg", 40},  {"fa", 41},  {"vi", 42},
    {"hy", 43},  {"az", 44}, {"eu", 45}, {"hsb", 46}, {"dsb", 46}, {"mk", 47},  {"st", 48},
    {"ts", 49},  {"tn", 50}, {"ve", 51}, {"xh", 52},  {"zu", 53},  {"af", 54},  {"ka", 55},
    {"fo", 56},  {"hi", 57}, {"mt", 58}, {"se", 59},  {"ga", 60},  {"yi", 61},  {"ji", 61},
    {"ms", 62},  {"kk", 63}, {"ky", 64}, {"sw", 65},  {"tk", 66},  {"uz", 67},  {"tt", 68},
    {"bn", 69},  {"pa", 70}, {"gu", 71}, {"or", 72},  {"ta", 73},  {"te", 74},  {"kn", 75},
    {"ml", 76},  {"as", 77}, {"mr", 78}, {"sa", 79},  {"mn", 80},  {"bo", 81},  {"cy", 82},
    {"km", 83},  {"lo", 84}, {"my", 85}, {"gl", 86},  {"kok", 87}, {"mni", 88}, {"sd", 89},
    {"syr", 90},
};

constexpr int kChinese = 4;

// The Chinese locales written in traditional script (Windows 0x0404, 0x0C04,
// 0x1404) by their POSIX region.
constexpr std::string_view kTraditionalChineseRegions[] = {"TW", "HK", "MO"};

// "de_CH.UTF-8@euro" -> {"de", "CH"}.
std::pair<std::string, std::string> splitLocale(const std::string& locale) {
  std::string language, region;
  std::size_t i = 0;
  for (; i < locale.size() && locale[i] != '_' && locale[i] != '.' && locale[i] != '@'; ++i)
    language += lowerAscii(locale[i]);
  if (i < locale.size() && locale[i] == '_') {
    for (++i; i < locale.size() && locale[i] != '.' && locale[i] != '@'; ++i)
      region += upperAscii(locale[i]);
  }
  return {language, region};
}

std::string chooseFrom(const std::string& code) {
  const std::string list = lowerAscii(kLanguageList);
  std::string::size_type start = 0;
  while (start <= list.size()) {
    auto blank = list.find(' ', start);
    auto token = list.substr(start, blank == std::string::npos ? std::string::npos : blank - start);
    if (token == code) return code;
    if (blank == std::string::npos) break;
    start = blank + 1;
  }
  return "en";
}

std::string firstLocaleVariable() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return {};
}

}  // namespace

int primaryLanguageNumber(const std::string& locale) {
  const auto language = splitLocale(locale).first;
  for (const auto& [code, number] : kPosixLanguages)
    if (code == language) return number;
  return 0;
}

std::string languageOfLocale(const std::string& locale) {
  const int number = primaryLanguageNumber(locale);
  if (number == kChinese) {
    const auto region = splitLocale(locale).second;
    for (auto traditional : kTraditionalChineseRegions)
      if (region == traditional) return "en";
    return "cn";
  }
  if (number < 1 || number > static_cast<int>(kLanguageCodes.size())) return "en";
  return std::string(kLanguageCodes[number - 1]);
}

std::string systemLanguage() { return languageOfLocale(firstLocaleVariable()); }

std::string Catalogue::text(const std::string& key, const std::string& find1,
                            const std::string& replacement1, const std::string& find2,
                            const std::string& replacement2) {
  if (chosen_.empty()) chosen_ = chooseFrom(systemLanguage());
  auto entry = entries_.find(key);
  if (entry == entries_.end()) return {};
  std::string result = chosen_ == "de"   ? entry->second.de
                       : chosen_ == "fr" ? entry->second.fr
                                         : entry->second.en;
  result = replaceAll(result, find1, replacement1);
  result = replaceAll(result, find2, replacement2);
  // After the replacements on purpose: a replacement text may carry the
  // escapes as well and gets them turned into control characters too.
  result = replaceAll(result, "\\n", "\r");
  return replaceAll(result, "\\t", "\t");
}

Catalogue Catalogue::standard() {
  // The proxy examples; the backslashes are literal (a UNC path).
  const std::string proxyExamples =
      "- http://domainOrIP:port {username:password}\n"
      R"(- pac:\\server\path\proxy.pac {username:password})"
      "\n"
      "- pac:http://proxy.example.com/proxy.pac {username:password}";

  Catalogue catalogue;
  catalogue.entries_ = {
      {"askProxy",
       {"Geben Sie den Proxy-Server ein. Beispiele:\n" + proxyExamples,
        "Enter the proxy server. Examples:\n" + proxyExamples,
        "Entrez le serveur proxy. Exemples :\n" + proxyExamples}},
      {"wrongProxyUrl",
       {"Ihr Wert entspricht nicht dem erforderlichen Format wie 'http://domainOrIP:port'!",
        "Your value does not match the needed format like 'http://domainOrIP:port'!",
        "Votre valeur ne correspond pas au format requis, tel que 'http://domainOrIP:port'!"}},
      {"wrongPacUrl",
       {R"(Ihr pac-Wert entspricht nicht dem erforderlichen Format wie 'pac:http://...' oder 'pac:\\server\path\proxy.pac'!)",
        R"(Your pac value does not match the needed format like 'pac:http://...' or 'pac:\\server\path\proxy.pac'!)",
        R"(Votre valeur pac ne correspond pas au format requis, tel que 'pac:http://...' ou 'pac:\\server\path\proxy.pac'!)"}},
      {"cantMigrateKey",
       {"Es war nicht möglich, Ihr App-Passwort während dieses Updates zu migrieren.\n\n"
        "Wenn Sie Ihre velomark-App weiterhin mit einem lokalen Passwort schützen möchten, "
        "müssen Sie in den Einstellungen das Passwort erneut eingeben.",
        "It was not possible to migrate your app password during this update.\n\n"
        "If you like to keep your velomark app secured by a local password, you need to go to "
        "settings and enter the password again.",
        "Il n'a pas été possible de migrer le mot de passe de votre application lors de cette "
        "mise à jour.\n\n"
        "Si vous souhaitez continuer à sécuriser votre application velomark à l'aide d'un mot "
        "de passe local, vous devez vous rendre dans les paramètres et saisir à nouveau le mot "
        "de passe."}},
      // Stored with the two-character escapes, which the lookup turns into
      // carriage returns.
      {"update",
       {R"(Für Version <version> ist ein Update verfügbar.\n\nMöchten Sie dieses Update herunterladen und installieren?)",
        R"(There is an update available for version <version>.\n\nDo you want to download and install this update?)",
        R"(Une mise à jour est disponible pour la version <version>.\n\nVoulez-vous télécharger et installer cette mise à jour ?)"}},
  };
  return catalogue;
}

}  // namespace vm
