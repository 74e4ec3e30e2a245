#include "settings/ini_document.h"

namespace vm {

namespace {
constexpr const char* kBom = "\xEF\xBB\xBF";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string trimBlanks(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && isBlank(s[b])) ++b;
  while (e > b && isBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(current);
      current.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      current += c;
    }
  }
  if (!current.empty()) lines.push_back(current);
  return lines;
}
}  // namespace

bool iniNamesEqual(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  return true;
}

std::string singleLineValue(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c == '\r' || c == '\n') {
      out += ' ';
      if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
    } else {
      out += c;
    }
  }
  return out;
}

IniDocument IniDocument::parse(const std::string& bytes) {
  IniDocument doc;
  std::string text = bytes.compare(0, 3, kBom) == 0 ? bytes.substr(3) : bytes;
  for (const auto& raw : splitLines(text)) {
    std::size_t start = 0;
    while (start < raw.size() && isBlank(raw[start])) ++start;
    std::string line = raw.substr(start);
    if (line.empty()) continue;  // empty lines are layout; serialize() restores them
    if (line[0] == ';') {
      doc.groups_.back().lines.push_back({Line::Kind::Comment, trimBlanks(line.substr(1)), {}});
    } else if (line[0] == '[' && trimBlanks(line).back() == ']') {
      std::string t = trimBlanks(line);
      doc.groups_.push_back(Group{t.substr(1, t.size() - 2), {}});
    } else if (auto eq = line.find('='); eq != std::string::npos) {
      doc.groups_.back().lines.push_back(
          {Line::Kind::Key, trimBlanks(line.substr(0, eq)), trimBlanks(line.substr(eq + 1))});
    } else {
      // Neither group, key nor comment: kept as it stands so a rewrite loses nothing.
      doc.groups_.back().lines.push_back({Line::Kind::Raw, trimBlanks(line), {}});
    }
  }
  return doc;
}

std::string IniDocument::serialize() const {
  std::string out = kBom;
  out += "\r\n";
  bool firstGroupLine = true;
  for (std::size_t g = 0; g < groups_.size(); ++g) {
    if (g > 0) {
      if (!firstGroupLine) out += "\r\n";
      firstGroupLine = false;
      out += "[" + groups_[g].name + "]\r\n";
    }
    for (const auto& line : groups_[g].lines) {
      switch (line.kind) {
        case Line::Kind::Key: out += line.key + " = " + line.value + "\r\n"; break;
        case Line::Kind::Comment: out += "; " + line.key + "\r\n"; break;
        case Line::Kind::Raw: out += line.key + "\r\n"; break;
      }
    }
  }
  return out;
}

IniDocument::Group* IniDocument::findGroup(const std::string& name) {
  if (name.empty()) return &groups_[0];
  for (std::size_t g = 1; g < groups_.size(); ++g)
    if (iniNamesEqual(groups_[g].name, name)) return &groups_[g];
  return nullptr;
}

const IniDocument::Group* IniDocument::findGroup(const std::string& name) const {
  return const_cast<IniDocument*>(this)->findGroup(name);
}

const std::string* IniDocument::find(const std::string& group, const std::string& key) const {
  const Group* g = findGroup(group);
  if (!g) return nullptr;
  for (const auto& line : g->lines)
    if (line.kind == Line::Kind::Key && iniNamesEqual(line.key, key)) return &line.value;
  return nullptr;
}

void IniDocument::set(const std::string& group, const std::string& key, const std::string& value) {
  Group* g = findGroup(group);
  if (!g) {
    groups_.push_back(Group{group, {}});
    g = &groups_.back();
  }
  std::string stored = singleLineValue(value);
  for (auto& line : g->lines) {
    if (line.kind == Line::Kind::Key && iniNamesEqual(line.key, key)) {
      line.value = stored;
      return;
    }
  }
  g->lines.push_back({Line::Kind::Key, singleLineValue(key), stored});
}

bool IniDocument::remove(const std::string& group, const std::string& key) {
  Group* g = findGroup(group);
  if (!g) return false;
  for (auto it = g->lines.begin(); it != g->lines.end(); ++it) {
    if (it->kind == Line::Kind::Key && iniNamesEqual(it->key, key)) {
      g->lines.erase(it);
      return true;
    }
  }
  return false;
}

std::vector<std::pair<std::string, std::string>> IniDocument::entries(const std::string& group) const {
  std::vector<std::pair<std::string, std::string>> out;
  if (const Group* g = findGroup(group))
    for (const auto& line : g->lines)
      if (line.kind == Line::Kind::Key) out.emplace_back(line.key, line.value);
  return out;
}

}  // namespace vm
