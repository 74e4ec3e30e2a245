#include "mail/html_to_text.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <unordered_map>

#include "base/log.h"
#include "base/numbers.h"
#include "base/utf8.h"
#include "base/regex.h"
#include "base/text.h"

namespace vm {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kSeparator = "--------------------------------------------------";
static_assert(kSeparator.size() == 50);

// PCRE2's work for one search; a search that needs more is taken over by the
// plain scanner. Far above what any real mail needs (a search costs about as
// many steps as the bytes it passes), far below a noticeable delay.
constexpr std::uint32_t kMatchLimit = 1000000;

constexpr std::string_view kCommentPattern = "<!--.*?-->";
constexpr std::string_view kLinkPattern = R"(href\s*=\s*(['"])(https?:\/\/.+?)\1.*>(.*)<\/a>)";
constexpr std::string_view kLinkUrlPattern = R"(href\s*=\s*(['"])(https?:\/\/.+?)\1.*)";
constexpr std::string_view kTagPattern = "<[^>]+>";
constexpr std::string_view kBlankRunPattern = "[ \t]+";
// The separator, then blanks with a line break, the separator again, then
// blanks up to a line break.
const std::string kSeparatorPairPattern =
    std::string(kSeparator) + R"(\s*[\r\n]\s*)" + std::string(kSeparator) + R"(\s*[\r\n])";

// PCRE2's \s without Unicode properties.
bool isRegexSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool isLineBreak(char c) { return c == '\r' || c == '\n'; }

// ---- Named references -------------------------------------------------------

struct NamedReference {
  const char* name;  // between "&" and ";"
  bool caseless;
  std::uint32_t codePoint;
};

// One pass of the table: every reference of the text that one of these
// names matches becomes its character, the earliest name in the table
// winning. Equivalent to replacing the names one after another, because no
// result contains "&" and two references can never overlap.
std::string decodeNamed(std::string_view text, const std::vector<NamedReference>& table) {
  constexpr std::size_t kLongestName = 8;
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (true) {
    std::size_t amp = text.find('&', pos);
    if (amp == std::string_view::npos) break;
    std::size_t semi = text.find(';', amp + 1);
    if (semi == std::string_view::npos) break;
    if (semi - amp - 1 > kLongestName) {
      out.append(text, pos, amp + 1 - pos);
      pos = amp + 1;
      continue;
    }
    std::string_view name = text.substr(amp + 1, semi - amp - 1);
    const NamedReference* found = nullptr;
    for (const auto& ref : table) {
      if (ref.caseless ? equalsIgnoringAsciiCase(name, ref.name) : name == ref.name) {
        found = &ref;
        break;
      }
    }
    if (!found) {
      out.append(text, pos, amp + 1 - pos);
      pos = amp + 1;
      continue;
    }
    out.append(text, pos, amp - pos);
    appendUtf8(out, found->codePoint);
    pos = semi + 1;
  }
  out.append(text, pos, std::string_view::npos);
  return out;
}

