// The local address book: every address mailed to successfully, kept in a
// one-table SQLite database in the per-user folder for the page's completion.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/bridge_json.h"

struct sqlite3;

namespace vm {


// One entry of a recipient text as it is stored: lower case, without
// whitespace at both ends (may be empty).
std::string normaliseAddress(const std::string& entry);
// The non-empty normalised entries of a comma-separated recipient text, in
// order; a semicolon does not separate.
std::vector<std::string> addressEntries(const std::string& recipients);

class AddressBook {
 public:
  // folder ends with "/" (appDataFolder()); nothing is touched until first use.
  explicit AddressBook(std::string folder);
  ~AddressBook();
  AddressBook(const AddressBook&) = delete;
  AddressBook& operator=(const AddressBook&) = delete;

  std::string databasePath() const { return folder_ + "tessel_db.dat"; }
  bool isOpen() const { return db_ != nullptr; }

  // Opens the database on first use (creating folder, file and table) and
  // keeps it open; true when it is open and the table exists. A failure
  // leaves it closed so that the next call starts again.
  bool openAddressBook();
  // Stores each non-empty comma-separated entry; true when all were stored
  // or already present. Stops at the first failing insert.
  bool rememberAddresses(const std::string& recipients);
  // All addresses in byte order joined by ","; empty on failure.
  std::string listAddresses();

 private:
  struct Closer {
    void operator()(sqlite3* db) const;
  };

  std::string folder_;
  std::unique_ptr<sqlite3, Closer> db_;
};

// Bridge command getAddresses: arguments ignored, answers the list as a JSON string.
BridgeAnswer getAddressesCommand(AddressBook& book, const std::string& argsJson);

}  // namespace vm
