// The seventeen bridge commands: one row each, in the order the page gets its
// global functions, with the function that makes the command's handler.
#pragma once

#include <array>
#include <functional>
#include <span>
#include <string>

#include "base/bridge_json.h"
#include "platform/webview.h"

namespace vm {

struct ProcessState;
using BridgeHandler = std::function<BridgeAnswer(const std::string& argsJson)>;

// What the handlers work on. state.dialogs must be set; a handler keeps
// references into state and the pointer to the view, never to the context.
struct BridgeContext {
  ProcessState& state;
  WebView* view = nullptr;  // the main web view
  std::function<std::string()> applicationUrl;               // decided again by reload
  std::function<void(const std::string& url)> opener;       // openURL's target
};

using BridgeHandlerMaker = BridgeHandler (*)(const BridgeContext& context);
// A command whose work waits (on the network, on a started program) answers
// later: its handler returns at once and gives the answer when the work,
// run off the main thread, has ended. Until then the view's later calls wait.
using BridgeLaterHandlerMaker = WebView::LaterHandler (*)(const BridgeContext& context);

// Exactly one of the makers is set.
struct BridgeRow {
  const char* name;
  BridgeHandlerMaker makeHandler = nullptr;
  BridgeLaterHandlerMaker makeLaterHandler = nullptr;
};

extern const std::array<BridgeRow, 17> kBridgeTable;

// Binds the rows in their order, each name to the handler its maker makes
// for context.
void bindBridge(WebView& view, std::span<const BridgeRow> rows, const BridgeContext& context);

}  // namespace vm
