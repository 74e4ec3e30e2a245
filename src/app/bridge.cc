#include "app/bridge.h"

#include "platform/webview.h"

namespace vm {

std::vector<std::string> bridgeRegistrationOrder(const BridgeHandlers& handlers) {
  std::vector<std::string> names;
  for (const char* name : kBridgeCommandNames) {
    auto found = handlers.find(name);
    if (found != handlers.end() && found->second) names.push_back(name);
  }
  return names;
}

void registerBridge(WebView& view, const BridgeHandlers& handlers) {
  for (const std::string& name : bridgeRegistrationOrder(handlers)) view.bind(name, handlers.at(name));
}

}  // namespace vm
