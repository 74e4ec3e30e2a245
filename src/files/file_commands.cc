#include "files/file_commands.h"

#include <string_view>

#include "base/base64.h"
#include "base/log.h"
#include "files/file_io.h"
#include "platform/dialogs.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace vm {

namespace {
std::string scriptStringLiteral(const std::string& text) {
  return Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
}

// fileName is the file part of the page's name. "." and ".." would name the
// temporary folder or its parent, not a file in it; a NUL byte would cut the
// name short on its way to the file system, and a line break has no place in
// a name the page means to open (nor in the log lines that carry it).
bool isUsableName(const std::string& pageName, const std::string& fileName) {
  return !fileName.empty() && fileName != "." && fileName != ".." &&
         pageName.find_first_of(std::string_view("\0\r\n", 3)) == std::string::npos;
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
  const std::string pageName = settingValueText((*args)[0]);
  std::string name = fileNamePart(pageName);
  std::string data = settingValueText((*args)[1]);
  if (!isUsableName(pageName, name) || data.empty()) {
    writeLog("ERROR: openB64File had invalid/empty parameters!");
    return std::nullopt;
  }
  std::string bytes = base64DecodeSkippingJunk(data);
  writeLog("openB64File attachment size " + std::to_string(bytes.size()) + " bytes");
  Result<std::string> created = createTemporaryFile(tempFolder, name);
  if (!created && created.failure().code == kNameBlocked) {
    const std::string path = tempFolder + name;
    writeLog("ERROR: Failed to delete existing temporary file [" + path + "]. Cannot save!");
    dialogs.showError("Failed to delete existing temporary file " + path + ". Cannot save!");
    return std::nullopt;
  }
  if (!created) return std::nullopt;
  const std::string& path = *created;
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
