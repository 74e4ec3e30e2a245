#include "base/bridge_json.h"

#include <cstdio>

#include "base/log.h"
#include "base/numbers.h"
#include "base/utf8.h"

namespace vm {

namespace {

constexpr std::string_view kReplacementEscape = "\\uFFFD";

// The UTF-16 unit of the escape "\uXXXX" at text[at], or -1 when there is none.
int escapedUnitAt(std::string_view text, std::size_t at) {
  if (at + 6 > text.size() || text[at] != '\\' || text[at + 1] != 'u') return -1;
  int unit = 0;
  for (std::size_t i = at + 2; i < at + 6; ++i) {
    const int digit = hexDigitValue(text[i]);
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

bool isHighSurrogate(int unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(int unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::string replaceLoneSurrogateEscapes(std::string_view json) {
  std::string out;
  out.reserve(json.size());
  bool inString = false;
  for (std::size_t i = 0; i < json.size();) {
    const char c = json[i];
    if (!inString || c != '\\') {
      if (c == '"') inString = !inString;
      out += c;
      ++i;
      continue;
    }
    const int unit = escapedUnitAt(json, i);
    if (unit < 0) {  // another escape: it and the character it escapes
      out.append(json.substr(i, 2));
      i += 2;
      continue;
    }
    if (isHighSurrogate(unit) && isLowSurrogate(escapedUnitAt(json, i + 6))) {
      out.append(json.substr(i, 12));
      i += 12;
      continue;
    }
    if (isHighSurrogate(unit) || isLowSurrogate(unit))
      out += kReplacementEscape;
    else
      out.append(json.substr(i, 6));
    i += 6;
  }
  return out;
}

std::optional<Json> parseBridgeArgs(const std::string& argsJson) {
  // A page string cut in the middle of a surrogate pair is still the page's
  // text: the lone half reads as U+FFFD instead of failing the whole call.
  Json doc = Json::parse(replaceLoneSurrogateEscapes(argsJson), nullptr, /*allow_exceptions=*/false);
  if (doc.is_discarded() || !doc.is_array()) return std::nullopt;
  return doc;
}

std::optional<Json> bridgeArgsExactly(const std::string& argsJson, std::size_t count,
                                      const char* wrongCountMessage) {
  auto args = parseBridgeArgs(argsJson);
  if (!args || args->size() != count) {
    writeLog(wrongCountMessage);
    return std::nullopt;
  }
  return args;
}

std::string jsonStringOrEmpty(const Json& value) {
  return value.is_string() ? value.get<std::string>() : std::string();
}

std::string fixedPointText(double number) {
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.10f", number);
  std::string text(buf);
  if (text.find('.') != std::string::npos) {
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
  }
  if (text == "-0") text = "0";
  return text;
}

std::string settingValueText(const Json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number()) return fixedPointText(value.get<double>());
  if (value.is_boolean()) return value.get<bool>() ? "1" : "0";
  return {};
}

std::string jsonEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (unsigned char c : validUtf8(text)) {
    switch (c) {
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '/': out += "\\/"; break;
      case '\\': out += "\\\\"; break;
      default:
        if (c < 0x20) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04X", c);
          out += esc;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

std::string jsonStringAnswer(const std::string& text) { return "\"" + jsonEscape(text) + "\""; }

namespace {
std::vector<std::string> splitAtBackslash(const std::string& path) {
  std::vector<std::string> fields;
  std::string::size_type start = 0;
  while (true) {
    auto pos = path.find('\\', start);
    fields.push_back(path.substr(start, pos == std::string::npos ? std::string::npos : pos - start));
    if (pos == std::string::npos) return fields;
    start = pos + 1;
  }
}

}  // namespace

const Json* jsonValueAtPath(const Json* document, const std::string& path) {
  if (!document || path.empty()) return document;
  const Json* current = document;
  for (const auto& field : splitAtBackslash(path)) {
    if (!current) return nullptr;
    if (field.size() >= 2 && field.front() == '[' && field.back() == ']') {
      long long index = wholeInteger(field.substr(1, field.size() - 2)).value_or(0);
      if (current->is_array() && index >= 0 && static_cast<std::size_t>(index) < current->size())
        current = &(*current)[static_cast<std::size_t>(index)];
      else
        current = nullptr;
    } else if (current->is_object()) {
      auto it = current->find(field);
      current = it == current->end() ? nullptr : &*it;
    } else {
      current = nullptr;
    }
  }
  return current;
}

std::string jsonTextAtPath(const Json* document, const std::string& path, const std::string& quote) {
  const Json* value = jsonValueAtPath(document, path);
  if (!value) return {};
  if (value->is_string()) return quote + value->get<std::string>() + quote;
  if (value->is_boolean()) return value->get<bool>() ? "true" : "false";
  if (value->is_null()) return "null";
  if (value->is_number()) return fixedPointText(value->get<double>());
  return {};
}

}  // namespace vm
