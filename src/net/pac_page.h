// The page that runs a PAC file in the hidden web view: the usual PAC
// function library, the file itself and the glue that hands the answer of
// FindProxyForURL to the native side.
#pragma once

#include <string>

namespace vm {

// Facts the library needs that the page cannot find out itself.
struct PacPageFacts {
  std::string dohHost;       // DNS-over-HTTPS resolver host[:port] of dnsResolve
  std::string localAddress;  // what myIpAddress() answers
};

// The PAC function library, defined before the PAC file.
std::string pacLibrary(const PacPageFacts& facts);

// The whole page: library, the PAC text unchanged, runPAC and the
// DOMContentLoaded listener that calls pacTrigger.
std::string pacPage(const std::string& pacText, const PacPageFacts& facts);

// runPAC("url", "host"); with both values as JSON string literals, so that
// no address can leave its quotes.
std::string pacTriggerScript(const std::string& url, const std::string& host);

}  // namespace vm
