#include "mail/html_to_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "diag/log_writer.h"
#include "base/regex.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace vm {
namespace {

const std::string kSep(50, '-');

TEST(HtmlToText, EdgeCases) {
  const struct {
    const char* name;
    std::string html;
    std::string text;
  } cases[] = {
      {"line break", "one<br>two", "one\r\ntwo"},
      {"source line breaks become blanks", "a\r\nb\rc\nd", "a b c d"},
      {"paragraphs", "<p>first</p><P>second</P>", "first\r\nsecond\r\n"},
      {"unordered list", "<ul><li>one</li><li>two</li></ul>", "\r\n* one\r\n* two\r\n\r\n"},
      {"ordered list in capitals", "<OL><LI>x</LI></OL>", "\r\n* x\r\n\r\n"},
      {"table with one separator between rows",
       "<table><tr><td>a</td><td>b</td></tr><tr><td>c</td><td>d</td></tr></table>",
       kSep + "\r\na b \r\n" + kSep + "\r\nc d \r\n" + kSep + "\r\n"},
      {"https link", "Go <a href=\"https://example.com/x?y=1\">here</a> now",
       "Go here (https://example.com/x?y=1) now"},
      {"http link with single quotes and blanks around =",
       "<a href = 'http://example.org'>site</a>", "site (http://example.org) "},
      {"other schemes are dropped", "<a href=\"mailto:a@b.c\">mail</a>", "mail"},
      {"one match per line: first address, after the last link",
       "<a href=\"http://a.test\">A</a> and <a href=\"http://b.test\">B</a>",
       "A and B (http://a.test) "},
      {"link without closing tag", "<a href=\"http://a.test\">A", "A"},
      {"named entities", "&copy; &REG; &Eacute;t&eacute; &szlig; &pound; &mdash; &divide; &bull; &tilde; &trade; &brkbar;",
       "\u00A9 \u00AE \u00C9t\u00E9 \u00DF \u00A3 - \u00F7 \u2022 ~ \u2122 \u00A6"},
      {"unknown names stay", "&apos; &euro; &hellip; &times; &ndash;",
       "&apos; &euro; &hellip; &times; &ndash;"},
      {"&amp; decoded after the names", "&amp;eacute; &amp;#233;", "&eacute; \u00E9"},
      {"&AMP; in capitals decoded, &EACUTE; not", "&AMP; &EACUTE;", "& &EACUTE;"},
      {"&OSLASH; caught by the later case-insensitive row", "&OSLASH; &Oslash;", "\u00F8 \u00D8"},
      {"numeric references", "&#65;&#  66;&#+67;&#$44;&#%1000101;&#233;&#8364;", "ABCDE\u00E9\u20AC"},
      {"value 0 vanishes", "R&#D; and &#x41;", "R and "},
      {"decoded & starts a new reference", "&#38;#233;", "\u00E9"},
      {"negative or beyond Unicode gives U+FFFD", "&#-5;&#1114112;&#55296;", "\uFFFD\uFFFD\uFFFD"},
      {"&# without ; stays", "a &#65 b", "a &#65 b"},
      {"escaped tag survives", "&lt;b&gt;bold&lt;/b&gt;", "<b>bold</b>"},
      {"&nbsp; runs collapse", "&nbsp;&nbsp;word", " word"},
      {"blank and tab runs", "a \t  b", "a b"},
      {"head dropped, also in capitals", "<HTML><HEAD><TITLE>t</TITLE></HEAD><BODY>Hi</BODY></HTML>", "Hi"},
      {"head at the very start is kept", "</head>x", "x"},
      {"comments", "a<!-- one\r\n two -->b<!---->c", "abc"},
      {"unclosed comment stays", "a<!-- b", "a<!-- b"},
      {"tag-like text without > stays", "1 < 2", "1 < 2"},
      {"invalid UTF-8 repaired", "a\xFF" "b", "a\uFFFDb"},
      {"empty", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(htmlToText(c.html), c.text) << c.name;
}

TEST(HtmlToText, LinkOccurringTwiceGetsItsAddressOncePerOccurrence) {
  std::string html =
      "<a href=\"http://u.test\">Unsubscribe</a><br>"
      "<a href=\"http://u.test\">Unsubscribe</a><br>"
      "<A HREF=\"http://u.test\">UNSUBSCRIBE</A>";
  EXPECT_EQ(htmlToText(html),
            "Unsubscribe (http://u.test) \r\nUnsubscribe (http://u.test) \r\n"
            "UNSUBSCRIBE (http://u.test) ");
}

TEST(HtmlToText, DecodeEntitiesLeavesAngleBracketsAlone) {
  EXPECT_EQ(decodeEntities("&lt;&gt;&quot;&QUOT;"), "&lt;&gt;\"&QUOT;");
}

// ---- The plain scanners find exactly what the expressions find. ----------

std::string regexReplaceAll(const Regex& regex, const std::string& text, const std::string& with) {
  std::string out;
  std::size_t pos = 0;
  while (true) {
    RegexFind f = regex.find(text, pos, 100000000);
    if (f.status != RegexStatus::Match) {
      EXPECT_EQ(f.status, RegexStatus::NoMatch);
      out.append(text, pos);
      return out;
    }
    out.append(text, pos, f.start() - pos);
    out += with;
    pos = f.end();
  }
}

std::string randomText(std::mt19937& gen, const std::vector<std::string>& pieces, int count) {
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::string s;
  for (int i = 0; i < count; ++i) s += pieces[pick(gen)];
  return s;
}

TEST(HtmlScan, ScannersAgreeWithTheExpressionsOnRandomText) {
  std::mt19937 gen(1234);
  const std::vector<std::string> commentPieces = {"<!--", "-->", "<!-", "->", "-", "<", ">", "x", "\r\n"};
  const std::vector<std::string> tagPieces = {"<", ">", "<>", "a", " ", "\r\n", "\xC3\xA9"};
  const std::vector<std::string> sepPieces = {kSep, kSep, "-", "--", " ", "\r\n", "\r", "\n", "\t", "x"};
  Regex comments("<!--.*?-->", kRegexDotAll);
  Regex tags("<[^>]+>");
  Regex seps(kSep + R"(\s*[\r\n]\s*)" + kSep + R"(\s*[\r\n])", kRegexMultiLine);
  for (int round = 0; round < 400; ++round) {
    std::string c = randomText(gen, commentPieces, 30);
    std::string t = randomText(gen, tagPieces, 30);
    std::string s = randomText(gen, sepPieces, 12);
    std::uniform_int_distribution<std::size_t> from(0, 3);
    std::size_t start = from(gen);
    std::string scanned;
    html_scan::removeComments(c, 0, scanned);
    EXPECT_EQ(scanned, regexReplaceAll(comments, c, "")) << c;
    scanned.clear();
    html_scan::removeTags(t, 0, scanned);
    EXPECT_EQ(scanned, regexReplaceAll(tags, t, "")) << t;
    scanned.clear();
    html_scan::mergeSeparators(s, 0, scanned);
    EXPECT_EQ(scanned, regexReplaceAll(seps, s, kSep + "\r\n")) << s;
    // From an offset inside the text, as after a limit hit.
    scanned = s.substr(0, start);
    html_scan::mergeSeparators(s, start, scanned);
    std::string tail = regexReplaceAll(seps, s.substr(start), kSep + "\r\n");
    EXPECT_EQ(scanned, s.substr(0, start) + tail) << s;
  }
}

TEST(HtmlScan, LinkScannerAgreesWithTheExpression) {
  std::mt19937 gen(99);
  const std::vector<std::string> pieces = {
      "href", "href=", " = ", "=", "\"", "'", "http://", "https://", "x", ">", "</a>", "<a ",
      "\r\n", " ", "h", "\xC3\xA9", "href=\"http://", "href='https://"};
  Regex link(R"(href\s*=\s*(['"])(https?:\/\/.+?)\1.*>(.*)<\/a>)", kRegexMultiLine);
  for (int round = 0; round < 2000; ++round) {
    std::string text = randomText(gen, pieces, 16);
    std::size_t pos = 0;
    while (true) {
      RegexFind f = link.find(text, pos, 100000000);
      auto scanned = html_scan::findLink(text, pos, text.size());
      if (f.status != RegexStatus::Match) {
        EXPECT_FALSE(scanned.has_value()) << text;
        break;
      }
      ASSERT_TRUE(scanned.has_value()) << text;
      EXPECT_EQ(scanned->first, f.start()) << text;
      EXPECT_EQ(scanned->second, f.end()) << text;
      pos = f.end();
    }
  }
}

// ---- Inputs that drive PCRE2 into its limits ----------------------------

class HtmlToTextLimits : public ::testing::Test {
 protected:
  std::string log() const { return logCapture_.text(); }
  test::LogCapture logCapture_;
};

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + what.size())) ++n;
  return n;
}

