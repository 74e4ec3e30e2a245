// The preferences file's INI format as a document in memory: parsing,
// look-up and the exact byte layout the client writes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vm {

class IniDocument {
 public:
  static IniDocument parse(const std::string& bytes);
  // UTF-8 BOM, an empty line, then the content with CR LF line ends and an
  // empty line before every group line but the first.
  std::string serialize() const;

  // nullptr when the group or the key is missing. group "" is the empty group.
  const std::string* find(const std::string& group, const std::string& key) const;
  // Sets or adds the key; a missing group is added at the end.
  void set(const std::string& group, const std::string& key, const std::string& value);
  // True when a key line was removed.
  bool remove(const std::string& group, const std::string& key);
  // Key/value pairs of the group in file order.
  std::vector<std::pair<std::string, std::string>> entries(const std::string& group) const;

 private:
  struct Line {
    enum class Kind { Key, Comment, Raw } kind;
    std::string key;    // Key; the comment text for Comment; the line for Raw
    std::string value;  // Key only
  };
  struct Group {
    std::string name;
    std::vector<Line> lines;
  };

  Group* findGroup(const std::string& name);
  const Group* findGroup(const std::string& name) const;

  // groups_[0] is the empty group before the first group line.
  std::vector<Group> groups_{Group{}};
};

// Values are single-line: each line break (CR LF, CR or LF) becomes one blank.
std::string singleLineValue(const std::string& value);

// Whether a key written to the file reads back as the same key: not empty,
// without "=", CR or LF, not starting with ";" (a comment) or "[" (a group
// line), and without blanks or tabs at either end (they are dropped on reading).
bool isStorableKey(std::string_view key);

}  // namespace vm
