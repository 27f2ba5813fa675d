// The checks of the Windows-side tests: each failed check is printed (CheckEqual's with what was got and what
// was wanted), and the program exits with the number of failures (Finish).
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace corvix::win32::testing {

inline int g_failures = 0;

inline void Fail(const char* what, const std::string& detail = {}) {
  ++g_failures;
  std::printf("FAILED: %s%s\n", what, detail.c_str());
}

// A value as a failed check prints it: numbers (and enumerators) in decimal, strings quoted, lists in braces.
inline std::string Shown(const std::string& text) { return "\"" + text + "\""; }
inline std::string Shown(const char* text) { return Shown(std::string(text)); }
inline std::string Shown(const std::wstring& text) {
  std::string narrow;
  for (const wchar_t c : text) narrow += c < 0x80 ? static_cast<char>(c) : '?';
  return "L" + Shown(narrow);
}
inline std::string Shown(const wchar_t* text) { return Shown(std::wstring(text)); }
inline std::string Shown(std::nullptr_t) { return "null"; }
template <class T>
std::string Shown(const T* pointer) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", static_cast<const void*>(pointer));
  return text;
}
template <class T, std::enable_if_t<std::is_arithmetic_v<T> || std::is_enum_v<T>, int> = 0>
std::string Shown(T value) {
  if constexpr (std::is_same_v<T, bool>) {
    return value ? "true" : "false";
  } else if constexpr (std::is_enum_v<T>) {
    return std::to_string(static_cast<long long>(value));
  } else {
    return std::to_string(value);
  }
}
template <class T>
std::string Shown(const std::optional<T>& value) {
  return value ? Shown(*value) : "none";
}
template <class T>
std::string Shown(const std::vector<T>& values) {
  std::string text = "{";
  for (const auto& value : values) text += (text.size() > 1 ? ", " : "") + Shown(value);
  return text + "}";
}

inline void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

// Whether two values are equal; integers by their values, whatever their types' signedness.
template <class A, class B>
bool Equal(const A& a, const B& b) {
  if constexpr (std::is_integral_v<A> && std::is_integral_v<B> && std::is_signed_v<A> != std::is_signed_v<B>) {
    if constexpr (std::is_signed_v<A>) {
      return a >= 0 && static_cast<std::make_unsigned_t<A>>(a) == b;
    } else {
      return b >= 0 && a == static_cast<std::make_unsigned_t<B>>(b);
    }
  } else {
    return a == b;
  }
}

template <class Got, class Wanted>
void CheckEqual(const Got& got, const Wanted& wanted, const char* what) {
  if (Equal(got, wanted)) return;
  Fail(what, ": got " + Shown(got) + ", wanted " + Shown(wanted));
}

// Prints the outcome; the exit code is the number of failed checks.
inline int Finish() {
  std::printf("%s: %d failed\n", g_failures == 0 ? "PASSED" : "FAILED", g_failures);
  return g_failures;
}

}  // namespace corvix::win32::testing
