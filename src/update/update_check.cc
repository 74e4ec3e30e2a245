#include "update/update_check.h"

#include <climits>

#include "base/log.h"
#include "build_config.h"
#include "net/http_client.h"
#include "platform/clock.h"
#include "platform/host_platform.h"
#include "update/update_manifest.h"

namespace vm {

std::string manifestUrlFor(const std::string& packageHost) {
  return "https://" + packageHost + "/update.json";
}

UpdateCheckContext updateCheckContextOfThisHost(const HttpClient& http,
                                                const std::string& clientVersion) {
  return {http, manifestUrlFor(config::kPackageHost),
          manifestEntryPath(operatingSystem(true), buildBitness()), clientVersion,
          localSecondsNow()};
}

bool updateDue(long long checkTime, long long now) {
  long long elapsed = 0;
  // A stored time near the limits of the type lies far in the past or future.
  if (__builtin_sub_overflow(now, checkTime, &elapsed))
    elapsed = checkTime < 0 ? LLONG_MAX : LLONG_MIN;
  if (checkTime != 0 && elapsed < kUpdateCheckInterval) {
    writeLog("No update check because the time is not due.");
    return false;
  }
  return true;
}

std::string checkForUpdate(long long checkTime, const UpdateCheckContext& context) {
  if (!updateDue(checkTime, context.now)) return kUpdateNotDue;
  // Redirects followed, certificates checked, the body kept in memory; the
  // status is not looked at, so an error page goes on as a body.
  const HttpResult fetched = context.http.get(context.manifestUrl);
  if (!fetched.ok) {
    writeLog("Error: Failed to download [" + context.manifestUrl + "]");
    return {};
  }
  return evaluateManifest(fetched.body, context.manifestUrl, context.entryPath,
                          context.clientVersion);
}

}  // namespace vm
