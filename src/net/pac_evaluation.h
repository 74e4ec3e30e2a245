// Runs a PAC file's FindProxyForURL in a hidden web view of its own.
#pragma once

#include <string>

#include "base/result.h"
#include "net/pac_page.h"

namespace vm {

// Longest wait for the answer, then the time the page gets to settle.
inline constexpr int kPacAnswerWaitMs = 5000;
inline constexpr int kPacSettleMs = 100;
// After the settling, how long the page's web process may take to show it
// is no longer busy; one still busy (a script that never returns) is ended.
inline constexpr int kPacProcessAnswerWaitMs = 500;

// The page's answer for url and host, or empty text when none came within
// kPacAnswerWaitMs (the script threw, never returned, or answered no text).
// The main context keeps running meanwhile; bridge calls of other views
// wait until the evaluation is over. Fails when the hidden view cannot be
// made.
Result<std::string> evaluatePac(const std::string& pacText, const std::string& url,
                                const std::string& host, const PacPageFacts& facts);

// The facts of this build and machine: the configured resolver and the
// local address toward host.
PacPageFacts pacPageFactsFor(const std::string& host);

}  // namespace vm
