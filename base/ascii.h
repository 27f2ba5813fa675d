// Names compared as Windows and ZIP packages compare them: without regard to the case of ASCII letters.
#pragma once

#include <string_view>

namespace corvix {

template <class Char>
constexpr Char AsciiLower(Char c) {
  return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

// Whether two names (ProgIDs, program files, NT paths, a package's part names) are the same but for the case of
// their ASCII letters.
template <class Char>
bool SameIgnoringAsciiCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace corvix
