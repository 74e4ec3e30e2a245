// HTML to plain text for the desktop mail hand-off: line structure from block
// elements, list markers, table separators, link targets after the link
// text, character references decoded, tags and comments removed, runs of
// blanks collapsed. A fixed sequence of substitutions, not an HTML parser.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vm {

// Never fails; lines end in CR LF. Input that is not valid UTF-8 has each
// offending byte replaced by U+FFFD first.
std::string htmlToText(std::string_view html);

// Named and numeric character references decoded, apart from "&lt;" and
// "&gt;", which stay for the caller to turn into angle brackets last.
std::string decodeEntities(std::string_view text);

// Plain scanners that find exactly what the conversion's regular
// expressions find. The conversion switches to them where PCRE2 gives up
// (match limit, JIT stack), so a pathological mail still converts in linear
// time. Each appends to out the text from `from` on with every match
// replaced as the conversion step does.
namespace html_scan {

void removeComments(std::string_view text, std::size_t from, std::string& out);
void removeTags(std::string_view text, std::size_t from, std::string& out);
void mergeSeparators(std::string_view text, std::size_t from, std::string& out);
// The first link match (start, end) starting at or after from and ending at
// or before chunkEnd, as the link-target expression finds it.
std::optional<std::pair<std::size_t, std::size_t>> findLink(std::string_view text, std::size_t from,
                                                            std::size_t chunkEnd);

}  // namespace html_scan

}  // namespace vm
