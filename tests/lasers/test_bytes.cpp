#include <gtest/gtest.h>

#include "lasers/laser.h"
#include "protocols/hexdump.h"

namespace nclaser {
namespace {

TEST(BytesToStr, DumpsEachByteAsTwoUpperCaseDigitsAndABlank) {
  const std::uint8_t B[] = {0x01, 0xAB, 0x00, 0xFF};
  EXPECT_EQ(BytesToStr(B, 2), "01 AB ");
  EXPECT_EQ(BytesToStr(B, 4), "01 AB 00 FF ");
  EXPECT_EQ(BytesToStr(B, 0), "");
  EXPECT_EQ(BytesToStr(B, -3), "");
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEven(-0.5), 0);
  EXPECT_EQ(RoundHalfEven(-1.5), -2);
  EXPECT_EQ(RoundHalfEven(554.9999), 555);
  EXPECT_EQ(RoundHalfEven(1e12), 2147483647);
}

} // namespace
} // namespace nclaser
