// The local clock as the client stores times.
#pragma once

namespace vm {

// Seconds since 1970-01-01 00:00 counted in local time: time() plus the
// current offset of the local time zone, daylight saving included.
long long localSecondsNow();

}  // namespace vm
