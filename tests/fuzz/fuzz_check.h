// The broken invariant of a fuzz target: says which, then stops the run so
// that libFuzzer keeps the input as a finding.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                     \
  do {                                                                            \
    if (!(condition)) {                                                           \
      std::fprintf(stderr, "broken invariant at %s:%d: %s\n", __FILE__, __LINE__, \
                   #condition);                                                   \
      std::abort();                                                               \
    }                                                                             \
  } while (0)
