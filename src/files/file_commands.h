// The bridge commands attachFiles, openFile and requestData.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/bridge_json.h"

namespace vm {

class Dialogs;

inline constexpr long long kAttachLimitBytes = 20971520;

using ScriptRunner = std::function<void(const std::string& script)>;
using SystemOpener = std::function<void(const std::string& target)>;

// Shows the open-file dialog and hands each accepted file to the page's
// attachFileResolve(name, base64).
BridgeAnswer attachFilesCommand(Dialogs& dialogs, const ScriptRunner& runScript,
                                const std::string& argsJson);
// Writes base64 content to the temporary folder and opens it.
BridgeAnswer openFileCommand(Dialogs& dialogs, const SystemOpener& open,
                             std::vector<std::string>& tempFiles, const std::string& tempFolder,
                             const std::string& argsJson);
// Hands the command-line file over once, as a base64 JSON string.
BridgeAnswer requestDataCommand(std::string& fileToOpen);

// The script that delivers one file; both values as JSON string literals so
// no file name can break out of its quotes.
std::string attachFileScript(const std::string& name, const std::string& base64);

}  // namespace vm
