#include "mail/address_book.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "diag/log_writer.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace vm {
namespace {

using test::readFile;
using test::writeFile;

// A second, independent connection, as another tool would open the file.
class RawDb {
 public:
  explicit RawDb(const std::string& path) {
    sqlite3* raw = nullptr;
    EXPECT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    db_.reset(raw);
  }
  void exec(const std::string& sql) {
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << sql << ": " << (error ? error : "");
    sqlite3_free(error);
  }
  // First column of every row; NULL as "<null>".
  std::vector<std::string> column(const std::string& sql) {
    std::vector<std::string> values;
    sqlite3_stmt* raw = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &raw, nullptr), SQLITE_OK) << sql;
    std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> stmt(raw, &sqlite3_finalize);
    while (raw && sqlite3_step(raw) == SQLITE_ROW) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(raw, 0));
      values.emplace_back(text ? std::string(text, sqlite3_column_bytes(raw, 0)) : "<null>");
    }
    return values;
  }

 private:
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db_{nullptr, &sqlite3_close};
};

class AddressBookTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string folder = dir.path() + "tessel/";
  std::string dbPath = folder + "tessel_db.dat";
  std::string logPath = dir.path() + "log.txt";
  test::LogCapture logCapture{logPath};
  AddressBook book{folder};
  std::string logText() { return readFile(logPath); }
  std::vector<std::string> storedRows() {
    return RawDb(dbPath).column("SELECT address FROM tblmailaddresses ORDER BY rowid");
  }
};

TEST_F(AddressBookTest, FirstListOnNewProfileCreatesFolderFileAndTable) {
  EXPECT_EQ(getAddressesCommand(book, "[]"), "\"\"");
  EXPECT_TRUE(book.isOpen());
  EXPECT_EQ(logText(), "Created tessel database file at [" + dbPath + "]\r\n");
  struct stat st;
  ASSERT_EQ(stat(dbPath.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(
      RawDb(dbPath).column("SELECT sql FROM sqlite_master WHERE type = 'table'"),
      std::vector<std::string>{"CREATE TABLE tblmailaddresses (address CHAR(255) PRIMARY KEY)"});

  // Opened once and kept: later calls log nothing more.
  EXPECT_TRUE(book.rememberAddresses("a@x.org"));
  EXPECT_EQ(book.listAddresses(), "a@x.org");
  EXPECT_EQ(logText(), "Created tessel database file at [" + dbPath + "]\r\n");
}

TEST_F(AddressBookTest, EntriesAreNormalisedAndStoredOnce) {
  EXPECT_TRUE(book.rememberAddresses(" Alice@Example.COM ,bob@example.org"));
  EXPECT_TRUE(book.rememberAddresses("ALICE@example.com,,bob@EXAMPLE.org,"));
  EXPECT_TRUE(book.rememberAddresses("o'brien@example.ie"));
  EXPECT_TRUE(book.rememberAddresses("c@x.de;d@x.de"));
  EXPECT_TRUE(book.rememberAddresses(" , ,"));
  EXPECT_EQ(storedRows(), (std::vector<std::string>{"alice@example.com", "bob@example.org",
                                                    "o'brien@example.ie", "c@x.de;d@x.de"}));
}

TEST(AddressEntries, SplittingAndNormalisation) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"", {}},
      {",,,", {}},
      {" Mixed@Case.ORG ,next@x.org", {"mixed@case.org", "next@x.org"}},
      {"a@x,,b@x", {"a@x", "b@x"}},
      {"a@x;b@x", {"a@x;b@x"}},
      {"\ta@x\r\n,\n b@x ", {"a@x", "b@x"}},
      {"in side@x", {"in side@x"}},
      {"x'); DROP TABLE tblmailaddresses;--", {"x'); drop table tblmailaddresses;--"}},
      {"ÄNNE@BÜCHER.DE", {"änne@bücher.de"}},
      {"\xFF"
       "A@B",
       {"\xFF"
        "a@b"}},  // not UTF-8: the byte survives
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(addressEntries(text), expected) << text;
}

TEST_F(AddressBookTest, AnyCharacterIsStoredUnchanged) {
  const std::string tricky = "x'); drop table tblmailaddresses;--@x";
  EXPECT_TRUE(book.rememberAddresses(tricky + ",q\"uote@x"));
  EXPECT_EQ(storedRows(), (std::vector<std::string>{tricky, "q\"uote@x"}));
}

TEST_F(AddressBookTest, ListIsSortedCommaJoinedAndSurvivesReopening) {
  EXPECT_TRUE(book.rememberAddresses("carol@x.org, alice@x.org"));
  EXPECT_TRUE(book.rememberAddresses("bob@x.org"));
  EXPECT_EQ(book.listAddresses(), "alice@x.org,bob@x.org,carol@x.org");

  AddressBook later(folder);
  EXPECT_EQ(later.listAddresses(), "alice@x.org,bob@x.org,carol@x.org");
}

