#include "net/pac_evaluation.h"

#include "base/bridge_json.h"
#include "build_config.h"
#include "platform/host_platform.h"
#include "platform/top_window.h"
#include "platform/webview.h"
#include "platform/worker.h"

namespace vm {

PacPageFacts pacPageFactsFor(const std::string& host) {
  // Resolving the host may wait for a name server; the window keeps answering.
  std::string address;
  runOnWorkerAndWait([&address, &host] { address = localAddressToward(host); });
  return {config::kDohHost, std::move(address)};
}

Result<std::string> evaluatePac(const std::string& pacText, const std::string& url,
                                const std::string& host, const PacPageFacts& facts) {
  std::string result;
  const std::string trigger = pacTriggerScript(url, host);
  WebViewOptions options;
  options.developerTools = true;
  // The main view's session: its network process then runs already when
  // the main view starts (and at start-up the page runs in the web process
  // started for the main view).
  options.cacheFolder = webViewCacheFolder();
  options.extraCaFile = config::kExtraCaFile;
  std::unique_ptr<WebView> view = WebView::createHidden(options);
  if (!view) return fail("The hidden PAC window cannot be created");
  WebView::CallHold hold = view->holdCallsOfOtherViews();

  view->bind("pacCallback", [&result](const std::string& argsJson) -> BridgeAnswer {
    // Another number of arguments is ignored; a non-text answer counts as none.
    auto args = parseBridgeArgs(argsJson);
    if (args && args->size() == 1) result = jsonStringOrEmpty((*args)[0]);
    return std::nullopt;
  });
  WebView* page = view.get();
  view->bind("pacTrigger", [page, &trigger](const std::string&) -> BridgeAnswer {
    page->eval(trigger);
    return std::nullopt;
  });
  view->trustHostOf("https://" + facts.dohHost + "/");
  view->setHtml(pacPage(pacText, facts));

  runEventLoopUntil([&result] { return !result.empty(); }, kPacAnswerWaitMs);
  runEventLoopUntil([] { return false; }, kPacSettleMs);

  view->unbind("pacCallback");
  view->unbind("pacTrigger");
  view->finishPage(kPacProcessAnswerWaitMs);
  return result;
}

}  // namespace vm
