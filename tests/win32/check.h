// The checks of the Windows-side tests: each failed check is printed, and the program exits with the number
// of failures (Finish).
#pragma once

#include <cstdio>

namespace corvix::win32::testing {

inline int g_failures = 0;

inline void Check(bool ok, const char* what) {
  if (ok) return;
  ++g_failures;
  std::printf("FAILED: %s\n", what);
}

// Prints the outcome; the exit code is the number of failed checks.
inline int Finish() {
  std::printf("%s: %d failed\n", g_failures == 0 ? "PASSED" : "FAILED", g_failures);
  return g_failures;
}

}  // namespace corvix::win32::testing