const std::vector<NamedReference>& namedBeforeAmp() {
  static const std::vector<NamedReference> table = [] {
    std::vector<NamedReference> t = {{"reg", true, 0xAE}, {"copy", true, 0xA9}};
    // U+00C0 to U+00FF without the multiplication and division signs, in
    // code point order.
    static const char* const latin1[] = {
        "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil",
        "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",
        "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "Oslash",
        "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",  "agrave",
        "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil", "egrave",
        "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
        "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "oslash", "ugrave",
        "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};
    std::uint32_t cp = 0xC0;
    for (const char* name : latin1) {
      if (cp == 0xD7 || cp == 0xF7) ++cp;
      t.push_back({name, false, cp++});
    }
    const NamedReference symbols[] = {
        {"Cent", true, 0xA2},   {"pound", true, 0xA3},  {"curren", true, 0xA4},
        {"Yen", true, 0xA5},    {"brvbar", true, 0xA6}, {"sect", true, 0xA7},
        {"uml", true, 0xA8},    {"ordf", true, 0xAA},   {"laquo", true, 0xAB},
        {"macr", true, 0xAF},   {"deg", true, 0xB0},    {"plusmn", true, 0xB1},
        {"sup2", true, 0xB2},   {"sup3", true, 0xB3},   {"Acute", true, 0xB4},
        {"micro", true, 0xB5},  {"para", true, 0xB6},   {"middot", true, 0xB7},
        {"cedil", true, 0xB8},  {"sup1", true, 0xB9},   {"ordm", true, 0xBA},
        {"raquo", true, 0xBB},  {"frac14", true, 0xBC}, {"frac12", true, 0xBD},
        {"frac34", true, 0xBE}, {"iquest", true, 0xBF}, {"mdash", true, '-'},
        {"divide", true, 0xF7}, {"oslash", true, 0xF8}, {"quot", false, '"'}};
    t.insert(t.end(), std::begin(symbols), std::end(symbols));
    return t;
  }();
  return table;
}

const std::vector<NamedReference>& namedAfterAmp() {
  static const std::vector<NamedReference> table = {
      {"nbsp", true, ' '},     {"bull", true, 0x2022},  {"tilde", true, '~'},
      {"trade", true, 0x2122}, {"oelig", true, 0x153},  {"iexcl", true, 0xA1},
      {"brkbar", true, 0xA6}};
  return table;
}

// ---- Numeric references -----------------------------------------------------

// The number between "&#" and ";" by Pascal's Val rule (valInteger), so "$"
// and "%" give hexadecimal and binary references; nullopt when the value is
// negative or beyond Unicode.
std::optional<std::uint32_t> referenceValue(std::string_view s) {
  const long long value = valInteger(s);
  if (value < 0 || value > 0x10FFFF) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

std::string decodeNumeric(std::string text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (true) {
    std::size_t ref = text.find("&#", pos);
    if (ref == std::string::npos) break;
    std::size_t semi = text.find(';', ref + 2);
    // Without a ";" nothing further can be a reference: the rest stays.
    if (semi == std::string::npos) break;
    out.append(text, pos, ref - pos);
    std::optional<std::uint32_t> value =
        referenceValue(std::string_view(text).substr(ref + 2, semi - ref - 2));
    if (value && *value == '&') {
      // The search goes on at the decoded character, so "&#38;#233;" is é:
      // put the "&" where the ";" was and scan again from there.
      text[semi] = '&';
      pos = semi;
      continue;
    }
    if (!value || (*value >= 0xD800 && *value <= 0xDFFF)) {
      appendUtf8(out, 0xFFFD);
    } else if (*value != 0) {
      appendUtf8(out, *value);
    }
    pos = semi + 1;
  }
  out.append(text, pos, std::string::npos);
  return out;
}

// ---- Regular-expression steps --------------------------------------------

void logLimit(std::string_view pattern, std::size_t offset) {
  writeLog("WARN: htmlToText: the expression [" + std::string(pattern) +
           "] reached the PCRE2 limit at offset " + std::to_string(offset) +
           ", the plain scanner finished the step");
}

using Scanner = void (*)(std::string_view, std::size_t, std::string&);

// Every match of the expression replaced by `with`; where PCRE2 gives up the
// scanner that finds the same matches finishes the text.
//
// PCRE2's match limit does not count the steps of a simple repeat giving
// characters back, so it cannot stop a search that is quadratic in a long
// line; the callers keep such searches away from the expressions instead:
// searchEnd cuts the subject after the last place a match can end.
std::string substitute(std::string_view full, const Regex& regex, std::string_view with,
                       Scanner scanner, std::size_t searchEnd = std::string_view::npos) {
  std::string out;
  out.reserve(full.size());
  if (!regex.valid()) {
    scanner(full, 0, out);
    return out;
  }
  const std::string_view rest = searchEnd < full.size() ? full.substr(searchEnd) : std::string_view();
  const std::string_view text = full.substr(0, full.size() - rest.size());
  std::size_t pos = 0;
  while (true) {
    RegexFind found = regex.find(text, pos, kMatchLimit, true);
    if (found.status == RegexStatus::NoMatch) {
      out.append(text, pos, std::string_view::npos);
      break;
    }
    if (found.status != RegexStatus::Match || found.end() == found.start()) {
      logLimit(regex.pattern(), pos);
      scanner(text, pos, out);
      break;
    }
    out.append(text, pos, found.start() - pos);
    out.append(with);
    pos = found.end();
  }
  out.append(rest);
  return out;
}

// A search for the separator pair gives back blanks one by one, so its cost
// grows with the square of a blank run after a separator. Such runs (a table
// followed by many empty lines) go to the scanner.
constexpr std::size_t kLongestBlankRunForRegex = 64;

bool hasLongBlankRunAfterSeparator(std::string_view text) {
  for (std::size_t at = text.find(kSeparator); at != std::string_view::npos;
       at = text.find(kSeparator, at)) {
    std::size_t end = at + kSeparator.size();
    while (end < text.size() && text[end] == '-') ++end;
    std::size_t blanks = end;
    while (blanks < text.size() && isRegexSpace(text[blanks])) ++blanks;
    if (blanks - end > kLongestBlankRunForRegex) return true;
    at = blanks;
  }
  return false;
}

void collapseBlanks(std::string_view text, std::size_t from, std::string& out) {
  std::size_t i = from;
  while (i < text.size()) {
    if (text[i] == ' ' || text[i] == '\t') {
      out += ' ';
      while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    } else {
      out += text[i++];
    }
  }
}

// ---- Links --------------------------------------------------------------

// Reads `href\s*=\s*(['"])https?://.+?\1` at h and remembers, per quote
// character, the stretch of a line known to hold no closing quote, so that
// many unterminated addresses on one long line cost linear time.
class LinkPrefixReader {
 public:
  explicit LinkPrefixReader(std::string_view text) : text_(text) {}

  // Position of the closing quote, npos when the prefix does not match at h.
  // urlStart receives the position of the address.
  std::size_t closingQuote(std::size_t h, bool caseless, std::size_t* urlStart) {
    std::string_view t = text_;
    auto word = [&](std::size_t at, std::string_view w) {
      if (at + w.size() > t.size()) return false;
      return caseless ? equalsIgnoringAsciiCase(t.substr(at, w.size()), w) : t.substr(at, w.size()) == w;
    };
    if (!word(h, "href")) return npos;
    std::size_t i = h + 4;
    while (i < t.size() && isRegexSpace(t[i])) ++i;
    if (i >= t.size() || t[i] != '=') return npos;
    ++i;
    while (i < t.size() && isRegexSpace(t[i])) ++i;
    if (i >= t.size() || (t[i] != '\'' && t[i] != '"')) return npos;
    char quote = t[i++];
    std::size_t url = i;
    if (!word(i, "http")) return npos;
    i += 4;
    if (word(i, "s") && word(i + 1, "://")) ++i;
    if (!word(i, "://")) return npos;
    i += 3;
    // ".+?" takes at least one character that is not a line break.
    if (i >= t.size() || isLineBreak(t[i])) return npos;
    std::size_t from = i + 1;
    Gap& gap = quote == '"' ? doubleGap_ : singleGap_;
    if (from >= gap.start && from < gap.end) return npos;
    std::size_t j = from;
    while (j < t.size() && t[j] != quote && !isLineBreak(t[j])) ++j;
    if (j >= t.size() || t[j] != quote) {
      gap = {from, j};
      return npos;
    }
    if (urlStart) *urlStart = url;
    return j;
  }

  static constexpr std::size_t npos = std::string_view::npos;

 private:
  struct Gap {
    std::size_t start = 0;
    std::size_t end = 0;
  };
  std::string_view text_;
  Gap singleGap_;
  Gap doubleGap_;
};

// The part of a line that the link expression's ".*>(.*)<\/a>" can use: the
// start of its last "</a>" and the last ">" before that.
struct LineTail {
  std::size_t lineEnd = std::string_view::npos;
  std::size_t lastClose = std::string_view::npos;
  std::size_t lastGreaterBeforeClose = std::string_view::npos;
};

LineTail lineTail(std::string_view text, std::size_t lineStart, std::size_t limit) {
  LineTail tail;
  std::size_t end = lineStart;
  while (end < limit && !isLineBreak(text[end])) ++end;
  tail.lineEnd = end;
  std::string_view line = text.substr(lineStart, end - lineStart);
  std::size_t close = line.rfind("</a>");
  if (close == std::string_view::npos) return tail;
  tail.lastClose = lineStart + close;
  std::size_t greater = close == 0 ? std::string_view::npos : line.rfind('>', close - 1);
  if (greater != std::string_view::npos) tail.lastGreaterBeforeClose = lineStart + greater;
  return tail;
}

// Pieces of text between which a link match cannot run: a line break ends a
// piece unless it lies in blanks right after "href" or "=", the only places
// where the expression crosses lines. PCRE2 then gets one piece per search,
// with a work limit that grows with the piece.
std::vector<std::pair<std::size_t, std::size_t>> linkChunks(std::string_view text) {
  std::vector<std::pair<std::size_t, std::size_t>> chunks;
  std::size_t start = 0;
  std::size_t scan = 0;
  while (scan < text.size()) {
    std::size_t brk = scan;
    while (brk < text.size() && !isLineBreak(text[brk])) ++brk;
    if (brk >= text.size()) break;
    std::size_t runStart = brk;
    while (runStart > scan && isRegexSpace(text[runStart - 1])) --runStart;
    std::size_t runEnd = brk;
    while (runEnd < text.size() && isRegexSpace(text[runEnd])) ++runEnd;
    bool joins = runStart > 0 && (text[runStart - 1] == 'f' || text[runStart - 1] == '=');
    if (!joins) {
      chunks.emplace_back(start, brk);
      start = runEnd;
    }
    scan = runEnd;
  }
  if (start < text.size()) chunks.emplace_back(start, text.size());
  return chunks;
}

struct LinkMatch {
  std::size_t start;
  std::size_t end;
};

// Lines longer than this (a mail without block elements is one line) go to
// the scanner: the expression's ".*>(.*)<\/a>" gives characters back one by
// one, which PCRE2's match limit does not count, so a long line with many
// links could take quadratic time.
constexpr std::size_t kLongestLineForRegex = 16 * 1024;

std::vector<LinkMatch> collectLinks(std::string_view text, const Regex& regex, int& scannerUses) {
  std::vector<LinkMatch> matches;
  for (auto [chunkStart, chunkEnd] : linkChunks(text)) {
    std::string_view piece = text.substr(chunkStart, chunkEnd - chunkStart);
    if (piece.find("href") == std::string_view::npos) continue;
    // A match ends with "</a>": nothing after the last one can take part.
    std::size_t lastClose = piece.rfind("</a>");
    if (lastClose == std::string_view::npos) continue;
    const std::size_t searchEnd = chunkStart + lastClose + 4;
    bool oneLine = std::none_of(piece.begin(), piece.end(), isLineBreak);
    std::size_t pos = chunkStart;
    if (oneLine && regex.valid() && piece.size() <= kLongestLineForRegex) {
      std::string_view subject = text.substr(0, searchEnd);
      while (pos < searchEnd) {
        RegexFind found = regex.find(subject, pos, kMatchLimit, true);
        if (found.status == RegexStatus::Match && found.end() > found.start()) {
          matches.push_back({found.start(), found.end()});
          pos = found.end();
          continue;
        }
        if (found.status == RegexStatus::NoMatch) {
          pos = chunkEnd;
          break;
        }
        if (scannerUses++ == 0) logLimit(regex.pattern(), pos);
        break;
      }
    } else if (scannerUses++ == 0) {
      writeLog("WARN: htmlToText: a line of " + std::to_string(piece.size()) +
               " characters, links found by the plain scanner");
    }
    while (pos < chunkEnd) {
      auto link = html_scan::findLink(text, pos, searchEnd);
      if (!link) break;
      matches.push_back({link->first, link->second});
      pos = link->second;
    }
  }
  return matches;
}

std::string appendLinkTargets(std::string_view text) {
  static const Regex linkRegex(kLinkPattern, kRegexMultiLine);
  static const Regex urlRegex(kLinkUrlPattern, kRegexDotAll);
  int limitHits = 0;
  std::vector<LinkMatch> matches = collectLinks(text, linkRegex, limitHits);
  if (matches.empty()) return std::string(text);

  // Each distinct match text once, keyed by its lower-cased prefix up to the
  // address's closing quote: an occurrence elsewhere in the text has the same
  // prefix, so one look-up per "href" finds its candidates.
  struct Candidate {
    std::string_view text;
    std::string url;
  };
  std::vector<Candidate> candidates;
  std::unordered_map<std::string, std::vector<std::size_t>> byPrefix;
  LinkPrefixReader exact(text);
  for (const LinkMatch& m : matches) {
    std::string_view matched = text.substr(m.start, m.end - m.start);
    std::size_t urlStart = 0;
    std::size_t quote = exact.closingQuote(m.start, false, &urlStart);
    if (quote == LinkPrefixReader::npos) continue;
    std::string url;
    RegexFind found = urlRegex.valid() ? urlRegex.find(matched, 0, kMatchLimit, true)
                                       : RegexFind{RegexStatus::Error, {}, {}};
    if (found.status == RegexStatus::Match && found.starts[2] != std::string::npos) {
      url = std::string(matched.substr(found.starts[2], found.ends[2] - found.starts[2]));
    } else if (found.status == RegexStatus::NoMatch) {
      continue;
    } else {
      if (limitHits++ == 0) logLimit(urlRegex.pattern(), m.start);
      url = std::string(text.substr(urlStart, quote - urlStart));
    }
    std::string key = lowerAscii(text.substr(m.start, quote + 1 - m.start));
    auto& bucket = byPrefix[key];
    bool duplicate = std::any_of(bucket.begin(), bucket.end(), [&](std::size_t k) {
      return equalsIgnoringAsciiCase(candidates[k].text, matched);
    });
    if (duplicate) continue;
    bucket.push_back(candidates.size());
    candidates.push_back({matched, std::move(url)});
  }

  // Where every collected match occurs, letters compared without regard to
  // case: one look-up per "href" finds the candidates sharing its prefix.
  std::vector<std::vector<std::size_t>> occurrences(candidates.size());
  LinkPrefixReader caseless(text);
  for (std::size_t h = findIgnoringAsciiCase(text, "href", 0); h != std::string_view::npos;
       h = findIgnoringAsciiCase(text, "href", h + 1)) {
    std::size_t quote = caseless.closingQuote(h, true, nullptr);
    if (quote == LinkPrefixReader::npos) continue;
    std::string key = lowerAscii(text.substr(h, quote + 1 - h));
    auto bucket = byPrefix.find(key);
    if (bucket == byPrefix.end()) continue;
    for (std::size_t k : bucket->second) {
      if (equalsIgnoringAsciiCase(text.substr(h, candidates[k].text.size()), candidates[k].text)) {
        occurrences[k].push_back(h);
      }
    }
  }

  // The matches replaced one after another, as insertions after each
  // occurrence: an occurrence that an earlier insertion cuts is no longer
  // found, and a later insertion at the same place comes first. Two
  // deliberate differences from replacing the texts literally: a match
  // collected twice (the same link line twice in a mail) is applied once,
  // not giving each occurrence its address twice, and an occurrence keeps
  // its own letter case instead of taking the first one's.
  std::map<std::size_t, std::vector<const std::string*>> insertions;
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    const std::size_t length = candidates[k].text.size();
    std::size_t lastEnd = 0;
    for (std::size_t start : occurrences[k]) {
      if (start < lastEnd) continue;
      std::size_t end = start + length;
      auto inside = insertions.upper_bound(start);
      if (inside != insertions.end() && inside->first < end) continue;
      insertions[end].push_back(&candidates[k].url);
      lastEnd = end;
    }
  }

  std::string out;
  out.reserve(text.size() + text.size() / 8);
  std::size_t copied = 0;
  for (const auto& [at, urls] : insertions) {
    out.append(text, copied, at - copied);
    for (auto url = urls.rbegin(); url != urls.rend(); ++url) {
      out += " (";
      out += **url;
      out += ") ";
    }
    copied = at;
  }
  out.append(text, copied, std::string_view::npos);
  return out;
}

}  // namespace

