#include "net/proxy_dialog.h"

#include "base/log.h"
#include "base/regex_match.h"
#include "base/text.h"
#include "i18n/catalogue.h"
#include "net/proxy.h"
#include "platform/dialogs.h"
#include "settings/preferences.h"

namespace vm {

std::string tidyProxyEntry(const std::string& entered) {
  std::string trimmed(trimBlanks(entered));
  std::string tidy;
  for (std::string::size_type i = 0; i < trimmed.size(); ++i) {
    tidy += trimmed[i];
    if (trimmed[i] == ' ' && i + 1 < trimmed.size() && trimmed[i + 1] == ' ') ++i;
  }
  return tidy;
}

std::string proxyEntryProblem(const std::string& entry) {
  if (entry.empty()) return {};
  if (entry.starts_with("pac:")) return matchRegex(entry, kPacEntryPattern) ? "" : "wrongPacUrl";
  return matchRegex(entry, kProxyEntryPattern) ? "" : "wrongProxyUrl";
}

void editProxySetting(ProxyDialogContext& ctx) {
  const std::string stored = ctx.prefs.readSetting(kProxySettingKey, "", kUnnamedGroup);
  std::string entry;
  while (true) {
    entry = tidyProxyEntry(ctx.dialogs.askText(catalogueText(ctx.catalogue, "askProxy"), stored));
    const std::string problem = proxyEntryProblem(entry);
    if (problem.empty()) break;
    ctx.dialogs.showError(catalogueText(ctx.catalogue, problem));
  }
  writeLog("Save proxy to be [" + entry + "]");
  ctx.prefs.writeSetting(kProxySettingKey, entry, kUnnamedGroup);
}

}  // namespace vm