TEST_F(HtmlToTextLimits, ThousandsOfUnclosedLinksOnOneLongLine) {
  // Several megabytes in one line (the source's line breaks become blanks),
  // every link without its closing tag, and one closed link at the end.
  std::string html;
  for (int i = 0; i < 40000; ++i) {
    html += "<a href=\"http://example.com/item/" + std::to_string(i) + "\"><b>Item</b> " +
            std::to_string(i) + " is a fine item\r\n";
  }
  html += "<a href=\"http://example.com/last\">last</a> tail <b>x</b> <i>y</i>";
  ASSERT_GT(html.size(), 2'500'000u);
  std::string text = htmlToText(html);
  EXPECT_EQ(text.substr(0, 22), "Item 0 is a fine item ");
  // One line, so one match from the first address to the only "</a>".
  EXPECT_EQ(count(text, "(http://example.com/item/0)"), 1u);
  EXPECT_NE(text.find("Item 39999 is a fine item last (http://example.com/item/0) tail x y"),
            std::string::npos);
  EXPECT_EQ(text.find('<'), std::string::npos);
  EXPECT_NE(log().find("links found by the plain scanner"), std::string::npos) << log();
}

TEST_F(HtmlToTextLimits, ThousandsOfClosedLinksOnOneLine) {
  std::string html;
  for (int i = 0; i < 20000; ++i) {
    html += "<a href='https://example.com/" + std::to_string(i) + "'>link " + std::to_string(i) +
            "</a> &amp; ";
  }
  std::string text = htmlToText(html);
  EXPECT_EQ(count(text, "(https://example.com/0)"), 1u);
  EXPECT_EQ(text.substr(0, 18), "link 0 & link 1 & ");
  EXPECT_NE(text.find("link 19999 (https://example.com/0) & "), std::string::npos);
}

