#include "app/window_commands.h"

#include "app/process_state.h"
#include "base/log.h"
#include "base/text.h"
#include "platform/top_window.h"
#include "platform/webview.h"

namespace vm {

namespace {
// A log line stays one line: control characters of a page's text are
// written as \xNN.
std::string printableForLog(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}
}  // namespace

BridgeAnswer closeAppCommand(ProcessState& state, const std::string&) {
  state.quitRequested = true;
  // The loop may be asleep in the main-context wait; it must see the flag now.
  wakeEventLoop();
  return std::nullopt;
}

BridgeAnswer reloadCommand(WebView& view, const std::function<std::string()>& applicationUrl,
                           const std::string& offlinePage, const std::string&) {
  std::string url = applicationUrl ? applicationUrl() : std::string();
  if (!url.empty())
    view.navigate(url);
  else
    view.setHtml(offlinePage);
  return std::nullopt;
}

bool isOpenableAddress(std::string_view address) {
  for (char c : address) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  for (std::string_view scheme : {"http://", "https://", "mailto:"}) {
    if (address.size() >= scheme.size() &&
        equalsIgnoringAsciiCase(address.substr(0, scheme.size()), scheme))
      return true;
  }
  return false;
}

BridgeAnswer openURLCommand(const std::function<void(const std::string&)>& opener,
                            const std::string& argsJson) {
  auto args = bridgeArgsExactly(argsJson, 1, "ERROR: openURL had wrong parameter count!");
  if (!args) return std::nullopt;
  std::string target = jsonStringOrEmpty((*args)[0]);
  args.reset();
  // The page's text would otherwise reach xdg-open as it is: a local file
  // ("file:///etc/shadow", "/usr/bin/id") or an option ("--help").
  if (!isOpenableAddress(target)) {
    writeLog("ERROR: Refused to open [" + printableForLog(target) + "]");
    return std::nullopt;
  }
  if (opener) opener(target);
  return std::nullopt;
}

}  // namespace vm
