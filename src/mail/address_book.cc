#include "mail/address_book.h"

#include <fcntl.h>
#include <locale.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include "base/log.h"
#include "base/utf8.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace vm {

namespace {

constexpr const char* kCreateTable =
    "CREATE TABLE tblmailaddresses (address CHAR(255) PRIMARY KEY)";

// Another client process may hold a write lock for a moment; waiting briefly
// beats losing the addresses of a mail that was sent.
constexpr int kBusyTimeoutMs = 1000;

struct StatementFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

Statement prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    return nullptr;
  }
  return Statement(raw);
}

std::string errorText(sqlite3* db) {
  const char* message = db ? sqlite3_errmsg(db) : nullptr;
  return message ? message : "out of memory";
}

// Lower-casing is by code point under C.UTF-8, independent of the user's
// locale, so that "Ä@x.de" and "ä@x.de" are one entry. Bytes that are not
// valid UTF-8 pass unchanged.
locale_t utf8Locale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  return locale;
}

// Length of the UTF-8 sequence at text[i] and its code point; 0 when invalid.
std::size_t decodeUtf8(const std::string& text, std::size_t i, char32_t& cp) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length;
  if (lead < 0x80) {
    cp = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMinimum[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}


char32_t lowerCodePoint(char32_t cp) {
  if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + ('a' - 'A') : cp;
  const locale_t locale = utf8Locale();
  if (locale == locale_t{}) return cp;
  const wint_t lower = towlower_l(static_cast<wint_t>(cp), locale);
  return lower > 0x10FFFF ? cp : static_cast<char32_t>(lower);
}

std::string lowerCaseUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const std::size_t length = decodeUtf8(text, i, cp);
    if (length == 0) {
      out += text[i++];
      continue;
    }
    appendUtf8(out, lowerCodePoint(cp));
    i += length;
  }
  return out;
}

}  // namespace

void AddressBook::Closer::operator()(sqlite3* db) const { sqlite3_close_v2(db); }

std::string normaliseAddress(const std::string& entry) {
  // Pasted recipient lists carry tabs and line breaks as well as blanks; none
  // of them can be part of an address's ends.
  constexpr const char* kWhitespace = " \t\r\n\f\v";
  const std::string lower = lowerCaseUtf8(entry);
  const auto first = lower.find_first_not_of(kWhitespace);
  if (first == std::string::npos) return {};
  const auto last = lower.find_last_not_of(kWhitespace);
  return lower.substr(first, last - first + 1);
}

std::vector<std::string> addressEntries(const std::string& recipients) {
  std::vector<std::string> entries;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = recipients.find(',', start);
    std::string entry = normaliseAddress(recipients.substr(start, comma - start));
    if (!entry.empty()) entries.push_back(std::move(entry));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return entries;
}

AddressBook::AddressBook(std::string folder) : folder_(std::move(folder)) {}

AddressBook::~AddressBook() = default;

bool AddressBook::openAddressBook() {
  if (db_) return true;

  makeFolders(folder_);  // a failure shows below
  const std::string path = databasePath();
  if (!isRegularFile(path)) {
    // O_EXCL: never truncate whatever else might sit under that name.
    if (!openFile(path, O_WRONLY | O_CREAT | O_EXCL, 0600)) {
      writeLog("Failed to create tessel database file at [" + path + "]");
      return false;
    }
    writeLog("Created tessel database file at [" + path + "]");
  }

  sqlite3* raw = nullptr;
  const int opened = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  std::unique_ptr<sqlite3, Closer> db(raw);
  if (opened != SQLITE_OK) {
    writeLog("Failed to open tessel database file at [" + path + "] (" + errorText(raw) + ")");
    return false;
  }
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);

  Statement probe = prepare(db.get(), "SELECT COUNT(*) FROM tblmailaddresses");
  if (!probe || sqlite3_step(probe.get()) != SQLITE_ROW) {
    probe.reset();
    // A file that is not a database fails here as well, before SQLite writes
    // anything, so the file stays as it was. The handle is closed so that a
    // later call can find a repaired file.
    if (sqlite3_exec(db.get(), kCreateTable, nullptr, nullptr, nullptr) != SQLITE_OK) {
      writeLog("Failed to add to tblmailaddresses (" + errorText(db.get()) + ")");
      return false;
    }
  }
  probe.reset();
  db_ = std::move(db);
  return true;
}

bool AddressBook::rememberAddresses(const std::string& recipients) {
  if (!openAddressBook()) return false;
  for (const std::string& address : addressEntries(recipients)) {
    // Bound, so quotes and every other character are stored as they are.
    Statement insert =
        prepare(db_.get(), "INSERT OR IGNORE INTO tblmailaddresses (address) VALUES (?1)");
    const bool ok =
        insert &&
        sqlite3_bind_text(insert.get(), 1, address.data(), static_cast<int>(address.size()),
                          SQLITE_TRANSIENT) == SQLITE_OK &&
        sqlite3_step(insert.get()) == SQLITE_DONE;
    if (!ok) {
      writeLog("Failed to insert tblmailaddresses entry (" + errorText(db_.get()) + ")");
      return false;
    }
  }
  return true;
}

std::string AddressBook::listAddresses() {
  if (!openAddressBook()) return {};
  Statement query = prepare(db_.get(), "SELECT address FROM tblmailaddresses ORDER BY address");
  std::string list;
  int step = SQLITE_ERROR;
  if (query) {
    while ((step = sqlite3_step(query.get())) == SQLITE_ROW) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(query.get(), 0));
      const int size = sqlite3_column_bytes(query.get(), 0);
      // NULL or empty rows can only come from outside this client; they
      // would show as empty entries, so they are left out.
      if (!text || size == 0) continue;
      list += ',';
      list.append(text, static_cast<std::size_t>(size));
    }
  }
  if (step != SQLITE_DONE) {
    writeLog("Failed to query tessel database (" + errorText(db_.get()) + ")");
    return {};
  }
  return list.empty() ? list : list.substr(1);
}

BridgeAnswer getAddressesCommand(AddressBook& book, const std::string& /*argsJson*/) {
  return jsonStringAnswer(book.listAddresses());
}

}  // namespace vm
