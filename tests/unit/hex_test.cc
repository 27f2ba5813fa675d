#include "base/hex.h"

#include <gtest/gtest.h>

namespace corvix {
namespace {

TEST(Hex, PadsToTheDigitsAsked) {
  const struct {
    std::uint32_t value;
    int digits;
    const wchar_t* text;
  } cases[] = {
      {0x80070057u, 8, L"0x80070057"}, {0x57u, 8, L"0x00000057"}, {0u, 8, L"0x00000000"},
      {0xABCDEFu, 8, L"0x00ABCDEF"},   {0x57u, 0, L"0x57"},       {0u, 0, L"0x0"},
      {0x80020006u, 0, L"0x80020006"}, {0x4008u, 0, L"0x4008"},   {0x57u, 4, L"0x0057"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.text, Hex(c.value, c.digits)) << c.value << " with " << c.digits;
}

TEST(Hex, TakesAFailureCodeAsItsBits) {
  const std::int32_t invalidArgument = static_cast<std::int32_t>(0x80070057);
  EXPECT_EQ(L"0x80070057", Hex(invalidArgument));
}

}  // namespace
}  // namespace corvix