// ---- Scanners -------------------------------------------------------------

namespace html_scan {

void removeComments(std::string_view text, std::size_t from, std::string& out) {
  std::size_t pos = from;
  while (true) {
    std::size_t open = text.find("<!--", pos);
    std::size_t close = open == std::string_view::npos ? open : text.find("-->", open + 4);
    // Without a "-->" after this opening no later opening has one either.
    if (close == std::string_view::npos) break;
    out.append(text, pos, open - pos);
    pos = close + 3;
  }
  out.append(text, pos, std::string_view::npos);
}

void removeTags(std::string_view text, std::size_t from, std::string& out) {
  std::size_t pos = from;
  std::size_t search = from;
  while (true) {
    std::size_t open = text.find('<', search);
    if (open == std::string_view::npos || open + 1 >= text.size()) break;
    if (text[open + 1] == '>') {
      search = open + 1;
      continue;
    }
    std::size_t close = text.find('>', open + 1);
    if (close == std::string_view::npos) break;
    out.append(text, pos, open - pos);
    pos = search = close + 1;
  }
  out.append(text, pos, std::string_view::npos);
}

void mergeSeparators(std::string_view text, std::size_t from, std::string& out) {
  const std::size_t n = text.size();
  const std::size_t sepLen = kSeparator.size();
  // A run of at least sepLen hyphens starting at or after at; only its last
  // sepLen hyphens can be followed by the blanks the expression needs.
  auto separatorEndingRun = [&](std::size_t at, std::size_t* runEnd) {
    while (true) {
      std::size_t start = text.find(kSeparator, at);
      if (start == std::string_view::npos) return start;
      std::size_t end = start + sepLen;
      while (end < n && text[end] == '-') ++end;
      *runEnd = end;
      return end - sepLen;
    }
  };
  // The blanks from i on; sets hasBreak and lastBreak (position after the
  // last CR or LF in them).
  auto blanks = [&](std::size_t i, bool* hasBreak, std::size_t* lastBreakEnd) {
    *hasBreak = false;
    while (i < n && isRegexSpace(text[i])) {
      if (isLineBreak(text[i])) *hasBreak = true, *lastBreakEnd = i + 1;
      ++i;
    }
    return i;
  };
  std::size_t pos = from;
  std::size_t at = from;
  while (true) {
    std::size_t runEnd = 0;
    std::size_t first = separatorEndingRun(at, &runEnd);
    if (first == std::string_view::npos) break;
    bool hasBreak = false;
    std::size_t lastBreakEnd = 0;
    std::size_t second = blanks(runEnd, &hasBreak, &lastBreakEnd);
    bool secondIsSeparator = hasBreak && text.substr(second, sepLen) == kSeparator &&
                             (second + sepLen >= n || text[second + sepLen] != '-');
    if (!secondIsSeparator) {
      at = runEnd;
      continue;
    }
    std::size_t end = blanks(second + sepLen, &hasBreak, &lastBreakEnd);
    (void)end;
    if (!hasBreak) {
      // The second separator may still open a pair of its own.
      at = second;
      continue;
    }
    out.append(text, pos, first - pos);
    out.append(kSeparator);
    out.append(kCrLf);
    pos = at = lastBreakEnd;
  }
  out.append(text, pos, std::string_view::npos);
}

std::optional<std::pair<std::size_t, std::size_t>> findLink(std::string_view text, std::size_t from,
                                                            std::size_t chunkEnd) {
  std::string_view chunk = text.substr(0, chunkEnd);
  LinkPrefixReader reader(chunk);
  LineTail tail;
  std::size_t tailLineStart = std::string_view::npos;
  std::size_t pos = from;
  while (true) {
    std::size_t h = chunk.find("href", pos);
    if (h == std::string_view::npos) return std::nullopt;
    std::size_t quote = reader.closingQuote(h, false, nullptr);
    if (quote != LinkPrefixReader::npos) {
      if (tailLineStart == std::string_view::npos || quote >= tail.lineEnd || quote < tailLineStart) {
        std::size_t lineStart = quote;
        while (lineStart > 0 && !isLineBreak(chunk[lineStart - 1])) --lineStart;
        tail = lineTail(chunk, lineStart, chunkEnd);
        tailLineStart = lineStart;
      }
      if (tail.lastClose != std::string_view::npos && tail.lastClose > quote &&
          tail.lastGreaterBeforeClose != std::string_view::npos &&
          tail.lastGreaterBeforeClose > quote) {
        return std::make_pair(h, tail.lastClose + 4);
      }
    }
    pos = h + 1;
  }
}

}  // namespace html_scan

