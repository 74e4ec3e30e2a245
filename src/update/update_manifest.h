// The update manifest: reading the entry of this platform out of the fetched
// JSON text, and the version rule that decides whether it is newer.
#pragma once

#include <string>
#include <string_view>

#include "base/bridge_json.h"
#include "base/result.h"

namespace vm {

// -1 when a is older than b, 1 when it is newer, 0 when they count as equal.
// Letters v and V are dropped and "-" and "_" separate fields like "."; the
// fields are compared left to right as signed 32-bit whole numbers (blanks
// and tabs, a sign, then digits; no digits read as 0; larger values saturate).
int compareVersions(std::string_view a, std::string_view b);

// "velomark\" + platform + "\" + bitness + "\[0]\", the path of the entry.
std::string manifestEntryPath(const std::string& platform, const std::string& bitness);

// The text as one JSON document. A failure carries the parser's message and,
// as its code, the line (from 1) on which the parser stopped.
Result<Json> parseJsonDocument(const std::string& text);

// The check's work on the body that arrived from manifestUrl: trim, parse,
// read the entry at entryPath, compare with clientVersion. Answers
// version + "|" + url when the entry offers a newer version, empty text
// otherwise; logs every step. An entry whose url is not an https:// address,
// or whose version holds "|" (which would make the answer ambiguous), counts
// as an entry without update information.
std::string evaluateManifest(std::string_view body, const std::string& manifestUrl,
                             const std::string& entryPath, const std::string& clientVersion);

}  // namespace vm
