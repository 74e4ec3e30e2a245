// Reading the authorization result out of the request that the browser sent
// to the loopback listener.
#pragma once

#include <string>
#include <string_view>

namespace vm {

struct RedirectParameters {
  std::string code;             // the last "code" value, decoded; empty when none came
  bool stateConfirmed = false;  // a "state" value equal to the expected one, case and all
  bool errorReported = false;   // an "error" parameter came
};

// Takes the first line that starts with "GET ", its query (after the first
// "?", up to the next space) and the "&"-separated key=value pieces of it.
// Logs the provider's error and description, the code's arrival and every
// other key. Any text is accepted; what is not a redirect yields nothing.
RedirectParameters parseRedirectRequest(std::string_view requestText,
                                        std::string_view expectedState);

}  // namespace vm
