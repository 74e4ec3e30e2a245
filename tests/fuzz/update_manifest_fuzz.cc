// libFuzzer target for the update manifest: any body a package server sends
// goes through the check's reading of it (trim, UTF-8, JSON, the entry at
// the platform's path, the version rule), and two texts cut from the input
// go through compareVersions. Nothing may crash or trip a sanitizer, and the
// answers keep their invariants.
//
// Seeds: tests/fuzz/corpus/update_manifest/
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "update/update_manifest.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

constexpr const char* kClientVersion = " 5.0.0-140";
constexpr const char* kManifestUrl = "https://packages.velomark.example/update.json";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  const std::string path = vm::manifestEntryPath("linux deb", "64");
  const std::string answer = vm::evaluateManifest(input, kManifestUrl, path, kClientVersion);
  if (!answer.empty()) {
    // version "|" url: the version holds no bar, the url is an https address,
    // and the version is newer than the client's.
    const std::size_t bar = answer.find('|');
    check(bar != std::string::npos && bar > 0);
    const std::string version = answer.substr(0, bar);
    const std::string url = answer.substr(bar + 1);
    check(url.size() > 8);
    check(vm::compareVersions(version, kClientVersion) == 1);
  }

  // The version rule is a consistent order on any two texts.
  const std::size_t cut = input.find('\n');
  const std::string_view a = input.substr(0, cut);
  const std::string_view b =
      cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);
  const int ab = vm::compareVersions(a, b);
  check(ab >= -1 && ab <= 1);
  check(vm::compareVersions(b, a) == -ab);
  check(vm::compareVersions(a, a) == 0);
  return 0;
}
