#include "i18n/catalogue.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace vm {
namespace {

// Sets the three locale variables for one test and puts the old values back.
class LocaleEnvironment {
 public:
  LocaleEnvironment(const char* lcAll, const char* lcMessages, const char* lang) {
    for (int i = 0; i < 3; ++i) {
      const char* old = std::getenv(kNames[i]);
      saved_[i] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    set(lcAll, lcMessages, lang);
  }
  ~LocaleEnvironment() {
    for (int i = 0; i < 3; ++i) put(kNames[i], saved_[i] ? saved_[i]->c_str() : nullptr);
  }
  void set(const char* lcAll, const char* lcMessages, const char* lang) {
    put("LC_ALL", lcAll);
    put("LC_MESSAGES", lcMessages);
    put("LANG", lang);
  }

 private:
  static void put(const char* name, const char* value) {
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  static constexpr const char* kNames[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::optional<std::string> saved_[3];
};

const std::string kProxyExamples =
    "- http://domainOrIP:port {username:password}\n"
    "- pac:\\\\server\\path\\proxy.pac {username:password}\n"
    "- pac:http://proxy.example.com/proxy.pac {username:password}";

TEST(CatalogueTest, LocaleNamesGiveLanguageCodes) {
  const std::pair<const char*, const char*> cases[] = {
      {"de_CH.UTF-8", "de"},      {"de_DE", "de"},       {"de", "de"},
      {"DE_at.ISO-8859-1", "de"}, {"fr_CA.UTF-8", "fr"}, {"fr_FR@euro", "fr"},
      {"en_US.UTF-8", "en"},      {"zh_CN.UTF-8", "cn"}, {"zh_SG", "cn"},
      {"zh_TW.UTF-8", "en"},      {"zh_HK", "en"},       {"zh_MO.UTF-8", "en"},
      {"ja_JP.UTF-8", "jp"},      {"nb_NO.UTF-8", "no"}, {"he_IL", "he"},
      {"sr_RS@latin", "en"},      {"mr_IN", "ma"},       {"C", "en"},
      {"C.UTF-8", "en"},          {"POSIX", "en"},       {"", "en"},
      {"gd_GB.UTF-8", "en"},      {"_DE", "en"},
  };
  for (const auto& [locale, code] : cases) EXPECT_EQ(languageOfLocale(locale), code) << locale;
}

TEST(CatalogueTest, LocaleNamesGiveWindowsPrimaryNumbers) {
  const std::pair<const char*, int> cases[] = {
      {"de_CH.UTF-8", 7}, {"en_GB", 9},   {"fr_BE", 12}, {"zh_TW", 4}, {"ja_JP", 17},
      {"ar_EG", 1},       {"syr_SY", 90}, {"xx_YY", 0},  {"C", 0},     {"", 0},
  };
  for (const auto& [locale, number] : cases)
    EXPECT_EQ(primaryLanguageNumber(locale), number) << locale;
}

TEST(CatalogueTest, FirstNonEmptyLocaleVariableCounts) {
  struct Case {
    const char *lcAll, *lcMessages, *lang, *code;
  };
  const Case cases[] = {
      {"de_CH.UTF-8", "fr_FR.UTF-8", "en_US.UTF-8", "de"},
      {"", "fr_FR.UTF-8", "de_DE.UTF-8", "fr"},
      {nullptr, nullptr, "de_AT.UTF-8", "de"},
      {"", "", "fr_CA", "fr"},
      {"ja_JP.UTF-8", "de_DE", "fr_FR", "jp"},
      {nullptr, nullptr, nullptr, "en"},
      {"", "", "", "en"},
  };
  LocaleEnvironment env(nullptr, nullptr, nullptr);
  for (const auto& c : cases) {
    env.set(c.lcAll, c.lcMessages, c.lang);
    EXPECT_EQ(systemLanguage(), c.code)
        << (c.lcAll ? c.lcAll : "-") << " " << (c.lcMessages ? c.lcMessages : "-") << " "
        << (c.lang ? c.lang : "-");
  }
}

TEST(CatalogueTest, LocaleChoosesGermanFrenchOrEnglish) {
  const std::pair<const char*, const char*> cases[] = {
      {"de_CH.UTF-8",
       "Ihr Wert entspricht nicht dem erforderlichen Format wie "
       "'http://domainOrIP:port'!"},
      {"fr_CA.UTF-8",
       "Votre valeur ne correspond pas au format requis, tel que "
       "'http://domainOrIP:port'!"},
      {"zh_CN.UTF-8",
       "Your value does not match the needed format like "
       "'http://domainOrIP:port'!"},
      {"zh_TW.UTF-8",
       "Your value does not match the needed format like "
       "'http://domainOrIP:port'!"},
      {"ja_JP.UTF-8",
       "Your value does not match the needed format like "
       "'http://domainOrIP:port'!"},
      {"C", "Your value does not match the needed format like 'http://domainOrIP:port'!"},
  };
  LocaleEnvironment env(nullptr, nullptr, nullptr);
  for (const auto& [locale, text] : cases) {
    env.set(locale, nullptr, nullptr);
    auto catalogue = Catalogue::standard();
    EXPECT_EQ(catalogue.text("wrongProxyUrl"), text) << locale;
  }
}

TEST(CatalogueTest, LanguageIsKeptAfterFirstLookup) {
  LocaleEnvironment env("fr_FR.UTF-8", nullptr, nullptr);
  auto catalogue = Catalogue::standard();
  EXPECT_EQ(catalogue.chosenLanguage(), "");
  EXPECT_EQ(catalogue.text("no such key"), "");
  EXPECT_EQ(catalogue.chosenLanguage(), "fr");
  env.set("de_DE.UTF-8", nullptr, nullptr);
  EXPECT_EQ(catalogue.chosenLanguage(), "fr");
  EXPECT_EQ(catalogue.text("wrongProxyUrl").substr(0, 12), "Votre valeur");
}

TEST(CatalogueTest, EveryTextByteForByte) {
  struct Case {
    const char *language, *key;
    std::string text;
  };
  const Case cases[] = {
      {"en", "askProxy", "Enter the proxy server. Examples:\n" + kProxyExamples},
      {"de", "askProxy", "Geben Sie den Proxy-Server ein. Beispiele:\n" + kProxyExamples},
      {"fr", "askProxy", "Entrez le serveur proxy. Exemples :\n" + kProxyExamples},
      {"en", "wrongProxyUrl",
       "Your value does not match the needed format like 'http://domainOrIP:port'!"},
      {"de", "wrongProxyUrl",
       "Ihr Wert entspricht nicht dem erforderlichen Format wie 'http://domainOrIP:port'!"},
      {"fr", "wrongProxyUrl",
       "Votre valeur ne correspond pas au format requis, tel que 'http://domainOrIP:port'!"},
      {"en", "wrongPacUrl",
       "Your pac value does not match the needed format like 'pac:http://...' or "
       "'pac:\\\\server\\path\\proxy.pac'!"},
      {"de", "wrongPacUrl",
       "Ihr pac-Wert entspricht nicht dem erforderlichen Format wie 'pac:http://...' oder "
       "'pac:\\\\server\\path\\proxy.pac'!"},
      {"fr", "wrongPacUrl",
       "Votre valeur pac ne correspond pas au format requis, tel que 'pac:http://...' ou "
       "'pac:\\\\server\\path\\proxy.pac'!"},
      {"en", "cantMigrateKey",
       "It was not possible to migrate your app password during this update.\n\nIf you like "
       "to keep your velomark app secured by a local password, you need to go to settings and "
       "enter the password again."},
      {"de", "cantMigrateKey",
       "Es war nicht m\u00f6glich, Ihr App-Passwort w\u00e4hrend dieses Updates zu migrieren."
       "\n\nWenn Sie Ihre velomark-App weiterhin mit einem lokalen Passwort sch\u00fctzen "
       "m\u00f6chten, m\u00fcssen Sie in den Einstellungen das Passwort erneut eingeben."},
      {"fr", "cantMigrateKey",
       "Il n'a pas \u00e9t\u00e9 possible de migrer le mot de passe de votre application lors "
       "de cette mise \u00e0 jour.\n\nSi vous souhaitez continuer \u00e0 s\u00e9curiser votre "
       "application velomark \u00e0 l'aide d'un mot de passe local, vous devez vous rendre dans "
       "les param\u00e8tres et saisir \u00e0 nouveau le mot de passe."},
      {"en", "update",
       "There is an update available for version <version>.\r\rDo you want to download and "
       "install this update?"},
      {"de", "update",
       "F\u00fcr Version <version> ist ein Update verf\u00fcgbar.\r\rM\u00f6chten Sie dieses "
       "Update herunterladen und installieren?"},
      {"fr", "update",
       "Une mise \u00e0 jour est disponible pour la version <version>.\r\rVoulez-vous "
       "t\u00e9l\u00e9charger et installer cette mise \u00e0 jour ?"},
  };
  for (const auto& c : cases) {
    auto catalogue = Catalogue::standard();
    catalogue.chooseLanguage(c.language);
    EXPECT_EQ(catalogue.text(c.key), c.text) << c.language << " " << c.key;
  }
}

TEST(CatalogueTest, ReplacementsThenEscapes) {
  struct Case {
    const char *key, *find1, *replacement1, *find2, *replacement2;
    std::string text;
  };
  const Case cases[] = {
      {"update", "<version>", "5.1.0", "", "",
       "There is an update available for version 5.1.0.\r\rDo you want to download and "
       "install this update?"},
      // Escapes inside a replacement text are turned as well.
      {"update", "<version>", "5.1\\n0\\t!", "", "",
       "There is an update available for version 5.1\r0\t!.\r\rDo you want to download and "
       "install this update?"},
      // The second pair also sees what the first pair put in.
      {"update", "<version>", "A", "A", "B",
       "There is an update available for version B.\r\rDo you want to download and "
       "install this update?"},
      // A replacement holding its own find text is not replaced again.
      {"wrongProxyUrl", "o", "oo", "", "",
       "Yoour value dooes noot match the needed foormat like 'http://doomainOrIP:poort'!"},
      // An empty find means no replacement, whatever the replacement text.
      {"update", "", "X", "", "Y",
       "There is an update available for version <version>.\r\rDo you want to download and "
       "install this update?"},
      {"no such key", "<version>", "5.1.0", "", "", ""},
      {"Update", "", "", "", "", ""},
  };
  for (const auto& c : cases) {
    auto catalogue = Catalogue::standard();
    catalogue.chooseLanguage("en");
    EXPECT_EQ(catalogue.text(c.key, c.find1, c.replacement1, c.find2, c.replacement2), c.text)
        << c.key << " " << c.find1 << "->" << c.replacement1;
  }
}

}  // namespace
}  // namespace vm
