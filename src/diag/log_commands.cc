#include "diag/log_commands.h"

#include <unistd.h>

#include "diag/log_writer.h"
#include "platform/dialogs.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace vm {

namespace {
void turnOn(LogWriter& log, Dialogs& dialogs) {
  bool openedNow = false;
  if (!log.open(&openedNow)) dialogs.showError("Unable to write logfile to [" + log.path() + "]!");
  if (openedNow) log.write("------------------ Start local logging ------------------");
  log.write("Enabled local debug writing to [" + log.path() + "]");
}

void turnOff(LogWriter& log) {
  log.write("Disabled local debug writing");
  log.close();
}
}  // namespace

BridgeAnswer enableLogCommand(LogWriter& log, Dialogs& dialogs, const std::string& argsJson) {
  auto args = parseBridgeArgs(argsJson);
  if (!args || args->size() != 1) {
    log.write("ERROR: enableLog had wrong parameter count!");
    return std::nullopt;
  }
  if ((*args)[0].is_boolean() && (*args)[0].get<bool>())
    turnOn(log, dialogs);
  else
    turnOff(log);
  return std::nullopt;
}

BridgeAnswer sendLogEntryCommand(LogWriter& log, const std::string& argsJson) {
  auto args = parseBridgeArgs(argsJson);
  if (!args || args->size() != 1) {
    log.write("ERROR: sendLog had wrong parameter count!");
    return std::nullopt;
  }
  log.write("WV-" + jsonStringOrEmpty((*args)[0]));
  return std::nullopt;
}

BridgeAnswer sendLogCommand(LogWriter& log, Dialogs& dialogs, const std::string&) {
  if (fileSize(log.path()) <= 0) {
    dialogs.showError(
        "No logfile available.\r\n\r\nActivate logging, reproduce the problem and then try to send "
        "it.");
    return std::nullopt;
  }
  bool wasOn = log.isOn();
  if (wasOn) {
    log.write("Disable logging in order to send it");
    turnOff(log);
  }
  std::string chosen = dialogs.chooseSaveFile(
      "velomark", "velomark_logfile.txt",
      parseFilterList("Text (*.txt,*.log)|*.txt;*.log|All files (*.*)|*.*"));
  if (!chosen.empty()) {
    if (isRegularFile(chosen)) ::unlink(chosen.c_str());
    if (copyFile(log.path(), chosen, 0644))
      ::unlink(log.path().c_str());
    else
      dialogs.showError("Saving file [" + chosen + "] failed!");
  }
  if (wasOn) {
    turnOn(log, dialogs);
    log.write("Re-enabled logging after saving");
  }
  return std::nullopt;
}

}  // namespace vm