// ---- The two operations -----------------------------------------------------

std::string decodeEntities(std::string_view text) {
  if (text.find('&') == std::string_view::npos) return std::string(text);
  std::string s = decodeNamed(text, namedBeforeAmp());
  s = replaceAllIgnoringAsciiCase(s, "&amp;", "&");
  s = decodeNamed(s, namedAfterAmp());
  return decodeNumeric(std::move(s));
}

std::string htmlToText(std::string_view html) {
  // Bytes that do not form UTF-8 become U+FFFD, so that PCRE2 can run in UTF
  // mode without rejecting the subject and without checking it on every call.
  std::string s = validUtf8(html);

  s = replaceAll(s, "\r\n", " ");
  s = replaceAll(s, "\r", " ");
  s = replaceAll(s, "\n", " ");

  static const std::pair<std::string_view, std::string> kLineStructure[] = {
      {"<br", "\r\n<br"},
      {"</p>", "\r\n</p>"},
      {"</td>", " </td>"},
      {"</tr>", "\r\n</tr>"},
      {"</div>", "\r\n</div>"},
      {"<hr", "\r\n<hr"},
      {"<ul", "\r\n<ul"},
      {"<ol", "\r\n<ol"},
      {"<li", "* <li"},
      {"</ul", "\r\n</ul"},
      {"</ol", "\r\n</ol"},
      {"</li", "\r\n</li"},
      {"<tr", std::string(kSeparator) + "\r\n<tr"},
      {"</tr", std::string(kSeparator) + "\r\n</tr"},
  };
  for (const auto& [find, with] : kLineStructure) s = replaceAllIgnoringAsciiCase(s, find, with);

  std::size_t headEnd = findIgnoringAsciiCase(s, "</head>", 0);
  if (headEnd != std::string::npos && headEnd > 0) s.erase(0, headEnd + 7);

  s = decodeEntities(s);

  static const Regex comments(kCommentPattern, kRegexDotAll);
  // A comment ends with "-->": the search stops after the last one, so an
  // unclosed "<!--" is not searched to the end of the text again and again.
  std::size_t lastCommentEnd = s.rfind("-->");
  s = substitute(s, comments, "", html_scan::removeComments,
                 lastCommentEnd == std::string::npos ? 0 : lastCommentEnd + 3);

  s = appendLinkTargets(s);

  static const Regex tags(kTagPattern);
  std::size_t lastTagEnd = s.rfind('>');
  s = substitute(s, tags, "", html_scan::removeTags,
                 lastTagEnd == std::string::npos ? 0 : lastTagEnd + 1);

  s = replaceAll(s, "&lt;", "<");
  s = replaceAll(s, "&gt;", ">");

  static const Regex blankRuns(kBlankRunPattern);
  s = substitute(s, blankRuns, " ", collapseBlanks);

  static const Regex separatorPairs(kSeparatorPairPattern, kRegexMultiLine);
  const std::string oneSeparator = std::string(kSeparator) + "\r\n";
  if (hasLongBlankRunAfterSeparator(s)) {
    writeLog("WARN: htmlToText: a long blank run after a separator line, separators merged by "
             "the plain scanner");
    std::string merged;
    html_scan::mergeSeparators(s, 0, merged);
    s = std::move(merged);
  } else {
    s = substitute(s, separatorPairs, oneSeparator, html_scan::mergeSeparators);
  }
  return s;
}

}  // namespace vm
