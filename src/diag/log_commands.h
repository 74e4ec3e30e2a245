// The bridge commands enableLog, sendLogEntry and sendLog.
#pragma once

#include <string>

#include "base/bridge_json.h"

namespace vm {

class Dialogs;
class LogWriter;

BridgeAnswer enableLogCommand(LogWriter& log, Dialogs& dialogs, const std::string& argsJson);
BridgeAnswer sendLogEntryCommand(LogWriter& log, const std::string& argsJson);
BridgeAnswer sendLogCommand(LogWriter& log, Dialogs& dialogs, const std::string& argsJson);

}  // namespace vm
