// libFuzzer target for the preferences file: whatever another program left
// there parses, and one rewrite is the fixed point of reading and writing;
// a key the client accepts reads back as itself with its value.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/text.h"
#include "fuzz_check.h"
#include "settings/ini_document.h"

namespace {

const char* const kGroups[] = {"", "WebApp", "main"};

bool sameEntries(const vm::IniDocument& a, const vm::IniDocument& b) {
  for (const char* group : kGroups)
    if (a.entries(group) != b.entries(group)) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string key = input.ConsumeRandomLengthString(64);
  const std::string value = input.ConsumeRandomLengthString(256);
  const char* group = kGroups[input.ConsumeIntegralInRange<int>(0, 2)];
  const std::string file = input.ConsumeRemainingBytesAsString();

  vm::IniDocument doc = vm::IniDocument::parse(file);
  const std::string written = doc.serialize();
  const vm::IniDocument again = vm::IniDocument::parse(written);
  FUZZ_CHECK(again.serialize() == written);
  FUZZ_CHECK(sameEntries(doc, again));

  if (!vm::isStorableKey(key)) return 0;
  doc.set(group, key, value);
  const vm::IniDocument changed = vm::IniDocument::parse(doc.serialize());
  const std::string* stored = changed.find(group, key);
  FUZZ_CHECK(stored != nullptr);
  FUZZ_CHECK(*stored == vm::trimBlanks(vm::singleLineValue(value)));
  // The change reaches no other group.
  for (const char* other : kGroups)
    if (std::string(other) != group &&
        !(vm::equalsIgnoringAsciiCase(other, group)))
      FUZZ_CHECK(changed.entries(other) == again.entries(other));
  return 0;
}
