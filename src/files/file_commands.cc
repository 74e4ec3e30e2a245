#include "files/file_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include "base/log.h"
#include "base/base64.h"
#include "files/file_io.h"
#include "platform/dialogs.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace vm {

namespace {
std::string scriptStringLiteral(const std::string& text) {
  return Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
}

// An existing file at path is replaced; a symbolic link is removed, never followed.
bool clearTemporaryPath(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return true;
  return ::unlink(path.c_str()) == 0;
}
}  // namespace

std::string attachFileScript(const std::string& name, const std::string& base64) {
  return "attachFileResolve(" + scriptStringLiteral(name) + ", " + scriptStringLiteral(base64) +
         ");";
}

BridgeAnswer attachFilesCommand(Dialogs& dialogs, const ScriptRunner& runScript,
                                const std::string& argsJson) {
  auto args = bridgeArgsExactly(argsJson, 1, "ERROR: attachFiles had wrong parameter count!");
  if (!args) return std::nullopt;
  auto chosen = dialogs.chooseOpenFiles(settingValueText((*args)[0]),
                                        parseFilterList("All files (*.*)|*.*"));
  for (const auto& path : chosen) {
    std::string name = fileNamePart(path);
    if (fileSize(path) > kAttachLimitBytes) {
      writeLog("Skippinmg file because it is > 20MB [" + name + "]");
      dialogs.showError("You are not allowed to attach files bigger than 20MB!");
      continue;
    }
    std::string data = readFileBase64(path);
    if (data.empty()) {
      writeLog("ERROR: Failed to read/attach file [" + name + "]");
      continue;
    }
    runScript(attachFileScript(name, data));
  }
  return std::nullopt;
}

BridgeAnswer openFileCommand(Dialogs& dialogs, const SystemOpener& open,
                             std::vector<std::string>& tempFiles, const std::string& tempFolder,
                             const std::string& argsJson) {
  auto args = bridgeArgsExactly(argsJson, 2, "ERROR: openB64File had wrong parameter count!");
  if (!args) return std::nullopt;
  std::string name = fileNamePart(settingValueText((*args)[0]));
  std::string data = settingValueText((*args)[1]);
  // "." and ".." would name the temporary folder or its parent, not a file in it.
  if (name.empty() || name == "." || name == ".." || data.empty()) {
    writeLog("ERROR: openB64File had invalid/empty parameters!");
    return std::nullopt;
  }
  std::string bytes = base64DecodeSkippingJunk(data);
  writeLog("openB64File attachment size " + std::to_string(bytes.size()) + " bytes");
  std::string path = tempFolder + name;
  if (!clearTemporaryPath(path)) {
    writeLog("ERROR: Failed to delete existing temporary file [" + path + "]. Cannot save!");
    dialogs.showError("Failed to delete existing temporary file " + path + ". Cannot save!");
    return std::nullopt;
  }
  // Created here and now, so nothing placed under the name in the meantime is written to.
  if (!openPrivateFile(path, PrivateOpen::Exclusive)) return std::nullopt;
  if (!writeWholeFile(path, bytes.data(), bytes.size())) return std::nullopt;
  tempFiles.push_back(path);
  writeLog("openB64File running [" + path + "]");
  open(path);
  return std::nullopt;
}

BridgeAnswer requestDataCommand(std::string& fileToOpen) {
  if (fileToOpen.empty()) return jsonStringAnswer("");
  std::string path = fileToOpen;
  fileToOpen.clear();
  std::string data = readFileBase64(path);
  if (!data.empty()) return jsonStringAnswer(data);
  writeLog("ERROR: Failed to read file [" + path + "]");
  return jsonStringAnswer("");
}

}  // namespace vm