TEST_F(AddressBookTest, AnswerIsEscapedJsonString) {
  EXPECT_TRUE(book.rememberAddresses("a\"b/c\\d@x,tab\there@x,bell\x07@x"));
  const BridgeAnswer answer = getAddressesCommand(book, "[1, 2]");
  ASSERT_TRUE(answer);
  EXPECT_EQ(*answer, R"("a\"b\/c\\d@x,bell\u0007@x,tab\there@x")");
  const Json parsed = Json::parse(*answer, nullptr, false);
  ASSERT_TRUE(parsed.is_string());
  EXPECT_EQ(parsed.get<std::string>(), "a\"b/c\\d@x,bell\x07@x,tab\there@x");
  EXPECT_EQ(getAddressesCommand(book, "not json at all"), answer);
}

TEST_F(AddressBookTest, FileThatIsNotADatabaseIsLeftAloneAndRetriedLater) {
  std::filesystem::create_directory(folder);
  const std::string content = "Outlook contacts export\r\nname,address\r\nAnn,ann@x.org\r\n";
  writeFile(dbPath, content);

  EXPECT_FALSE(book.rememberAddresses("new@x.org"));
  EXPECT_EQ(book.listAddresses(), "");
  EXPECT_EQ(getAddressesCommand(book, "[]"), "\"\"");
  EXPECT_FALSE(book.isOpen());
  EXPECT_EQ(readFile(dbPath), content);
  const std::string line = "Failed to add to tblmailaddresses (file is not a database)\r\n";
  EXPECT_EQ(logText(), line + line + line);

  // Nothing was kept open on the bad file: once it is replaced, the same
  // object works.
  std::filesystem::remove(dbPath);
  EXPECT_TRUE(book.rememberAddresses("new@x.org"));
  EXPECT_EQ(book.listAddresses(), "new@x.org");
}

TEST_F(AddressBookTest, TruncatedDatabaseFailsWithoutChangingTheFile) {
  ASSERT_TRUE(book.openAddressBook());
  {
    std::string fill = "BEGIN;";
    for (int i = 0; i < 400; ++i) {
      fill += "INSERT INTO tblmailaddresses VALUES ('someone.with.a.long.name." +
              std::to_string(i) + "@x.org');";
    }
    RawDb(dbPath).exec(fill + "COMMIT;");
  }
  const std::string whole = readFile(dbPath);
  ASSERT_GT(whole.size(), 8192u);
  const std::string truncated = whole.substr(0, whole.size() / 2);
  writeFile(dbPath, truncated);

  AddressBook reader(folder);
  EXPECT_EQ(reader.listAddresses(), "");
  EXPECT_FALSE(reader.rememberAddresses("new@x.org"));
  EXPECT_EQ(readFile(dbPath), truncated);
  const std::string line =
      "Failed to add to tblmailaddresses (database disk image is malformed)\r\n";
  EXPECT_EQ(logText(), "Created tessel database file at [" + dbPath + "]\r\n" + line + line);
}

TEST_F(AddressBookTest, UncreatableFileIsReported) {
  // The folder's name is taken by a plain file, so neither folder nor file
  // can be created; then a folder squats on the database file's name.
  writeFile(dir.path() + "tessel", "x");
  EXPECT_FALSE(book.rememberAddresses("a@x.org"));
  std::filesystem::remove(dir.path() + "tessel");
  std::filesystem::create_directories(dbPath);
  EXPECT_EQ(book.listAddresses(), "");
  const std::string line = "Failed to create tessel database file at [" + dbPath + "]\r\n";
  EXPECT_EQ(logText(), line + line);
  EXPECT_TRUE(std::filesystem::is_directory(dbPath));
}

TEST_F(AddressBookTest, FailingInsertStopsAndKeepsEarlierEntries) {
  ASSERT_TRUE(book.openAddressBook());
  RawDb(dbPath).exec(
      "CREATE TRIGGER refuse BEFORE INSERT ON tblmailaddresses WHEN NEW.address = 'bad@x' "
      "BEGIN SELECT RAISE(ABORT, 'refused'); END");
  EXPECT_FALSE(book.rememberAddresses("first@x, Bad@x, after@x"));
  EXPECT_EQ(storedRows(), std::vector<std::string>{"first@x"});
  EXPECT_NE(logText().find("Failed to insert tblmailaddresses entry (refused)\r\n"),
            std::string::npos)
      << logText();
}

TEST_F(AddressBookTest, FailingQueryGivesEmptyListAndIsLogged) {
  std::filesystem::create_directory(folder);
  RawDb(dbPath).exec(
      "CREATE TABLE t(a); INSERT INTO t VALUES (1);"
      "CREATE VIEW tblmailaddresses AS SELECT json('not json') AS address FROM t");
  EXPECT_EQ(getAddressesCommand(book, "[]"), "\"\"");
  EXPECT_EQ(logText(), "Failed to query tessel database (malformed JSON)\r\n");
}

TEST_F(AddressBookTest, RowsWrittenByOthersWithoutTextAreLeftOut) {
  ASSERT_TRUE(book.rememberAddresses("b@x"));
  RawDb(dbPath).exec("INSERT INTO tblmailaddresses VALUES (NULL), (''), ('a@x')");
  EXPECT_EQ(book.listAddresses(), "a@x,b@x");
}

}  // namespace
}  // namespace vm
