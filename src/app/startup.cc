#include "app/startup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>

#include "app/command_line.h"
#include "app/offline_page.h"
#include "app/process_state.h"
#include "diag/log_commands.h"
#include "app/client_window_inputs.h"
#include "base/numbers.h"
#include "platform/clock.h"
#include "build_config.h"
#include "platform/gui.h"
#include "platform/host_platform.h"
#include "platform/paths.h"
#include "platform/single_instance.h"
#include "platform/top_window.h"
#include "settings/migration.h"
#include "update/update_check.h"
#include "update/update_download.h"

namespace vm {

namespace {

void enableLogAtStart(ProcessState& state) {
  enableLogCommand(state.log, *state.dialogs, "[ true ]");
}

// The main window is gone by now, so the update question has no owner.
void shutDown(ProcessState& state) {
  deleteTemporaryFiles(state.tempFiles);
  state.log.close();
  runUpdateStep(state, updateStepCallsOf(state));
}

}  // namespace

std::string makeOAuthState() {
  std::random_device entropy;
  std::mt19937_64 gen(entropy());
  std::uniform_int_distribution<long long> dist(1000000000LL, 2147483647LL);
  long long first = dist(gen);
  long long second = dist(gen);
  return "xsf" + std::to_string(first) + std::to_string(second);
}

void initialiseProcessState(ProcessState& state) {
  state.tempFiles.clear();
  state.quitRequested = false;
  state.versionText = kVersionText;
  state.titleVersion = state.versionText + architectureSuffix();
  state.offlinePage = kOfflinePage;
  state.oauthState = makeOAuthState();
}

void setUpLogging(ProcessState& state, const CommandLine& cmd, const std::string& tempFolder) {
  state.log.setPath(tempFolder + "velomark_log.txt");
  std::string option = cmd.value("l");
  if (!option.empty()) {
    if (option != "1") state.log.setPath(option);
    enableLogAtStart(state);
    state.prefs.writeSetting("debug", "true", kWebAppGroup);
  } else if (state.prefs.readSetting("debug", "", kWebAppGroup) == "true") {
    enableLogAtStart(state);
  }
}

std::string developerModeFrom(const std::function<const char*(const char*)>& getEnv) {
  for (const char* name : {"TS_PLSKEYID", "TS_CLKEYID"}) {
    const char* value = getEnv(name);
    if (value && *value && std::string(value) != "0") return "true";
  }
  return {};
}

void deleteTemporaryFiles(const std::vector<std::string>& paths) {
  for (const auto& path : paths) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    if (::unlink(path.c_str()) != 0) writeLog("ERROR: Failed deletion of [" + path + "]");
  }
}

UpdateStepCalls updateStepCallsOf(ProcessState& state) {
  return {
      [&state](long long checkTime) {
        return checkForUpdate(checkTime,
                              updateCheckContextOfThisHost(state.http, state.versionText));
      },
      [&state](const std::string& url) {
        return downloadAndRunUpdate(url, updateDownloadContextOfThisHost(state.http));
      },
      localSecondsNow,
  };
}

void runUpdateStep(ProcessState& state, const UpdateStepCalls& calls) {
  const std::string stored = state.prefs.readSetting("lastUpdateCheck", "0", kUnnamedGroup);
  const std::string answer = calls.check(leadingInteger(stored).value_or(0));
  if (answer == kUpdateNotDue) return;
  state.prefs.writeSetting("lastUpdateCheck", std::to_string(calls.now()), kUnnamedGroup);
  const std::size_t bar = answer.find('|');
  if (bar == std::string::npos) return;
  const std::string version = answer.substr(0, bar);
  const std::string url = answer.substr(bar + 1);
  if (state.dialogs->askYesNo(catalogueText(state.catalogue, "update", "<version>", version)))
    calls.downloadAndRun(url);
}

int runClient(int argc, char** argv) {
  ProcessState state{Preferences(appDataFolder()), appDataFolder()};
  LogSinkScope logScope(state.log);
  initialiseProcessState(state);

  CommandLine cmd = CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc));
  if (cmd.wantsUsage()) {
    std::fputs(usageText().c_str(), stdout);
    std::fflush(stdout);
    return 0;
  }

  auto instance = SingleInstance::claim(config::kAppId);
  if (instance->isLaterStart()) {
    instance->handOver(argc, argv);
    return 0;
  }
  instance->setReceiver([&state](ForwardedStart start) {
    state.laterStarts.push_back(std::move(start));
    wakeEventLoop();
  });

  if (!initGui(&argc, &argv, config::kAppId)) {
    std::fputs("velomark_client: no display available; run it under a desktop session or "
               "xvfb-run -a\n",
               stderr);
    return 0;
  }
  auto dialogs = makeDialogs();
  state.dialogs = dialogs.get();
  state.prefs.setUnusableHandler([&state](const std::string& file) {
    state.dialogs->showError("Failed to write preferences file to [" + file + "]");
    state.earlyEndRequested = true;
    wakeEventLoop();
  });

  migratePredecessorSettings({state.prefs, *state.dialogs, state.catalogue, appDataFolder()});
  if (state.earlyEndRequested) return 0;
  setUpLogging(state, cmd, tempFolder());
  if (state.earlyEndRequested) return 0;
  state.developerMode = developerModeFrom([](const char* name) { return std::getenv(name); });
  if (state.developerMode == "true")
    writeLog("Detected TS_PLSKEYID and/or TS_CLKEYID. Turn on developerMode for getHostInfo call.");

  MainWindowEnd end = runMainWindow(state, cmd, clientMainWindowInputs(state));
  instance->setReceiver(nullptr);  // no window to hand a later start to any more
  if (end == MainWindowEnd::EarlyEnd) return 0;
  shutDown(state);
  return 0;
}

}  // namespace vm
