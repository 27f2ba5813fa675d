// The checks of the Windows-side tests: each failed one is printed, and the test exits with their number.
#pragma once

#include <cstdio>

namespace corvix::win32::testing {

inline int g_failures = 0;

inline void Check(bool ok, const char* what) {
  if (ok) return;
  ++g_failures;
  std::printf("FAILED: %s\n", what);
}

// The test's last line and its exit code.
inline int Summary() {
  std::printf("%s: %d failed\n", g_failures == 0 ? "PASSED" : "FAILED", g_failures);
  return g_failures;
}

}  // namespace corvix::win32::testing
