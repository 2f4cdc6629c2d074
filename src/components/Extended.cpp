#include "components/Extended.h"

#include <bit>
#include <cstring>

namespace qv {

namespace {

constexpr std::uint64_t kTopBit = std::uint64_t{1} << 63;
constexpr int kExtendedBias = 16383;
constexpr int kDoubleBias = 1023;

// m / 2^shift rounded to nearest, ties to even.
std::uint64_t RoundShift(std::uint64_t m, int shift) noexcept {
  if (shift <= 0) return m;
  if (shift > 64) return 0;
  if (shift == 64) return m > kTopBit ? 1 : 0;  // exactly half rounds to the even 0
  const std::uint64_t q = m >> shift;
  const std::uint64_t rem = m & ((std::uint64_t{1} << shift) - 1);
  const std::uint64_t half = std::uint64_t{1} << (shift - 1);
  return (rem > half || (rem == half && (q & 1))) ? q + 1 : q;
}

}  // namespace

TExtended80 DoubleToExtended(double value) noexcept {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const std::uint16_t sign = (bits >> 63) ? 0x8000 : 0;
  const int exp = static_cast<int>((bits >> 52) & 0x7FF);
  const std::uint64_t frac = bits & ((std::uint64_t{1} << 52) - 1);
  std::uint64_t mant = 0;
  int e = 0;
  if (exp == 0x7FF) {
    e = 0x7FFF;
    mant = kTopBit | (frac << 11);
  } else if (exp == 0) {
    if (frac != 0) {
      // Subnormal: value = frac * 2^-1074; normalise so that the explicit bit is set.
      const int shift = std::countl_zero(frac);
      mant = frac << shift;
      e = -1074 - shift + 63 + kExtendedBias;
    }
  } else {
    mant = kTopBit | (frac << 11);
    e = exp - kDoubleBias + kExtendedBias;
  }
  TExtended80 out{};
  for (int i = 0; i < 8; ++i)
    out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(mant >> (8 * i));
  const auto word = static_cast<std::uint16_t>(sign | static_cast<std::uint16_t>(e));
  out[8] = static_cast<std::uint8_t>(word & 0xFF);
  out[9] = static_cast<std::uint8_t>(word >> 8);
  return out;
}

double ExtendedToDouble(const TExtended80& bytes) noexcept {
  std::uint64_t mant = 0;
  for (int i = 0; i < 8; ++i)
    mant |= std::uint64_t{bytes[static_cast<std::size_t>(i)]} << (8 * i);
  const unsigned word = bytes[8] | (unsigned{bytes[9]} << 8);
  const std::uint64_t sign = (word & 0x8000) ? kTopBit : 0;
  const int e = static_cast<int>(word & 0x7FFF);
  constexpr std::uint64_t kInf = std::uint64_t{0x7FF} << 52;

  if (e == 0x7FFF) {
    const std::uint64_t frac = mant & ~kTopBit;
    if (frac == 0) return std::bit_cast<double>(sign | kInf);
    // NaN: keep the top payload bits and make it quiet.
    return std::bit_cast<double>(sign | kInf | (std::uint64_t{1} << 51) | (frac >> 11));
  }
  if (mant == 0) return std::bit_cast<double>(sign);

  // value = mant * 2^(e' - bias - 63), where a zero exponent field counts as 1 (denormals).
  // Normalise to mant in [2^63, 2^64) with value = mant / 2^63 * 2^exp2.
  const int shift = std::countl_zero(mant);
  mant <<= shift;
  long exp2 = static_cast<long>(e == 0 ? 1 : e) - kExtendedBias - shift;

  if (exp2 > kDoubleBias) return std::bit_cast<double>(sign | kInf);
  if (exp2 >= 1 - kDoubleBias) {
    std::uint64_t q = RoundShift(mant, 11);  // 53 significant bits
    if (q == (std::uint64_t{1} << 53)) {
      q >>= 1;
      ++exp2;
      if (exp2 > kDoubleBias) return std::bit_cast<double>(sign | kInf);
    }
    const auto biased = static_cast<std::uint64_t>(exp2 + kDoubleBias);
    return std::bit_cast<double>(sign | (biased << 52) | (q & ((std::uint64_t{1} << 52) - 1)));
  }
  // Subnormal result: the significand is value / 2^-1074.
  const long extra = (1 - kDoubleBias) - exp2;  // > 0
  const int s = extra > 64 ? 65 : static_cast<int>(11 + extra);
  const std::uint64_t q = RoundShift(mant, s);
  // q == 2^52 rounds up into the smallest normal number, which the same bit pattern encodes.
  return std::bit_cast<double>(sign | q);
}

}  // namespace qv
