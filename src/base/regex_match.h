// Perl-compatible regular expressions (PCRE2, UTF-8 mode, no options, so
// case-sensitive), compiled per call and released again.
#pragma once

#include <string>
#include <vector>

namespace vm {

// True when pattern matches somewhere in text. A pattern that does not
// compile is logged as "ERROR: Invalid RegEx " + pattern and matches nothing.
bool matchRegex(const std::string& text, const std::string& pattern);

// Capture groups of the first match: groups[k] is group k with blanks removed
// at both ends (groups[0] unused, a group that took part in nothing is
// empty). Answers the pattern's number of groups, or 0 without a match.
int regexGroups(const std::string& text, const std::string& pattern,
                std::vector<std::string>& groups);

}  // namespace vm
