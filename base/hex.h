// Codes as the journals and the debugger channel print them: "0x80070057".
#pragma once

#include <cstdint>
#include <string>

namespace corvix {

// `value` in upper-case hexadecimal after "0x", zero-padded to `digits` digits (0: as many as it takes).
inline std::wstring Hex(std::uint32_t value, int digits = 8) {
  std::wstring text;
  for (int shift = 28; shift >= 0; shift -= 4) {
    const unsigned digit = (value >> shift) & 0xF;
    if (text.empty() && digit == 0 && shift >= 4 * digits && shift > 0) continue;
    text += L"0123456789ABCDEF"[digit];
  }
  return L"0x" + text;
}

}  // namespace corvix
