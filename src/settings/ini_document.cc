#include "settings/ini_document.h"

#include "base/text.h"

namespace vm {

namespace {
constexpr const char* kBom = "\xEF\xBB\xBF";

std::string trimmed(std::string_view s) { return std::string(trimBlanks(s)); }

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

bool isStorableKey(std::string_view key) {
  if (key.empty() || trimBlanks(key).size() != key.size()) return false;
  if (key.front() == ';' || key.front() == '[') return false;
  return key.find_first_of("=\r\n") == std::string_view::npos;
}

IniDocument IniDocument::parse(const std::string& bytes) {
  IniDocument doc;
  std::string text = bytes.starts_with(kBom) ? bytes.substr(3) : bytes;
  for (const auto& raw : splitLines(text)) {
    const std::string_view line = trimBlanks(raw);
    if (line.empty()) continue;  // empty lines are layout; serialize() restores them
    if (line[0] == ';') {
      doc.groups_.back().lines.push_back({Line::Kind::Comment, trimmed(line.substr(1)), {}});
    } else if (line[0] == '[' && line.back() == ']') {
      doc.groups_.push_back(Group{std::string(line.substr(1, line.size() - 2)), {}});
    } else if (auto eq = line.find('='); eq != std::string_view::npos) {
      doc.groups_.back().lines.push_back(
          {Line::Kind::Key, trimmed(line.substr(0, eq)), trimmed(line.substr(eq + 1))});
    } else {
      // Neither group, key nor comment: kept as it stands so a rewrite loses nothing.
      doc.groups_.back().lines.push_back({Line::Kind::Raw, std::string(line), {}});
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
    if (equalsIgnoringAsciiCase(groups_[g].name, name)) return &groups_[g];
  return nullptr;
}

const IniDocument::Group* IniDocument::findGroup(const std::string& name) const {
  return const_cast<IniDocument*>(this)->findGroup(name);
}

const std::string* IniDocument::find(const std::string& group, const std::string& key) const {
  const Group* g = findGroup(group);
  if (!g) return nullptr;
  for (const auto& line : g->lines)
    if (line.kind == Line::Kind::Key && equalsIgnoringAsciiCase(line.key, key)) return &line.value;
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
    if (line.kind == Line::Kind::Key && equalsIgnoringAsciiCase(line.key, key)) {
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
    if (it->kind == Line::Kind::Key && equalsIgnoringAsciiCase(it->key, key)) {
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
