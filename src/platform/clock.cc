#include "platform/clock.h"

#include <ctime>

namespace vm {

long long localSecondsNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (::localtime_r(&now, &local) == nullptr) return static_cast<long long>(now);
  return static_cast<long long>(now) + local.tm_gmtoff;
}

}  // namespace vm
