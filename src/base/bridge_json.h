// JSON conventions of the script bridge: argument parsing, value-to-text
// rules, answer escaping, and the backslash-path helpers.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vm {

using Json = nlohmann::json;
// A bridge answer: JSON text, or nothing.
using BridgeAnswer = std::optional<std::string>;

// The JSON text with every escape of a lone UTF-16 surrogate ("\\uD83D" not
// followed by its low half, or a low half alone) inside strings replaced by
// "\\uFFFD"; a strict parser would refuse the whole text for it.
std::string replaceLoneSurrogateEscapes(std::string_view json);

// Parses the argument text of a bridge call; nullopt when it is not a JSON
// array (treated like a wrong argument count). Lone surrogates read as U+FFFD.
std::optional<Json> parseBridgeArgs(const std::string& argsJson);

// Parses and checks the count. On a mismatch (or a parse failure) logs
// message and returns nullopt.
std::optional<Json> bridgeArgsExactly(const std::string& argsJson, std::size_t count,
                                      const char* wrongCountMessage);

// An element read as a name or key: a JSON string as it is, anything else empty.
std::string jsonStringOrEmpty(const Json& value);
// An element carrying a setting value: string as is, number in the short
// fixed-point form, true "1", false "0", null/array/object empty.
std::string settingValueText(const Json& value);
// Fixed-point with ten decimals, trailing zeros and point removed (2.50 -> "2.5").
std::string fixedPointText(double number);

// The escaping of string answers: the eight two-character escapes, and every
// other control character below 0x20 as \u00XX so that the answer stays JSON.
// Bytes that are not valid UTF-8 (a file or database written by another
// program) become U+FFFD, so the answer always parses.
std::string jsonEscape(const std::string& text);
// Quotation mark, escaped text, quotation mark.
std::string jsonStringAnswer(const std::string& text);

// Backslash-separated path lookup ("a\[1]\b"); nullptr when nothing is there.
const Json* jsonValueAtPath(const Json* document, const std::string& path);
// The found value as text (see the bridge conventions); quote wraps strings.
std::string jsonTextAtPath(const Json* document, const std::string& path, const std::string& quote);

}  // namespace vm
