// The 80-bit extended floats of component streams.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "Sample.h"
#include "components/Extended.h"

namespace qv::test {
namespace {

TExtended80 X(std::string_view hex) {
  const std::string b = Hex(hex);
  TExtended80 x{};
  for (std::size_t i = 0; i < 10; ++i)
    x[i] = static_cast<std::uint8_t>(b[i]);
  return x;
}

std::string Bytes(const TExtended80& x) {
  return std::string(x.begin(), x.end());
}

TEST(Extended, DoublesWidenExactlyAndComeBackUnchanged) {
  const double cases[] = {0.0,
                          -0.0,
                          1.0,
                          -1.5,
                          38719.5,
                          0.1,
                          std::numeric_limits<double>::max(),
                          std::numeric_limits<double>::min(),
                          std::numeric_limits<double>::denorm_min(),
                          -3 * std::numeric_limits<double>::denorm_min(),
                          std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity()};
  for (double d : cases) {
    const double back = ExtendedToDouble(DoubleToExtended(d));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(d)) << d;
  }
  EXPECT_TRUE(std::isnan(ExtendedToDouble(DoubleToExtended(std::nan("")))));
}

TEST(Extended, KnownEncodings) {
  EXPECT_EQ(Bytes(DoubleToExtended(38719.5)), Hex("00 00 00 00 00 80 3F 97 0E 40"));
  EXPECT_EQ(Bytes(DoubleToExtended(1.0)), Hex("00 00 00 00 00 00 00 80 FF 3F"));
  EXPECT_EQ(Bytes(DoubleToExtended(-2.0)), Hex("00 00 00 00 00 00 00 80 00 C0"));
  EXPECT_EQ(Bytes(DoubleToExtended(0.0)), Hex("00 00 00 00 00 00 00 00 00 00"));
  EXPECT_EQ(Bytes(DoubleToExtended(std::numeric_limits<double>::infinity())),
            Hex("00 00 00 00 00 00 00 80 FF 7F"));
  // The smallest subnormal double is 2^-1074: exponent 16383 - 1074 = 0x3BCD.
  EXPECT_EQ(Bytes(DoubleToExtended(std::numeric_limits<double>::denorm_min())),
            Hex("00 00 00 00 00 00 00 80 CD 3B"));
}

TEST(Extended, StoredValuesRoundToTheNearestDouble) {
  const struct {
    const char* bytes;
    double value;
  } cases[] = {
      // 1 + 2^-53 exactly half way: ties to the even 1.0.
      {"00 04 00 00 00 00 00 80 FF 3F", 1.0},
      // 1 + 2^-53 + 2^-63: above half way, rounds up.
      {"01 04 00 00 00 00 00 80 FF 3F", 1.0 + 0x1p-52},
      // 1 + 3 * 2^-53: half way between odd and even, rounds up to even.
      {"00 0C 00 00 00 00 00 80 FF 3F", 1.0 + 0x1p-51},
      // All 64 bits set: rounds up into the next power of two.
      {"FF FF FF FF FF FF FF FF FF 3F", 2.0},
      // 2^1024 and beyond: infinity.
      {"00 00 00 00 00 00 00 80 FF 43", std::numeric_limits<double>::infinity()},
      {"00 00 00 00 00 00 00 80 FE C3", -0x1p1023},
      {"00 00 00 00 00 00 00 80 FF C3", -std::numeric_limits<double>::infinity()},
      // The largest double plus half an ulp: the tie goes to the even neighbour, infinity.
      {"00 FC FF FF FF FF FF FF FE 43", std::numeric_limits<double>::infinity()},
      // Far below the double range: zero, keeping the sign.
      {"00 00 00 00 00 00 00 80 01 00", 0.0},
      {"00 00 00 00 00 00 00 80 01 80", -0.0},
      // 2^-1075 is half the smallest subnormal: ties to the even zero; a bit more rounds up.
      {"00 00 00 00 00 00 00 80 CC 3B", 0.0},
      {"01 00 00 00 00 00 00 80 CC 3B", std::numeric_limits<double>::denorm_min()},
      // An unnormal (explicit bit clear) still counts by its significand.
      {"00 00 00 00 00 00 00 40 00 40", 1.0},
  };
  for (const auto& c : cases) {
    const double d = ExtendedToDouble(X(c.bytes));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(d), std::bit_cast<std::uint64_t>(c.value)) << c.bytes;
  }
}

TEST(Extended, NotANumberStaysNotANumber) {
  EXPECT_TRUE(std::isnan(ExtendedToDouble(X("01 00 00 00 00 00 00 80 FF 7F"))));
  EXPECT_TRUE(std::isnan(ExtendedToDouble(X("00 00 00 00 00 00 00 C0 FF FF"))));
  EXPECT_TRUE(std::isinf(ExtendedToDouble(X("00 00 00 00 00 00 00 00 FF 7F"))));
}

}  // namespace
}  // namespace qv::test
