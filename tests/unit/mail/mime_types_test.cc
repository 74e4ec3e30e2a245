#include "mail/mime_types.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace vm {
namespace {

const std::string kDefault = "application/octet-stream";

std::vector<std::string> fixtureLines(const std::string& name) {
  std::ifstream in(std::string(VELOMARK_TEST_DATA) + "/mime/" + name);
  EXPECT_TRUE(in) << name;
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  }
  return lines;
}

std::vector<std::pair<std::string, std::string>> tellingRows() {
  std::vector<std::pair<std::string, std::string>> rows;
  for (const std::string& line : fixtureLines("telling_rows.tsv")) {
    const auto tab = line.find('\t');
    rows.emplace_back(line.substr(0, tab), line.substr(tab + 1));
  }
  return rows;
}

TEST(MimeTypes, TellingRowsWithAndWithoutFolders) {
  const auto rows = tellingRows();
  ASSERT_FALSE(rows.empty());
  for (const auto& [extension, type] : rows) {
    for (const char* prefix : {"a.", "Report.", "/home/u/mail.d/scan.", "C:\\Users\\u\\a.b\\x."}) {
      EXPECT_EQ(mimeTypeForFile(prefix + extension), type) << prefix << extension;
    }
  }
}

TEST(MimeTypes, TableIsProductRowsThenThePublicListInOrder) {
  const auto table = mimeTypeTable();
  const auto publicExtensions = fixtureLines("public_extensions.txt");
  ASSERT_EQ(table.size(), 3 + publicExtensions.size());
  EXPECT_STREQ(table[0].extension, "tsf");
  EXPECT_STREQ(table[1].extension, "osp");
  EXPECT_STREQ(table[2].extension, "kvbx");
  for (std::size_t i = 0; i < publicExtensions.size(); ++i) {
    EXPECT_EQ(table[3 + i].extension, publicExtensions[i]) << "row " << 4 + i;
  }
}

TEST(MimeTypes, EveryRowIsReachableByItsLowerCaseExtension) {
  for (const MimeTableRow& row : mimeTypeTable()) {
    const std::string extension = row.extension;
    for (char c : extension) ASSERT_FALSE(std::isupper(static_cast<unsigned char>(c))) << extension;
    EXPECT_EQ(mimeTypeForFile("f." + extension), row.type) << extension;
  }
}

TEST(MimeTypes, ExtensionRules) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Invoice.pdf", "application/pdf"},
      {"Invoice.PDF", kDefault},  // comparison is case-sensitive
      {"Invoice.Pdf", kDefault},
      {"backup.tar.gz", "application/gzip"},
      {"README", kDefault},
      {"ends-in-dot.", kDefault},
      {"", kDefault},
      {".", kDefault},
      {"my.notes for you", kDefault},  // blank after the last dot
      {"my notes.txt", "text/plain"},  // blank before the dot is harmless
      {".pdf", kDefault},              // leading dot: a hidden file
      {"/home/u/.pdf", kDefault},
      {"C:\\temp\\.pdf", kDefault},
      {"..pdf", "application/pdf"},
      {"folder.pdf/file", kDefault},
      {"folder.pdf\\file", kDefault},
      {"data.unknownext", kDefault},
      {"data.pdfx", kDefault},
      {"quoted.pdf\"", "application/pdf"},  // a double quote ends the extension
      {"quoted.pdf\"trailing", "application/pdf"},
      {"brand.tsf", "application/vnd.tessel"},
  };
  for (const auto& [name, type] : cases)
    EXPECT_EQ(mimeTypeForFile(name), type) << '"' << name << '"';
}

TEST(MimeTypes, ExtensionText) {
  EXPECT_EQ(fileNameExtension("a/b.c/d.tar.gz"), "gz");
  EXPECT_EQ(fileNameExtension("x.PDF"), "PDF");
  EXPECT_EQ(fileNameExtension("x.a\"b"), "a");
  EXPECT_EQ(fileNameExtension("dir/.bashrc"), "");
  EXPECT_EQ(fileNameExtension("x.a b"), "");
}

}  // namespace
}  // namespace vm