TEST_F(HtmlToTextLimits, ManyUnclosedCommentsConvertAndAreLogged) {
  // Searched naively, every "<!--" would scan to the end for a "-->" that
  // never comes.
  std::string html = "<p>start</p>";
  for (int i = 0; i < 30000; ++i) html += "<!-- open " + std::to_string(i) + " ";
  html += "end >";
  EXPECT_EQ(htmlToText(html), "start\r\n");
}

TEST_F(HtmlToTextLimits, SeparatorFollowedByLongRunOfBlankLines) {
  std::string html = "<table><tr><td>a</td></tr></table>";
  for (int i = 0; i < 20000; ++i) html += "<br>";
  html += "end";
  std::string blankLines;
  for (int i = 0; i < 20000; ++i) blankLines += "\r\n";
  EXPECT_EQ(htmlToText(html), kSep + "\r\na \r\n" + kSep + "\r\n" + blankLines + "end");
  EXPECT_NE(log().find("WARN: htmlToText: a long blank run after a separator line"), std::string::npos)
      << log();
}

TEST_F(HtmlToTextLimits, TablesSeparatedByBlankLinesShareOneSeparator) {
  std::string html = "<table><tr><td>a</td></tr></table>";
  for (int i = 0; i < 2000; ++i) html += "<br>";
  html += "<table><tr><td>b</td></tr></table>";
  EXPECT_EQ(htmlToText(html), kSep + "\r\na \r\n" + kSep + "\r\nb \r\n" + kSep + "\r\n");
}

// ---- A newsletter of a few hundred kilobytes -------------------------------

TEST(HtmlToTextFixture, NewsletterConvertsToTheReviewedText) {
  std::string html = test::readFile(std::string(VELOMARK_TEST_DATA) + "/html_to_text/newsletter.html");
  std::string expected = test::readFile(std::string(VELOMARK_TEST_DATA) + "/html_to_text/newsletter.txt");
  ASSERT_GT(html.size(), 200000u);
  EXPECT_EQ(htmlToText(html), expected);
}

}  // namespace
}  // namespace vm
